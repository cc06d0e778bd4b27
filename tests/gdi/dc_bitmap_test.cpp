// Device contexts and bitmaps as handles: bad handles refused by every call, selection and deletion rules,
// GetObjectA records, capabilities, window DCs for USER. Leaves out pixel arithmetic (raster_op_test.cpp).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "gdi_test_util.h"

namespace {

using gditest::Canvas;
using gditest::Peek;
using gditest::ScreenDC;

class DcBitmap : public gditest::HandleLeakCheck {};

BITMAP ObjectOf(HGDIOBJ bitmap) {
    BITMAP record;
    std::memset(&record, 0xCD, sizeof record);
    EXPECT_EQ(GetObjectA(bitmap, sizeof record, &record), static_cast<int>(sizeof record));
    return record;
}

TEST_F(DcBitmap, EveryCallRefusesDeadForeignAndMadeUpHandles) {
    Canvas good(2, 2);
    ScreenDC screen;
    HBITMAP loose = CreateCompatibleBitmap(screen.dc(), 2, 2);
    HDC deadDC = CreateCompatibleDC(nullptr);
    DeleteDC(deadDC);
    HBITMAP deadBitmap = CreateCompatibleBitmap(screen.dc(), 2, 2);
    DeleteObject(deadBitmap);
    const HDC badDCs[] = {nullptr, deadDC, reinterpret_cast<HDC>(good.bitmap()), reinterpret_cast<HDC>(0x12345)};
    const HBITMAP badBitmaps[] = {nullptr, deadBitmap, reinterpret_cast<HBITMAP>(good.dc()),
                                  reinterpret_cast<HBITMAP>(0x12345)};
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 2, 2, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    uint32_t bits[4] = {};

    struct Call {
        const char* name;
        std::function<bool(HDC)> failsWith;
    };
    const Call dcCalls[] = {
        {"DeleteDC", [](HDC dc) { return DeleteDC(dc) == FALSE; }},
        {"CreateCompatibleBitmap", [](HDC dc) { return CreateCompatibleBitmap(dc, 2, 2) == nullptr; }},
        {"SelectObject", [&](HDC dc) { return SelectObject(dc, loose) == nullptr; }},
        {"GetCurrentObject", [](HDC dc) { return GetCurrentObject(dc, OBJ_BITMAP) == nullptr; }},
        {"BitBlt to", [&](HDC dc) { return !BitBlt(dc, 0, 0, 2, 2, good.dc(), 0, 0, SRCCOPY); }},
        {"BitBlt from", [&](HDC dc) { return !BitBlt(good.dc(), 0, 0, 2, 2, dc, 0, 0, SRCCOPY); }},
        {"PatBlt", [](HDC dc) { return !PatBlt(dc, 0, 0, 2, 2, BLACKNESS); }},
        {"GetPixel", [](HDC dc) { return GetPixel(dc, 0, 0) == CLR_INVALID; }},
        {"SetPixel", [](HDC dc) { return SetPixel(dc, 0, 0, 0) == static_cast<COLORREF>(-1); }},
        {"SetTextColor", [](HDC dc) { return SetTextColor(dc, 0) == CLR_INVALID; }},
        {"SetBkColor", [](HDC dc) { return SetBkColor(dc, 0) == CLR_INVALID; }},
        {"GetDIBits", [&](HDC dc) { return GetDIBits(dc, good.bitmap(), 0, 2, bits, &info, DIB_RGB_COLORS) == 0; }},
        {"StretchDIBits",
         [&](HDC dc) { return StretchDIBits(dc, 0, 0, 2, 2, 0, 0, 2, 2, bits, &info, DIB_RGB_COLORS, SRCCOPY) == 0; }},
    };
    for (HDC bad : badDCs) {
        for (const Call& call : dcCalls) {
            SetLastError(0);
            EXPECT_TRUE(call.failsWith(bad)) << call.name << " " << bad;
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << call.name << " " << bad;
        }
        if (bad) {  // null is the screen, and valid
            EXPECT_EQ(CreateCompatibleDC(bad), nullptr) << bad;
        }
    }

    for (HBITMAP bad : badBitmaps) {
        BITMAP record;
        std::memset(&record, 0xCD, sizeof record);
        const BITMAP untouched = record;
        SetLastError(0);
        EXPECT_EQ(SelectObject(good.dc(), bad), nullptr) << bad;
        EXPECT_FALSE(DeleteObject(bad)) << bad;
        EXPECT_EQ(GetObjectA(bad, sizeof record, &record), 0) << bad;
        EXPECT_EQ(std::memcmp(&record, &untouched, sizeof record), 0) << bad;
        EXPECT_EQ(GetDIBits(good.dc(), bad, 0, 2, bits, &info, DIB_RGB_COLORS), 0) << bad;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << bad;
    }
    for (HGDIOBJ bad : {HGDIOBJ{}, HGDIOBJ(deadDC), HGDIOBJ(deadBitmap), HGDIOBJ(0x12345)})
        EXPECT_EQ(GetObjectType(bad), 0u) << bad;

    // Nothing above disturbed the live objects.
    EXPECT_EQ(GetCurrentObject(good.dc(), OBJ_BITMAP), good.bitmap());
    EXPECT_TRUE(DeleteObject(loose));
}

TEST_F(DcBitmap, MemoryDCsStartWithTheSharedStockMonochromeBitmap) {
    HDC first = CreateCompatibleDC(nullptr);
    HDC second = CreateCompatibleDC(first);
    HGDIOBJ stock = GetCurrentObject(first, OBJ_BITMAP);
    ASSERT_NE(stock, nullptr);
    EXPECT_EQ(GetCurrentObject(second, OBJ_BITMAP), stock);
    BITMAP record = ObjectOf(stock);
    EXPECT_EQ(record.bmWidth, 1);
    EXPECT_EQ(record.bmHeight, 1);
    EXPECT_EQ(record.bmBitsPixel, 1);
    EXPECT_EQ(GetPixel(first, 0, 0), RGB(0, 0, 0));

    EXPECT_TRUE(DeleteObject(stock));  // stock objects survive DeleteObject
    EXPECT_EQ(GetObjectType(stock), static_cast<DWORD>(OBJ_BITMAP));
    // An empty compatible bitmap is that same 1x1 monochrome bitmap.
    EXPECT_EQ(CreateCompatibleBitmap(first, 0, 4), stock);
    EXPECT_EQ(CreateCompatibleBitmap(first, 4, 0), stock);
    DeleteDC(second);
    DeleteDC(first);
}

TEST_F(DcBitmap, ABitmapLivesInOneMemoryDCAtATime) {
    ScreenDC screen;
    HBITMAP bitmap = CreateCompatibleBitmap(screen.dc(), 3, 3);
    HDC first = CreateCompatibleDC(nullptr);
    HDC second = CreateCompatibleDC(nullptr);
    HGDIOBJ stock = GetCurrentObject(first, OBJ_BITMAP);

    EXPECT_EQ(SelectObject(first, bitmap), stock);
    EXPECT_EQ(SelectObject(second, bitmap), nullptr);
    EXPECT_EQ(GetCurrentObject(second, OBJ_BITMAP), stock);
    EXPECT_EQ(SelectObject(first, bitmap), bitmap);  // already there: nothing changes
    EXPECT_EQ(SelectObject(screen.dc(), bitmap), nullptr);  // bitmaps go into memory DCs only

    // While selected it cannot be deleted; it still works.
    EXPECT_FALSE(DeleteObject(bitmap));
    EXPECT_EQ(ObjectOf(bitmap).bmWidth, 3);

    EXPECT_EQ(SelectObject(first, stock), bitmap);
    EXPECT_EQ(SelectObject(second, bitmap), stock);
    DeleteDC(second);  // deleting the DC lets go of the bitmap
    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_EQ(GetObjectType(bitmap), 0u);
    DeleteDC(first);
}

TEST_F(DcBitmap, GetObjectDescribesTheBitmap) {
    struct Case {
        int width, height;
        bool mono;
        LONG widthBytes;
    };
    // Device bitmap rows are padded to WORDs.
    for (const Case& c : {Case{5, 3, false, 20}, Case{17, 2, true, 4}, Case{16, 1, true, 2}, Case{1, 1, true, 2}}) {
        Canvas canvas(c.width, c.height, c.mono);
        BITMAP record = ObjectOf(canvas.bitmap());
        EXPECT_EQ(record.bmType, 0);
        EXPECT_EQ(record.bmWidth, c.width);
        EXPECT_EQ(record.bmHeight, c.height);
        EXPECT_EQ(record.bmWidthBytes, c.widthBytes) << c.width;
        EXPECT_EQ(record.bmPlanes, 1);
        EXPECT_EQ(record.bmBitsPixel, c.mono ? 1 : 32);
        EXPECT_EQ(record.bmBits, nullptr);
    }
    Canvas canvas(2, 2);
    EXPECT_EQ(GetObjectA(canvas.bitmap(), 0, nullptr), static_cast<int>(sizeof(BITMAP)));
    unsigned char small[sizeof(BITMAP)];
    std::memset(small, 0xCD, sizeof small);
    EXPECT_EQ(GetObjectA(canvas.bitmap(), sizeof(BITMAP) - 1, small), 0);
    EXPECT_EQ(small[0], 0xCD);
    unsigned char large[sizeof(BITMAP) + 8];
    EXPECT_EQ(GetObjectA(canvas.bitmap(), sizeof large, large), static_cast<int>(sizeof(BITMAP)));
    EXPECT_EQ(GetObjectA(canvas.dc(), sizeof large, large), 0);  // DCs have no object record
}

TEST_F(DcBitmap, CompatibleBitmapsTakeTheFormatOfTheDCAndStartBlack) {
    ScreenDC screen;
    HDC memory = CreateCompatibleDC(screen.dc());
    HBITMAP colour = CreateCompatibleBitmap(screen.dc(), 4, 2);
    HBITMAP mono = CreateCompatibleBitmap(memory, 4, 2);  // the DC holds its 1-bit default bitmap
    EXPECT_EQ(ObjectOf(colour).bmBitsPixel, 32);
    EXPECT_EQ(ObjectOf(mono).bmBitsPixel, 1);
    HGDIOBJ stock = SelectObject(memory, colour);
    HBITMAP followsSelection = CreateCompatibleBitmap(memory, 4, 2);
    EXPECT_EQ(ObjectOf(followsSelection).bmBitsPixel, 32);
    EXPECT_EQ(gditest::ReadBitmap(followsSelection), std::vector<uint32_t>(8, 0));
    EXPECT_EQ(gditest::ReadBitmap(mono), std::vector<uint32_t>(8, 0));

    SetLastError(0);
    EXPECT_EQ(CreateCompatibleBitmap(screen.dc(), -1, 2), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(CreateCompatibleBitmap(screen.dc(), 100000, 100000), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));

    SelectObject(memory, stock);
    DeleteDC(memory);
    for (HBITMAP bitmap : {colour, mono, followsSelection}) EXPECT_TRUE(DeleteObject(bitmap));
}

TEST_F(DcBitmap, TypesAndStockBrush) {
    ScreenDC screen(320, 200);
    Canvas canvas(5, 3);
    EXPECT_EQ(GetObjectType(screen.dc()), static_cast<DWORD>(OBJ_DC));
    EXPECT_EQ(GetObjectType(canvas.dc()), static_cast<DWORD>(OBJ_MEMDC));
    EXPECT_EQ(GetObjectType(canvas.bitmap()), static_cast<DWORD>(OBJ_BITMAP));
    // Every DC starts with the stock white brush, which DeleteObject leaves alone.
    HGDIOBJ white = GetStockObject(WHITE_BRUSH);
    ASSERT_NE(white, nullptr);
    EXPECT_EQ(GetObjectType(white), static_cast<DWORD>(OBJ_BRUSH));
    EXPECT_EQ(GetCurrentObject(canvas.dc(), OBJ_BRUSH), white);
    EXPECT_EQ(GetCurrentObject(screen.dc(), OBJ_BRUSH), white);
    EXPECT_TRUE(DeleteObject(white));
    EXPECT_EQ(GetObjectType(white), static_cast<DWORD>(OBJ_BRUSH));
}

#ifndef _WIN32  // layer only: drives the layer's window-DC hook as USER does
// A window's client surface as USER holds it, counting the change notifications GDI sends.
struct CountedSurface {
    CountedSurface(int width, int height) : surface(std::make_shared<w32::PixelSurface>()) {
        surface->Resize(width, height, 0x123456);
        surface->changed = [this] { ++changes; };
    }
    std::shared_ptr<w32::PixelSurface> surface;
    int changes = 0;
};

TEST_F(DcBitmap, WindowDCsDrawOnTheSharedSurfaceAndReportEachChangeOnce) {
    const HWND window = reinterpret_cast<HWND>(0x777);
    CountedSurface client(4, 3);
    HDC dc = w32::CreateWindowDC(window, client.surface);
    ASSERT_NE(dc, nullptr);
    Canvas source(4, 3);
    uint32_t bits[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 2, 2, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    const RECT fill = {1, 1, 9, 9};

    struct Step {
        const char* what;
        std::function<bool()> call;
        int notifications;
    };
    const Step steps[] = {
        {"BitBlt", [&] { return BitBlt(dc, 0, 0, 4, 3, source.dc(), 0, 0, SRCCOPY) != FALSE; }, 1},
        {"BitBlt without source", [&] { return BitBlt(dc, 0, 0, 4, 3, nullptr, 0, 0, WHITENESS) != FALSE; }, 1},
        {"PatBlt", [&] { return PatBlt(dc, 0, 0, 2, 2, DSTINVERT) != FALSE; }, 1},
        {"SetPixel", [&] { return SetPixel(dc, 1, 1, RGB(9, 9, 9)) == RGB(9, 9, 9); }, 1},
        {"StretchDIBits",
         [&] { return StretchDIBits(dc, 0, 0, 2, 2, 0, 0, 2, 2, bits, &info, DIB_RGB_COLORS, SRCCOPY) == 2; }, 1},
        {"FillDCRect", [&] { return w32::FillDCRect(dc, fill, 0xABCDEF); }, 1},
        {"clipped away", [&] { return BitBlt(dc, 10, 10, 4, 3, nullptr, 0, 0, BLACKNESS) != FALSE; }, 0},
        {"GetPixel", [&] { return GetPixel(dc, 0, 0) != CLR_INVALID; }, 0},
        {"BitBlt out of the window", [&] { return BitBlt(source.dc(), 0, 0, 4, 3, dc, 0, 0, SRCCOPY) != FALSE; }, 0},
    };
    for (const Step& step : steps) {
        const int before = client.changes;
        EXPECT_TRUE(step.call()) << step.what;
        EXPECT_EQ(client.changes - before, step.notifications) << step.what;
    }
    // The fill was clipped to the surface and is what the window shows.
    EXPECT_EQ(client.surface->Row(2)[3], 0xABCDEFu);
    EXPECT_EQ(Peek(dc, 4, 3), Peek(source.dc(), 4, 3));

    // USER resizes the surface with the window; the DC follows.
    client.surface->Resize(6, 2);
    EXPECT_EQ(GetPixel(dc, 5, 1), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(dc, 0, 2), CLR_INVALID);

    // Window DCs are given back with ReleaseDC, by their own window only.
    EXPECT_FALSE(DeleteDC(dc));
    EXPECT_FALSE(w32::ReleaseWindowDC(reinterpret_cast<HWND>(0x778), dc));
    EXPECT_FALSE(w32::ReleaseWindowDC(window, source.dc()));
    EXPECT_TRUE(w32::ReleaseWindowDC(window, dc));
    EXPECT_FALSE(w32::ReleaseWindowDC(window, dc));
    EXPECT_FALSE(w32::FillDCRect(dc, fill, 0));
    EXPECT_EQ(client.surface.use_count(), 1);  // the DC no longer holds the surface
}

#endif

}  // namespace
