// BitBlt and PatBlt: each raster operation pixel by pixel between sentinels, clipping at every edge,
// overlapping copies, monochrome and colour conversion. Leaves out DIBs and window targets (other files).
#include <gtest/gtest.h>
#include <windows.h>

#include <climits>
#include <cstdint>
#include <vector>

#include "gdi_test_util.h"

namespace {

using gditest::Canvas;
using gditest::Paint;
using gditest::Peek;

constexpr uint32_t kSentinel = 0x5EA1ED;

std::vector<uint32_t> Filled(int width, int height, uint32_t pixel) {
    return std::vector<uint32_t>(static_cast<size_t>(width) * height, pixel);
}

// A colour that says where it came from, distinct from black, white and the sentinel.
uint32_t Position(int x, int y) {
    return 0x102030 + (static_cast<uint32_t>(x) << 16) + (static_cast<uint32_t>(y) << 8);
}

struct RopCase {
    const char* name;
    DWORD rop;
    bool readsSource;
    uint32_t (*expected)(uint32_t source, uint32_t dest);
};

// Documented formulas; the pattern is a DC's default brush, the stock white brush.
const RopCase kRops[] = {
    {"SRCCOPY", SRCCOPY, true, [](uint32_t s, uint32_t) { return s; }},
    {"SRCPAINT", SRCPAINT, true, [](uint32_t s, uint32_t d) { return s | d; }},
    {"SRCAND", SRCAND, true, [](uint32_t s, uint32_t d) { return s & d; }},
    {"SRCINVERT", SRCINVERT, true, [](uint32_t s, uint32_t d) { return s ^ d; }},
    {"NOTSRCCOPY", NOTSRCCOPY, true, [](uint32_t s, uint32_t) { return ~s & 0xFFFFFF; }},
    {"DSTINVERT", DSTINVERT, false, [](uint32_t, uint32_t d) { return ~d & 0xFFFFFF; }},
    {"BLACKNESS", BLACKNESS, false, [](uint32_t, uint32_t) { return 0u; }},
    {"WHITENESS", WHITENESS, false, [](uint32_t, uint32_t) { return 0xFFFFFFu; }},
    {"PATCOPY", PATCOPY, false, [](uint32_t, uint32_t) { return 0xFFFFFFu; }},
    {"PATINVERT", PATINVERT, false, [](uint32_t, uint32_t d) { return ~d & 0xFFFFFF; }},
};

class Raster : public gditest::HandleLeakCheck {};

TEST_F(Raster, EachOperationCombinesEverySourceWithEveryDestination) {
    const uint32_t sources[] = {0x000000, 0xFFFFFF, 0x123456, 0xA5C3F0};
    const uint32_t dests[] = {0x000000, 0xFFFFFF, 0x0F0F0F, 0x5A9C3E};
    // Column i of the source holds sources[i]; row j of the destination's inner square holds dests[j].
    Canvas source(4, 4);
    std::vector<uint32_t> sourcePixels;
    for (int y = 0; y < 4; ++y)
        for (uint32_t s : sources) sourcePixels.push_back(s);
    Paint(source.dc(), 4, 4, sourcePixels);

    enum Way { BitBltWithSource, BitBltWithoutSource, PatBltCall };
    for (const RopCase& op : kRops) {
        for (Way way : {BitBltWithSource, BitBltWithoutSource, PatBltCall}) {
            if (op.readsSource && way != BitBltWithSource) continue;
            Canvas dest(6, 6);
            std::vector<uint32_t> before = Filled(6, 6, kSentinel);
            for (int j = 0; j < 4; ++j)
                for (int i = 0; i < 4; ++i) before[(j + 1) * 6 + i + 1] = dests[j];
            Paint(dest.dc(), 6, 6, before);

            BOOL done = way == PatBltCall ? PatBlt(dest.dc(), 1, 1, 4, 4, op.rop)
                                          : BitBlt(dest.dc(), 1, 1, 4, 4,
                                                   way == BitBltWithSource ? source.dc() : nullptr, 0, 0, op.rop);
            ASSERT_TRUE(done) << op.name << " way " << way;
            std::vector<uint32_t> want = before;
            for (int j = 0; j < 4; ++j)
                for (int i = 0; i < 4; ++i) want[(j + 1) * 6 + i + 1] = op.expected(sources[i], dests[j]);
            EXPECT_EQ(Peek(dest.dc(), 6, 6), want) << op.name << " way " << way;
        }
    }
}

TEST_F(Raster, OperationsThatReadASourceNeedOne) {
    Canvas dest(3, 3);
    Paint(dest.dc(), 3, 3, Filled(3, 3, kSentinel));
    for (const RopCase& op : kRops) {
        if (!op.readsSource) continue;
        EXPECT_FALSE(BitBlt(dest.dc(), 0, 0, 3, 3, nullptr, 0, 0, op.rop)) << op.name;
        EXPECT_FALSE(PatBlt(dest.dc(), 0, 0, 3, 3, op.rop)) << op.name;
    }
    EXPECT_EQ(Peek(dest.dc(), 3, 3), Filled(3, 3, kSentinel));
}

// What a copy of the 4 x 3 Position picture must leave on a 6 x 5 sentinel destination: the destination
// rectangle spans [x + w, x) for a negative w (likewise h), and only pixels whose source lies inside the
// source bitmap and whose destination lies inside the destination bitmap change.
std::vector<uint32_t> ExpectedCopy(int64_t x, int64_t y, int64_t w, int64_t h, int64_t sx, int64_t sy) {
    if (w < 0) x += w, sx += w, w = -w;
    if (h < 0) y += h, sy += h, h = -h;
    std::vector<uint32_t> want = Filled(6, 5, kSentinel);
    for (int dy = 0; dy < 5; ++dy) {
        for (int dx = 0; dx < 6; ++dx) {
            if (dx < x || dy < y || dx >= x + w || dy >= y + h) continue;
            const int64_t px = dx - x + sx, py = dy - y + sy;
            if (px >= 0 && py >= 0 && px < 4 && py < 3)
                want[dy * 6 + dx] = Position(static_cast<int>(px), static_cast<int>(py));
        }
    }
    return want;
}

TEST_F(Raster, CopiesAreClippedToBothBitmaps) {
    struct Case {
        const char* what;
        int x, y, w, h, sx, sy;
    };
    const Case cases[] = {
        {"inside", 1, 1, 4, 3, 0, 0},
        {"past the left edge", -2, 1, 4, 3, 0, 0},
        {"past the top edge", 1, -2, 4, 3, 0, 0},
        {"past the right edge", 4, 1, 4, 3, 0, 0},
        {"past the bottom edge", 1, 3, 4, 3, 0, 0},
        {"past every edge", -1, -1, 8, 7, -1, -1},
        {"wholly outside", 7, 6, 4, 3, 0, 0},
        {"source left of the bitmap", 0, 0, 4, 3, -2, 0},
        {"source right of the bitmap", 0, 0, 4, 3, 2, 0},
        {"source above the bitmap", 0, 0, 4, 3, 0, -2},
        {"source below the bitmap", 0, 0, 4, 3, 0, 1},
        {"source wholly outside", 0, 0, 4, 3, 9, 9},
        {"negative width", 5, 1, -4, 3, 4, 0},
        {"negative height", 1, 4, 4, -3, 0, 3},
        {"zero size", 1, 1, 0, 3, 0, 0},
        {"extreme extents", INT_MIN, INT_MIN, INT_MAX, INT_MAX, INT_MIN, INT_MIN},
        {"extreme origin", INT_MAX, INT_MAX, INT_MAX, INT_MAX, 0, 0},
    };
    Canvas source(4, 3);
    std::vector<uint32_t> picture;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) picture.push_back(Position(x, y));
    Paint(source.dc(), 4, 3, picture);
    for (const Case& c : cases) {
        Canvas dest(6, 5);
        Paint(dest.dc(), 6, 5, Filled(6, 5, kSentinel));
        EXPECT_TRUE(BitBlt(dest.dc(), c.x, c.y, c.w, c.h, source.dc(), c.sx, c.sy, SRCCOPY)) << c.what;
        EXPECT_EQ(Peek(dest.dc(), 6, 5), ExpectedCopy(c.x, c.y, c.w, c.h, c.sx, c.sy)) << c.what;
    }
    // Fills clip the same way.
    Canvas dest(6, 5);
    Paint(dest.dc(), 6, 5, Filled(6, 5, kSentinel));
    EXPECT_TRUE(PatBlt(dest.dc(), 4, -1, 10, 3, BLACKNESS));
    std::vector<uint32_t> want = Filled(6, 5, kSentinel);
    for (int y = 0; y < 2; ++y) want[y * 6 + 4] = want[y * 6 + 5] = 0;
    EXPECT_EQ(Peek(dest.dc(), 6, 5), want);
}

