// GetDIBits and StretchDIBits on 32-bit DIBs: row order both ways, scan-line ranges, sub-rectangles in DIB
// coordinates, the header query, failures that touch nothing. Leaves out other depths, core headers,
// stretching and mirroring, which Windows draws and the layer refuses.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <vector>

#include "gdi_test_util.h"

namespace {

using gditest::Canvas;
using gditest::Paint;
using gditest::Peek;

constexpr uint32_t kSentinel = 0xDEADBEEF;
constexpr int kWidth = 5;  // odd, so that nothing lines up by accident
constexpr int kHeight = 3;

uint32_t Picture(int x, int y) { return 0x400000 + (static_cast<uint32_t>(x) << 12) + (static_cast<uint32_t>(y) << 4); }

BITMAPINFO Header(LONG width, LONG height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

// The picture's rows in the order a DIB of that height stores them.
std::vector<uint32_t> DibOf(int width, int height, uint32_t (*pixel)(int, int), uint32_t topByte = 0) {
    const int rows = height < 0 ? -height : height;
    std::vector<uint32_t> bits;
    for (int line = 0; line < rows; ++line) {
        const int y = height > 0 ? rows - 1 - line : line;
        for (int x = 0; x < width; ++x) bits.push_back(pixel(x, y) | topByte);
    }
    return bits;
}

class Dib : public gditest::HandleLeakCheck {
  protected:
    void SetUp() override {
        HandleLeakCheck::SetUp();
        canvas_ = std::make_unique<Canvas>(kWidth, kHeight);
        std::vector<uint32_t> pixels;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) pixels.push_back(Picture(x, y));
        Paint(canvas_->dc(), kWidth, kHeight, pixels);
    }
    void TearDown() override {
        canvas_.reset();
        HandleLeakCheck::TearDown();
    }
    std::unique_ptr<Canvas> canvas_;  // its bitmap stays selected, as the program reads its masks
};

TEST_F(Dib, GetDIBitsCopiesScanLinesInTheDibsOwnOrder) {
    struct Case {
        LONG height;
        UINT start, lines;
        std::vector<int> rows;  // picture rows expected in the buffer, in order
    };
    const Case cases[] = {
        {kHeight, 0, 3, {2, 1, 0}}, {-kHeight, 0, 3, {0, 1, 2}}, {kHeight, 1, 1, {1}},
        {-kHeight, 1, 9, {1, 2}},   {kHeight, 2, 9, {0}},        {kHeight, 3, 1, {}},
        {kHeight, 0, 0, {}},
    };
    for (const Case& c : cases) {
        std::vector<uint32_t> buffer((kHeight + 1) * kWidth, kSentinel);
        BITMAPINFO info = Header(kWidth, c.height);
        EXPECT_EQ(GetDIBits(canvas_->dc(), canvas_->bitmap(), c.start, c.lines, buffer.data(), &info, DIB_RGB_COLORS),
                  static_cast<int>(c.rows.size()))
            << c.height << " from " << c.start;
        std::vector<uint32_t> want(buffer.size(), kSentinel);
        for (size_t i = 0; i < c.rows.size(); ++i)
            for (int x = 0; x < kWidth; ++x) want[i * kWidth + x] = Picture(x, c.rows[i]);
        EXPECT_EQ(buffer, want) << c.height << " from " << c.start;
    }
}

TEST_F(Dib, NullBitsQueryTheFormat) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    EXPECT_NE(GetDIBits(canvas_->dc(), canvas_->bitmap(), 0, 0, nullptr, &info, DIB_RGB_COLORS), 0);
    EXPECT_EQ(info.bmiHeader.biWidth, kWidth);
    EXPECT_EQ(info.bmiHeader.biHeight, kHeight);
    EXPECT_EQ(info.bmiHeader.biPlanes, 1);
    EXPECT_EQ(info.bmiHeader.biBitCount, 32);
    EXPECT_EQ(info.bmiHeader.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(info.bmiHeader.biSizeImage, static_cast<DWORD>(kWidth * 4 * kHeight));

    // Monochrome rows are padded to whole DWORDs: 17 pixels take 4 bytes.
    Canvas mono(17, 2, true);
    info = BITMAPINFO{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    EXPECT_NE(GetDIBits(mono.dc(), mono.bitmap(), 0, 0, nullptr, &info, DIB_RGB_COLORS), 0);
    EXPECT_EQ(info.bmiHeader.biBitCount, 1);
    EXPECT_EQ(info.bmiHeader.biSizeImage, 8u);

    // With a format asked for, the size of that format's image.
    info = Header(kWidth, -kHeight);
    EXPECT_NE(GetDIBits(canvas_->dc(), canvas_->bitmap(), 0, kHeight, nullptr, &info, DIB_RGB_COLORS), 0);
    EXPECT_EQ(info.bmiHeader.biSizeImage, static_cast<DWORD>(kWidth * 4 * kHeight));
}

// A BITMAPINFO with room for a whole colour table, as GetDIBits writes one for 8 and 1 bits per pixel.
struct FullBitmapInfo {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
};

struct Refusal {
    const char* what;
    HDC dc;
    HBITMAP bitmap;
    void (*spoil)(BITMAPINFOHEADER*);
    UINT usage;
};

void ExpectRefusedWritingNothing(const std::vector<Refusal>& cases) {
    for (const Refusal& c : cases) {
        std::vector<uint32_t> buffer(kHeight * kWidth * 2, kSentinel);
        FullBitmapInfo info{};
        info.header = Header(kWidth, kHeight).bmiHeader;
        c.spoil(&info.header);
        EXPECT_EQ(GetDIBits(c.dc, c.bitmap, 0, kHeight, buffer.data(), reinterpret_cast<BITMAPINFO*>(&info), c.usage),
                  0)
            << c.what;
        EXPECT_EQ(buffer, std::vector<uint32_t>(kHeight * kWidth * 2, kSentinel)) << c.what;
    }
}

void Keep(BITMAPINFOHEADER*) {}

TEST_F(Dib, GetDIBitsFailuresWriteNothing) {
    HDC deadDC = CreateCompatibleDC(nullptr);
    DeleteDC(deadDC);
    HDC dc = canvas_->dc();
    HBITMAP bitmap = canvas_->bitmap();
    ExpectRefusedWritingNothing({
        {"null DC", nullptr, bitmap, Keep, DIB_RGB_COLORS},
        {"deleted DC", deadDC, bitmap, Keep, DIB_RGB_COLORS},
        {"null bitmap", dc, nullptr, Keep, DIB_RGB_COLORS},
        {"DC as bitmap", dc, reinterpret_cast<HBITMAP>(dc), Keep, DIB_RGB_COLORS},
        {"header size 0", dc, bitmap, [](BITMAPINFOHEADER* h) { h->biSize = 0; }, DIB_RGB_COLORS},
        {"unknown usage", dc, bitmap, Keep, 7},
    });
    std::vector<uint32_t> buffer(kHeight * kWidth, kSentinel);
    EXPECT_EQ(GetDIBits(dc, bitmap, 0, kHeight, buffer.data(), nullptr, 0), 0);
}

// Our choice: forms the program never asks for fail cleanly (Windows converts them).
TEST_F(Dib, GetDIBitsRefusesFormsOutsideTheProgramsSubset) {
    HDC dc = canvas_->dc();
    HBITMAP bitmap = canvas_->bitmap();
    ExpectRefusedWritingNothing({
        {"core header", dc, bitmap, [](BITMAPINFOHEADER* h) { h->biSize = 12; }, DIB_RGB_COLORS},
        {"24 bits", dc, bitmap, [](BITMAPINFOHEADER* h) { h->biBitCount = 24; }, DIB_RGB_COLORS},
        {"8 bits", dc, bitmap, [](BITMAPINFOHEADER* h) { h->biBitCount = 8; }, DIB_RGB_COLORS},
        {"1 bit", dc, bitmap, [](BITMAPINFOHEADER* h) { h->biBitCount = 1; }, DIB_RGB_COLORS},
        {"bit fields", dc, bitmap, [](BITMAPINFOHEADER* h) { h->biCompression = 3; }, DIB_RGB_COLORS},
        {"2 planes", dc, bitmap, [](BITMAPINFOHEADER* h) { h->biPlanes = 2; }, DIB_RGB_COLORS},
        {"other width", dc, bitmap, [](BITMAPINFOHEADER* h) { h->biWidth = 4; }, DIB_RGB_COLORS},
        {"other height", dc, bitmap, [](BITMAPINFOHEADER* h) { h->biHeight = 2; }, DIB_RGB_COLORS},
    });
}

// StretchDIBits of the 4 x 3 Picture onto a 6 x 5 sentinel canvas; what lands where.
struct Drawn {
    int result;
    std::vector<uint32_t> pixels;
};
Drawn DrawDib(LONG height, int x, int y, int sx, int sy, int w, int h, int dw = 0, int dh = 0) {
    Canvas dest(6, 5);
    Paint(dest.dc(), 6, 5, std::vector<uint32_t>(30, 0x5EA1ED));
    std::vector<uint32_t> bits = DibOf(4, height, Picture);
    BITMAPINFO info = Header(4, height);
    Drawn drawn;
    drawn.result = StretchDIBits(dest.dc(), x, y, dw ? dw : w, dh ? dh : h, sx, sy, w, h, bits.data(), &info,
                                 DIB_RGB_COLORS, SRCCOPY);
    drawn.pixels = Peek(dest.dc(), 6, 5);
    return drawn;
}

// The same picture rectangle (given top-down, from its top-left corner) copied by hand.
std::vector<uint32_t> Placed(int x, int y, int left, int top, int w, int h) {
    std::vector<uint32_t> want(30, 0x5EA1ED);
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) {
            const int px = left + i, py = top + j, dx = x + i, dy = y + j;
            if (px >= 0 && py >= 0 && px < 4 && py < 3 && dx >= 0 && dy >= 0 && dx < 6 && dy < 5)
                want[dy * 6 + dx] = Picture(px, py);
        }
    return want;
}

TEST_F(Dib, StretchDIBitsDrawsSourceRectanglesInDibCoordinates) {
    struct Case {
        const char* what;
        LONG height;
        int x, y, sx, sy, w, h;
        int top;  // the picture row the rectangle starts at
        int result;
    };
    const Case cases[] = {
        {"whole, bottom-up", 3, 1, 1, 0, 0, 4, 3, 0, 3},
        {"whole, top-down", -3, 1, 1, 0, 0, 4, 3, 0, 3},
        // y counts up from the bottom row in a bottom-up DIB, down from the top row in a top-down one.
        {"first line, bottom-up", 3, 0, 0, 1, 0, 2, 1, 2, 1},
        {"first line, top-down", -3, 0, 0, 1, 0, 2, 1, 0, 1},
        {"corner, bottom-up", 3, 2, 2, 2, 1, 2, 2, 0, 2},
        {"corner, top-down", -3, 2, 2, 2, 1, 2, 2, 1, 2},
        {"partly outside the DIB", -3, 0, 0, -1, -1, 4, 3, -1, 2},
        {"partly outside the canvas", -3, 4, 3, 0, 0, 4, 3, 0, 2},
    };
    for (const Case& c : cases) {
        Drawn drawn = DrawDib(c.height, c.x, c.y, c.sx, c.sy, c.w, c.h);
        EXPECT_EQ(drawn.result, c.result) << c.what;
        EXPECT_EQ(drawn.pixels, Placed(c.x, c.y, c.sx, c.top, c.w, c.h)) << c.what;
    }
}

TEST_F(Dib, StretchDIBitsRefusesMissingPartsAndDrawsNothing) {
    std::vector<uint32_t> bits = DibOf(4, 3, Picture);
    BITMAPINFO good = Header(4, 3);
    BITMAPINFO empty = Header(0, 3);
    EXPECT_EQ(StretchDIBits(canvas_->dc(), 0, 0, 4, 3, 0, 0, 4, 3, bits.data(), &empty, DIB_RGB_COLORS, SRCCOPY), 0);
    EXPECT_EQ(StretchDIBits(canvas_->dc(), 0, 0, 4, 3, 0, 0, 4, 3, nullptr, &good, DIB_RGB_COLORS, SRCCOPY), 0);
    EXPECT_EQ(StretchDIBits(canvas_->dc(), 0, 0, 4, 3, 0, 0, 4, 3, bits.data(), nullptr, DIB_RGB_COLORS, SRCCOPY), 0);
    EXPECT_EQ(StretchDIBits(nullptr, 0, 0, 4, 3, 0, 0, 4, 3, bits.data(), &good, DIB_RGB_COLORS, SRCCOPY), 0);
    std::vector<uint32_t> pixels;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) pixels.push_back(Picture(x, y));
    EXPECT_EQ(Peek(canvas_->dc(), kWidth, kHeight), pixels);
}

