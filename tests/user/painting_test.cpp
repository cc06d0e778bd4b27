// Painting: when WM_PAINT comes, what BeginPaint erases (read back from the window's surface pixel by
// pixel), FillRect and the system colours, moving and sizing, and what the headless display shows.
#include <gmock/gmock.h>

#ifndef _WIN32
#include "testing/headless_display.h"
#endif
#include "test_window.h"
#include "user_test_fixture.h"

using ::testing::ElementsAre;
using namespace usertest;

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kBlack = 0x000000;

bool Inside(const RECT& rect, int x, int y) {
    return x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
}

bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

class PaintingTest : public UserTest {
protected:
    // Answers WM_PAINT with BeginPaint/EndPaint and keeps each PAINTSTRUCT.
    void RecordPaints() {
        SetHook([this](HWND window, UINT message, WPARAM, LPARAM, LRESULT* result) {
            if (message != WM_PAINT) return false;
            PAINTSTRUCT paint;
            EXPECT_NE(BeginPaint(window, &paint), nullptr);
            paints.push_back(paint);
            EXPECT_TRUE(EndPaint(window, &paint));
            *result = 0;
            return true;
        });
    }

    // A shown, painted, then blackened window: every later white pixel was erased by a paint.
    HWND BlackWindow(const char* className, int width, int height) {
        HWND window = Make("w", WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr, nullptr, className);
        DispatchUntilIdle();
        HDC dc = GetDC(window);
        PatBlt(dc, 0, 0, width, height, BLACKNESS);
        ReleaseDC(window, dc);
        paints.clear();
        ClearLog();
        return window;
    }

    std::vector<PAINTSTRUCT> paints;
};

TEST_F(PaintingTest, WmPaintComesForVisibleWindowsAfterPostedMessagesUntilValidated) {
    HWND window = Make("w", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));  // hidden windows are not painted
    ShowWindow(window, SW_SHOW);
    PostMessageA(window, WM_USER, 0, 0);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_PAINT));
    EXPECT_EQ(msg.hwnd, window);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));  // PM_REMOVE leaves WM_PAINT in place
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_PAINT));
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE));
    ClearLog();
    DispatchMessageA(&msg);
    EXPECT_THAT(Names(window), ElementsAre("WM_PAINT", "WM_ERASEBKGND"));
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));

    InvalidateRect(window, nullptr, FALSE);
    ClearLog();
    EXPECT_EQ(DispatchUntilIdle(), 1);
    EXPECT_THAT(Names(window), ElementsAre("WM_PAINT"));  // nothing to erase
}

TEST_F(PaintingTest, BeginPaintErasesTheUpdateRegionWithTheClassBrush) {
    HWND window = BlackWindow(kClassName, 40, 30);
    RecordPaints();
    RECT first = {5, 5, 15, 10}, second = {20, 12, 25, 20};
    InvalidateRect(window, &first, TRUE);
    InvalidateRect(window, &second, FALSE);  // erased too: erasing asked for any part erases the region
    EXPECT_EQ(DispatchUntilIdle(), 1);
    ASSERT_EQ(paints.size(), 1u);
    const RECT bounds = {5, 5, 25, 20};  // rcPaint bounds the region
    EXPECT_TRUE(SameRect(paints[0].rcPaint, bounds));
    EXPECT_FALSE(paints[0].fErase);  // DefWindowProcA erased it
    EXPECT_THAT(Names(window), ElementsAre("WM_PAINT", "WM_ERASEBKGND"));

    int width, height;
    std::vector<uint32_t> pixels = testwin::ReadClient(window, &width, &height);
    ASSERT_EQ(width * height, 40 * 30);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            ASSERT_EQ(pixels[y * width + x], Inside(first, x, y) || Inside(second, x, y) ? kWhite : kBlack)
                << x << "," << y;
}