TEST_F(Raster, OverlappingCopiesWithinOneBitmapReadTheOriginal) {
    struct Case {
        int x, y, sx, sy;
    };
    for (const Case& c : {Case{1, 1, 0, 0}, Case{0, 0, 1, 1}, Case{1, 0, 0, 0}, Case{0, 1, 0, 0}}) {
        Canvas canvas(5, 5);
        std::vector<uint32_t> original;
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 5; ++x) original.push_back(Position(x, y));
        Paint(canvas.dc(), 5, 5, original);
        ASSERT_TRUE(BitBlt(canvas.dc(), c.x, c.y, 4, 4, canvas.dc(), c.sx, c.sy, SRCCOPY));
        std::vector<uint32_t> want = original;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) want[(c.y + y) * 5 + c.x + x] = original[(c.sy + y) * 5 + c.sx + x];
        EXPECT_EQ(Peek(canvas.dc(), 5, 5), want) << c.x << "," << c.y << " from " << c.sx << "," << c.sy;
    }
}

TEST_F(Raster, MonochromeSourcesTakeTheDestinationsTextAndBackgroundColours) {
    Canvas mono(2, 1, true);
    SetPixel(mono.dc(), 0, 0, RGB(0, 0, 0));
    SetPixel(mono.dc(), 1, 0, RGB(255, 255, 255));
    SetTextColor(mono.dc(), RGB(0, 255, 0));  // the source DC's colours play no part
    SetBkColor(mono.dc(), RGB(0, 255, 0));
    Canvas colour(2, 1);
    ASSERT_TRUE(BitBlt(colour.dc(), 0, 0, 2, 1, mono.dc(), 0, 0, SRCCOPY));
    EXPECT_EQ(Peek(colour.dc(), 2, 1), (std::vector<uint32_t>{0x000000, 0xFFFFFF}));

    EXPECT_EQ(SetTextColor(colour.dc(), RGB(255, 0, 0)), RGB(0, 0, 0));
    EXPECT_EQ(SetBkColor(colour.dc(), RGB(0, 0, 255)), RGB(255, 255, 255));
    ASSERT_TRUE(BitBlt(colour.dc(), 0, 0, 2, 1, mono.dc(), 0, 0, SRCCOPY));
    EXPECT_EQ(Peek(colour.dc(), 2, 1), (std::vector<uint32_t>{0xFF0000, 0x0000FF}));
}

