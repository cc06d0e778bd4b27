// The picture bank on real BMP files and real surfaces: slots, cell addressing, canvas blanking, colour keys,
// and everything released again on detach.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bmp_file.h"
#include "picture_bank.h"
#include "test_window.h"

namespace {

const int CANVAS_WIDTH = 216;
const int CANVAS_HEIGHT = 196;
const uint32_t BLACK = 0x000000;
const uint32_t WHITE = 0xFFFFFF;
const uint32_t RED = 0xFF0000;   // as a DIB pixel
const uint32_t BLUE = 0x0000FF;  // as a DIB pixel

class PictureBankTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = testbmp::TempDir();
        window = testwin::CreateClientWindow(CANVAS_WIDTH, CANVAS_HEIGHT);
        ASSERT_NE(window, nullptr);
        handlesBefore = testwin::LiveHandleCount();
        ASSERT_TRUE(bank.Attach(GetModuleHandleA(nullptr), window));
    }
    void TearDown() override {
        if (attached) bank.Detach();
        DestroyWindow(window);
    }
    std::string Sheet(const char* name, int width, int height) {
        return testbmp::WritePositionSheet(dir + "/" + name, width, height);
    }
    // Paints the whole canvas white so that any stray write, black included, shows.
    void FillCanvasWithSentinel() {
        BitBlt(bank.Canvas(), 0, 0, CANVAS_WIDTH, CANVAS_HEIGHT, nullptr, 0, 0, WHITENESS);
    }
    std::vector<uint32_t> Canvas() { return testwin::ReadDC(bank.Canvas(), CANVAS_WIDTH, CANVAS_HEIGHT); }
    static uint32_t At(const std::vector<uint32_t>& pixels, int x, int y) { return pixels[y * CANVAS_WIDTH + x]; }
    static bool AllEqual(const std::vector<uint32_t>& pixels, uint32_t value) {
        for (uint32_t p : pixels)
            if (p != value) return false;
        return true;
    }

    PictureBank bank;
    bool attached = true;
    std::string dir;
    HWND window = nullptr;
    size_t handlesBefore = 0;
};

TEST_F(PictureBankTest, FreshBankHasOnlyEmptySlots) {
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        int32_t size[2] = {-1, -1};
        bank.GetSize(slot, size);
        EXPECT_EQ(size[0], 0);
        EXPECT_EQ(size[1], 0);
        EXPECT_FALSE(bank.DrawCell(slot, 0, 0, 10, 10, 0));
    }
}

TEST_F(PictureBankTest, SlotNumbersOutsideTheBankTouchNothing) {
    std::string sheet = Sheet("a.bmp", 50, 10);
    ASSERT_TRUE(bank.Load(0, sheet.c_str(), false, 0));
    FillCanvasWithSentinel();
    const int slots[] = {-1, 8, 1000, INT32_MIN};
    for (int slot : slots) {
        EXPECT_FALSE(bank.Load(slot, sheet.c_str(), false, 0)) << slot;
        EXPECT_FALSE(bank.DrawCell(slot, 0, 0, 10, 10, 0)) << slot;
        int32_t size[2] = {-1, -1};
        bank.GetSize(slot, size);
        EXPECT_EQ(size[0], 0);
        EXPECT_EQ(size[1], 0);
        bank.Forget(slot);
    }
    EXPECT_TRUE(AllEqual(Canvas(), WHITE));
    int32_t size[2];
    bank.GetSize(0, size);
    EXPECT_EQ(size[0], 50);
}

TEST_F(PictureBankTest, FrameNumbersCountCellsRowByRow) {
    ASSERT_TRUE(bank.Load(0, Sheet("s.bmp", 800, 480).c_str(), false, 0));
    struct Case {
        int frame, sourceX, sourceY;
    };
    const Case cases[] = {{0, 0, 0}, {4, 640, 0}, {5, 0, 160}, {7, 320, 160}, {14, 640, 320}};
    for (const Case& c : cases) {
        FillCanvasWithSentinel();
        ASSERT_TRUE(bank.DrawCell(0, 20, 30, 160, 160, c.frame));
        std::vector<uint32_t> canvas = Canvas();
        for (int y = 0; y < CANVAS_HEIGHT; ++y) {
            for (int x = 0; x < CANVAS_WIDTH; ++x) {
                bool inCell = x >= 20 && x < 180 && y >= 30 && y < 190;
                uint32_t expected = inCell ? testbmp::PositionColour(c.sourceX + x - 20, c.sourceY + y - 30) : WHITE;
                ASSERT_EQ(At(canvas, x, y), expected) << "frame " << c.frame << " at " << x << "," << y;
            }
        }
    }
}