TEST_F(PaintingTest, WithoutABrushTheBackgroundIsLeftToTheProgram) {
    RegisterRecordingClass("PelomiNoBrush", 0, nullptr, nullptr);
    HWND window = BlackWindow("PelomiNoBrush", 20, 10);
    RecordPaints();
    InvalidateRect(window, nullptr, TRUE);
    DispatchUntilIdle();
    ASSERT_EQ(paints.size(), 1u);
    EXPECT_TRUE(paints[0].fErase);
    for (uint32_t pixel : testwin::ReadClient(window)) ASSERT_EQ(pixel, kBlack);
}

TEST_F(PaintingTest, FillRectPaintsSystemColoursWithoutTheRightAndBottomEdges) {
    LAYER_CHOICE(EXPECT_EQ(GetSysColor(COLOR_WINDOW), RGB(255, 255, 255)));  // our choice of scheme: Windows 10's
    LAYER_CHOICE(EXPECT_EQ(GetSysColor(COLOR_BTNFACE), RGB(240, 240, 240)));
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    EXPECT_EQ(GetSysColor(-1), 0u);
    HWND window = BlackWindow(kClassName, 10, 8);
    HDC dc = GetDC(window);
    RECT rect = {2, 3, 6, 5};
    EXPECT_NE(FillRect(dc, &rect, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1)), 0);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 10; ++x)
            ASSERT_EQ(GetPixel(dc, x, y), Inside(rect, x, y) ? face : RGB(0, 0, 0)) << x << "," << y;
    // Our choice: a brush or DC that is none fails.
    SetLastError(0);
    LAYER_CHOICE(EXPECT_EQ(FillRect(dc, &rect, reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(1000))), 0));
    LAYER_CHOICE(EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)));
    LAYER_CHOICE(EXPECT_EQ(FillRect(nullptr, &rect, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1)), 0));
    EXPECT_EQ(ReleaseDC(window, dc), 1);
    EXPECT_EQ(ReleaseDC(window, dc), 0);

    HDC screen = GetDC(nullptr);  // the screen's DC
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(GetObjectType(screen), static_cast<DWORD>(OBJ_DC));
    EXPECT_NE(FillRect(screen, &rect, reinterpret_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))), 0);
    EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
}

TEST_F(PaintingTest, ResizingWithRedrawStylesRepaintsEverything) {
    HWND window = BlackWindow(kClassName, 100, 80);
    RecordPaints();
    ASSERT_TRUE(MoveWindow(window, 10, 20, 150, 90, TRUE));
    EXPECT_THAT(Names(window),
                ElementsAre("WM_WINDOWPOSCHANGING", "WM_NCCALCSIZE", "WM_WINDOWPOSCHANGED", "WM_MOVE", "WM_SIZE"));
    EXPECT_EQ(Messages(window, WM_SIZE)[0].lParam, MAKELPARAM(150, 90));
    EXPECT_EQ(Messages(window, WM_MOVE)[0].lParam, MAKELPARAM(10, 20));
    DispatchUntilIdle();
    ASSERT_EQ(paints.size(), 1u);
    const RECT all = {0, 0, 150, 90};
    EXPECT_TRUE(SameRect(paints[0].rcPaint, all));
    for (uint32_t pixel : testwin::ReadClient(window)) ASSERT_EQ(pixel, kWhite);

    // A pure move keeps the size: no WM_NCCALCSIZE, no WM_SIZE, nothing to paint.
    ClearLog();
    paints.clear();
    ASSERT_TRUE(MoveWindow(window, 30, 40, 150, 90, TRUE));
    EXPECT_THAT(Names(window), ElementsAre("WM_WINDOWPOSCHANGING", "WM_WINDOWPOSCHANGED", "WM_MOVE"));
    DispatchUntilIdle();
    EXPECT_TRUE(paints.empty());
}