TEST_F(Raster, ColourSourcesBecomeWhiteWhereTheyMatchTheSourceBackground) {
    Canvas colour(3, 1);
    Paint(colour.dc(), 3, 1, {0xFFFFFF, 0xFF0000, 0x000000});
    Canvas mono(3, 1, true);
    ASSERT_TRUE(BitBlt(mono.dc(), 0, 0, 3, 1, colour.dc(), 0, 0, SRCCOPY));
    EXPECT_EQ(Peek(mono.dc(), 3, 1), (std::vector<uint32_t>{0xFFFFFF, 0x000000, 0x000000}));

    SetBkColor(colour.dc(), RGB(255, 0, 0));
    ASSERT_TRUE(BitBlt(mono.dc(), 0, 0, 3, 1, colour.dc(), 0, 0, SRCCOPY));
    EXPECT_EQ(Peek(mono.dc(), 3, 1), (std::vector<uint32_t>{0x000000, 0xFFFFFF, 0x000000}));

    // Raster operations on a monochrome bitmap give black or white only.
    ASSERT_TRUE(BitBlt(mono.dc(), 0, 0, 3, 1, nullptr, 0, 0, DSTINVERT));
    EXPECT_EQ(Peek(mono.dc(), 3, 1), (std::vector<uint32_t>{0xFFFFFF, 0x000000, 0xFFFFFF}));
}

TEST_F(Raster, PixelsOutsideTheBitmapDoNotExist) {
    Canvas canvas(3, 2);
    Paint(canvas.dc(), 3, 2, Filled(3, 2, kSentinel));
    const POINT outside[] = {{-1, 0}, {0, -1}, {3, 0}, {0, 2}, {INT_MIN, INT_MAX}};
    for (POINT p : outside) {
        EXPECT_EQ(GetPixel(canvas.dc(), p.x, p.y), CLR_INVALID);
        EXPECT_EQ(SetPixel(canvas.dc(), p.x, p.y, RGB(1, 2, 3)), static_cast<COLORREF>(-1));
    }
    EXPECT_EQ(Peek(canvas.dc(), 3, 2), Filled(3, 2, kSentinel));
    EXPECT_EQ(SetPixel(canvas.dc(), 2, 1, RGB(1, 2, 3)), RGB(1, 2, 3));
    EXPECT_EQ(GetPixel(canvas.dc(), 2, 1), RGB(1, 2, 3));
}

TEST_F(Raster, MonochromeBitmapsKeepTheNearerOfBlackAndWhite) {
    Canvas mono(1, 1, true);
    const struct {
        COLORREF asked, set;
    } cases[] = {
        {RGB(200, 200, 200), RGB(255, 255, 255)}, {RGB(100, 100, 100), RGB(0, 0, 0)},
        {RGB(255, 0, 0), RGB(0, 0, 0)},           {RGB(255, 255, 0), RGB(255, 255, 255)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SetPixel(mono.dc(), 0, 0, c.asked), c.set) << std::hex << c.asked;
        EXPECT_EQ(GetPixel(mono.dc(), 0, 0), c.set) << std::hex << c.asked;
    }
}

}  // namespace