TEST_F(PictureBankTest, CellGeometryWithoutColumnsDrawsNothing) {
    ASSERT_TRUE(bank.Load(0, Sheet("s.bmp", 30, 30).c_str(), false, 0));
    FillCanvasWithSentinel();
    struct Case {
        int width, height;
    };
    const Case cases[] = {{0, 10}, {10, 0}, {-5, 10}, {10, -5}, {31, 10}, {INT32_MIN, 10}};
    for (const Case& c : cases)
        EXPECT_FALSE(bank.DrawCell(0, 0, 0, c.width, c.height, 3)) << c.width << " x " << c.height;
    EXPECT_TRUE(AllEqual(Canvas(), WHITE));
}

TEST_F(PictureBankTest, CellOutsideThePictureIsBlackNotLeftOver) {
    ASSERT_TRUE(bank.Load(0, Sheet("s.bmp", 100, 50).c_str(), false, 0));  // two rows of 20, second cut at 10
    struct Case {
        int frame;
        int visibleRows;  // rows of the cell that lie inside the picture
    };
    const Case cases[] = {{7, 20}, {12, 10}, {15, 0}, {1000000, 0}, {INT32_MAX, 0}};
    for (const Case& c : cases) {
        FillCanvasWithSentinel();
        EXPECT_TRUE(bank.DrawCell(0, 5, 5, 20, 20, c.frame));
        std::vector<uint32_t> canvas = Canvas();
        int sourceX = (c.frame % 5) * 20;
        int64_t sourceY = (c.frame / 5) * int64_t{20};
        for (int y = 0; y < 30; ++y) {
            for (int x = 0; x < 30; ++x) {
                bool inCell = x >= 5 && x < 25 && y >= 5 && y < 25;
                uint32_t expected = !inCell                 ? WHITE
                                    : y - 5 < c.visibleRows ? testbmp::PositionColour(sourceX + x - 5, static_cast<int>(sourceY) + y - 5)
                                                            : BLACK;
                ASSERT_EQ(At(canvas, x, y), expected) << "frame " << c.frame << " at " << x << "," << y;
            }
        }
    }
}

TEST_F(PictureBankTest, OnlyReloadingAnOccupiedSlotBlanksTheCanvas) {
    std::string sheet = Sheet("s.bmp", 40, 40);
    FillCanvasWithSentinel();
    ASSERT_TRUE(bank.Load(0, sheet.c_str(), false, 0));
    EXPECT_TRUE(AllEqual(Canvas(), WHITE)) << "first load of an empty slot";
    ASSERT_TRUE(bank.Load(3, sheet.c_str(), false, 0));
    EXPECT_TRUE(AllEqual(Canvas(), WHITE)) << "first load of another slot";
    ASSERT_TRUE(bank.Load(0, sheet.c_str(), false, 0));
    EXPECT_TRUE(AllEqual(Canvas(), BLACK)) << "reload";

    FillCanvasWithSentinel();
    EXPECT_FALSE(bank.Load(0, (dir + "/missing.bmp").c_str(), false, 0));
    EXPECT_TRUE(AllEqual(Canvas(), BLACK)) << "failed reload still released the old picture";
    int32_t size[2];
    bank.GetSize(0, size);
    EXPECT_EQ(size[0], 0);
    FillCanvasWithSentinel();
    ASSERT_TRUE(bank.Load(0, sheet.c_str(), false, 0));
    EXPECT_TRUE(AllEqual(Canvas(), WHITE)) << "load after a failed load";
}

TEST_F(PictureBankTest, ForgottenSlotIsNotDrawnButStillReleasedByTheNextLoad) {
    std::string sheet = Sheet("s.bmp", 40, 40);
    ASSERT_TRUE(bank.Load(0, sheet.c_str(), false, 0));
    size_t loaded = testwin::LiveHandleCount();
    bank.Forget(0);
    bank.Forget(0);
    EXPECT_EQ(testwin::LiveHandleCount(), loaded - 1) << "only the image DC goes";
    int32_t size[2] = {-1, -1};
    bank.GetSize(0, size);
    EXPECT_EQ(size[0], 0);
    EXPECT_EQ(size[1], 0);
    FillCanvasWithSentinel();
    EXPECT_FALSE(bank.DrawCell(0, 0, 0, 8, 8, 0));
    EXPECT_TRUE(AllEqual(Canvas(), WHITE));
    ASSERT_TRUE(bank.Load(0, sheet.c_str(), false, 0));
    EXPECT_TRUE(AllEqual(Canvas(), BLACK));
    EXPECT_EQ(testwin::LiveHandleCount(), loaded);
}