// Our choice: stretching, mirroring and 24-bit DIBs, which the program never draws, fail and draw nothing.
TEST_F(Dib, StretchDIBitsRefusesFormsOutsideTheProgramsSubset) {
    const std::vector<uint32_t> untouched(30, 0x5EA1ED);
    EXPECT_EQ(DrawDib(3, 0, 0, 0, 0, 4, 3, 8, 6).result, 0);  // stretched
    EXPECT_EQ(DrawDib(3, 0, 0, 0, 0, 4, 3, 8, 6).pixels, untouched);
    EXPECT_EQ(DrawDib(3, 4, 3, 0, 0, -4, -3).pixels, untouched);  // mirrored
    std::vector<uint32_t> bits = DibOf(4, 3, Picture);
    BITMAPINFO deep = Header(4, 3);
    deep.bmiHeader.biBitCount = 24;
    EXPECT_EQ(StretchDIBits(canvas_->dc(), 0, 0, 4, 3, 0, 0, 4, 3, bits.data(), &deep, DIB_RGB_COLORS, SRCCOPY), 0);
}

TEST_F(Dib, RoundTripsKeepEveryPixelAndReadTheTopByteAsZero) {
    for (LONG height : {kHeight, -kHeight}) {
        // Written from and read into buffers at an odd address: DIB bits need no alignment.
        std::vector<uint32_t> bits = DibOf(kWidth, height, Picture, 0xAB000000);
        std::vector<unsigned char> in(bits.size() * 4 + 1), out(bits.size() * 4 + 1);
        std::memcpy(in.data() + 1, bits.data(), bits.size() * 4);
        BITMAPINFO info = Header(kWidth, height);
        Canvas copy(kWidth, kHeight);
        ASSERT_EQ(StretchDIBits(copy.dc(), 0, 0, kWidth, kHeight, 0, 0, kWidth, kHeight, in.data() + 1, &info,
                                DIB_RGB_COLORS, SRCCOPY),
                  kHeight);
        ASSERT_EQ(GetDIBits(copy.dc(), copy.bitmap(), 0, kHeight, out.data() + 1, &info, DIB_RGB_COLORS), kHeight);
        std::vector<uint32_t> read(bits.size());
        std::memcpy(read.data(), out.data() + 1, read.size() * 4);
        EXPECT_EQ(read, DibOf(kWidth, height, Picture)) << height;
    }
}

}  // namespace