TEST_F(PaintingTest, ResizingWithoutRedrawStylesKeepsPixelsAndPaintsOnlyTheNewPart) {
    RegisterRecordingClass("PelomiNoRedraw", 0, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), nullptr);
    HWND window = BlackWindow("PelomiNoRedraw", 100, 80);
    RecordPaints();
    ASSERT_TRUE(MoveWindow(window, 0, 0, 130, 80, TRUE));
    DispatchUntilIdle();
    ASSERT_EQ(paints.size(), 1u);
    const RECT strip = {100, 0, 130, 80};
    EXPECT_TRUE(SameRect(paints[0].rcPaint, strip));
    int width;
    std::vector<uint32_t> pixels = testwin::ReadClient(window, &width);
    ASSERT_EQ(width, 130);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < width; ++x) ASSERT_EQ(pixels[y * width + x], Inside(strip, x, y) ? kWhite : kBlack);

    paints.clear();
    ASSERT_TRUE(MoveWindow(window, 0, 0, 60, 50, TRUE));   // shrinking uncovers nothing
    ASSERT_TRUE(MoveWindow(window, 0, 0, 60, 70, FALSE));  // no repaint asked
    DispatchUntilIdle();
    EXPECT_TRUE(paints.empty());
}

TEST_F(PaintingTest, UpdateWindowPaintsBeforeItReturnsOnlyWhenSomethingIsInvalid) {
    HWND window = Make("w", WS_POPUP | WS_VISIBLE, 0, 0, 30, 30);
    Make("child", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, window);
    ClearLog();
    EXPECT_TRUE(UpdateWindow(window));
    EXPECT_THAT(Trace({WM_PAINT}), ElementsAre("w WM_PAINT", "child WM_PAINT"));
    ClearLog();
    EXPECT_TRUE(UpdateWindow(window));
    EXPECT_TRUE(Trace().empty());
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

#ifndef _WIN32  // layer only: reads the headless display
TEST_F(PaintingTest, TheHeadlessDisplayShowsWhatTheWindowIsAndWhatGdiDrew) {
    RegisterRecordingClass("PelomiShown", CS_HREDRAW | CS_VREDRAW, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1),
                           MAKEINTRESOURCEA(kTestMenu));
    HWND window = Make("Pelomi2", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, 232, 255, nullptr, nullptr, "PelomiShown");
    w32::HeadlessWindowView view;
    ASSERT_TRUE(w32::GetHeadlessWindowView(window, &view));
    EXPECT_FALSE(view.visible);
    EXPECT_EQ(view.text, "Pelomi2");
    EXPECT_EQ(view.className, "PelomiShown");
    EXPECT_EQ(view.menu, GetMenu(window));
    EXPECT_EQ(view.clientRect.left, 26 + 8);
    EXPECT_EQ(view.clientRect.top, 26 + 8 + 23 + 20);

    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    HDC dc = GetDC(window);
    SetPixel(dc, 3, 4, RGB(255, 0, 0));
    ReleaseDC(window, dc);
    ASSERT_TRUE(w32::GetHeadlessWindowView(window, &view));
    EXPECT_TRUE(view.visible);
    ASSERT_EQ(view.shownWidth, 216);
    ASSERT_EQ(view.shownHeight, 196);
    EXPECT_EQ(view.shownPixels[4 * 216 + 3], 0xFF0000u);  // shown at once, 0x00RRGGBB
    EXPECT_EQ(view.shownPixels[0], kWhite);               // the erased background

    SetWindowTextA(window, "renamed");
    EnableWindow(window, FALSE);
    MoveWindow(window, 100, 50, 300, 300, TRUE);
    ASSERT_TRUE(w32::GetHeadlessWindowView(window, &view));
    EXPECT_EQ(view.text, "renamed");
    EXPECT_FALSE(view.enabled);
    EXPECT_EQ(view.windowRect.left, 100);
    EXPECT_EQ(view.shownWidth, 284);
    DestroyWindow(window);
    EXPECT_FALSE(w32::GetHeadlessWindowView(window, &view));
}

#endif

}  // namespace