TEST_F(PictureBankTest, KeyColourShowsTheCanvasThrough) {
    // Left half red, right half blue with a red dot: red is the key, given as a COLORREF.
    std::string path = testbmp::Write24(dir + "/k.bmp", 20, 10, [](int x, int y) {
        return x < 10 || (x == 15 && y == 5) ? RED : BLUE;
    });
    ASSERT_TRUE(bank.Load(0, path.c_str(), true, RGB(255, 0, 0)));
    BitBlt(bank.Canvas(), 0, 0, CANVAS_WIDTH, CANVAS_HEIGHT, nullptr, 0, 0, BLACKNESS);
    BitBlt(bank.Canvas(), 0, 0, 10, 10, nullptr, 0, 0, WHITENESS);  // white under the left quarter
    EXPECT_TRUE(bank.DrawCell(0, 0, 0, 20, 10, 0));
    std::vector<uint32_t> canvas = Canvas();
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 20; ++x) {
            bool transparent = x < 10 || (x == 15 && y == 5);
            uint32_t background = x < 10 ? WHITE : BLACK;
            ASSERT_EQ(At(canvas, x, y), transparent ? background : BLUE) << x << "," << y;
        }
    }
}

TEST_F(PictureBankTest, AbsentKeyColourDrawsOpaquely) {
    std::string path = testbmp::Write24(dir + "/k.bmp", 20, 10, [](int x, int) { return x < 10 ? RED : BLUE; });
    // COLORREF 0x00FF0000 is blue; a DIB pixel 0x00FF0000 is red: the key must not match the red half.
    ASSERT_TRUE(bank.Load(0, path.c_str(), true, 0x00FF0000));
    FillCanvasWithSentinel();
    EXPECT_TRUE(bank.DrawCell(0, 0, 0, 20, 10, 0));
    std::vector<uint32_t> canvas = Canvas();
    EXPECT_EQ(At(canvas, 3, 3), RED);
    EXPECT_EQ(At(canvas, 13, 3), WHITE) << "blue is the key here";

    ASSERT_TRUE(bank.Load(0, path.c_str(), true, RGB(0, 255, 0)));
    FillCanvasWithSentinel();
    EXPECT_TRUE(bank.DrawCell(0, 0, 0, 20, 10, 0));
    canvas = Canvas();
    EXPECT_EQ(At(canvas, 3, 3), RED);
    EXPECT_EQ(At(canvas, 13, 3), BLUE);
}

TEST_F(PictureBankTest, SwapRedBlueTurnsAColourrefIntoADibPixel) {
    EXPECT_EQ(PictureBank::SwapRedBlue(0x000000FF), 0x00FF0000u);
    EXPECT_EQ(PictureBank::SwapRedBlue(0x00123456), 0x00563412u);
    EXPECT_EQ(PictureBank::SwapRedBlue(0xFF00FF00), 0x0000FF00u);  // the top byte is dropped
}

TEST_F(PictureBankTest, FilesTheLoaderCannotReadLeaveTheSlotEmpty) {
    const unsigned char png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13};
    std::string fake = dir + "/fake.bmp";
    std::ofstream(fake, std::ios::binary).write(reinterpret_cast<const char*>(png), sizeof(png));
    const std::string paths[] = {dir + "/missing.bmp", fake, dir, ""};
    for (const std::string& path : paths) {
        EXPECT_FALSE(bank.Load(1, path.c_str(), false, 0)) << path;
        int32_t size[2] = {-1, -1};
        bank.GetSize(1, size);
        EXPECT_EQ(size[0], 0);
    }
}

void* NoMemory(size_t) { return nullptr; }

TEST_F(PictureBankTest, FailedMaskBufferLeavesTheSlotEmptyAndLeaksNothing) {
    std::string path = Sheet("s.bmp", 40, 40);
    size_t attachedHandles = testwin::LiveHandleCount();
    allocateWorkBuffer = NoMemory;
    bool loaded = bank.Load(2, path.c_str(), true, 0);
    allocateWorkBuffer = malloc;
    EXPECT_FALSE(loaded);
    int32_t size[2] = {-1, -1};
    bank.GetSize(2, size);
    EXPECT_EQ(size[0], 0);
    EXPECT_FALSE(bank.DrawCell(2, 0, 0, 8, 8, 0));
    EXPECT_EQ(testwin::LiveHandleCount(), attachedHandles);
}

TEST_F(PictureBankTest, DetachReleasesEverySlotCanvasAndDC) {
    std::string sheet = Sheet("s.bmp", 40, 40);
    std::string keyed = testbmp::Write24(dir + "/k.bmp", 8, 8, [](int x, int) { return x < 4 ? RED : BLUE; });
    ASSERT_TRUE(bank.Load(0, sheet.c_str(), false, 0));
    ASSERT_TRUE(bank.Load(1, keyed.c_str(), true, RGB(255, 0, 0)));  // keyed: mask and sprite
    ASSERT_TRUE(bank.Load(2, keyed.c_str(), true, RGB(1, 2, 3)));    // blank mask, no sprite
    ASSERT_TRUE(bank.Load(3, sheet.c_str(), false, 0));
    bank.Forget(3);
    EXPECT_GT(testwin::LiveHandleCount(), handlesBefore);
    EXPECT_TRUE(bank.Detach());
    attached = false;
    EXPECT_EQ(testwin::LiveHandleCount(), handlesBefore);
}

}  // namespace
