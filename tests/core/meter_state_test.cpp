// Meter state on real sheets: cell size and rows from the picture in slot 0, clicks through the rows, and
// the box, bar and cell that one block leaves in the window, read back pixel by pixel.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bmp_file.h"
#include "level.h"
#include "meter_state.h"
#include "picture_bank.h"
#include "test_window.h"

namespace {

const int CLIENT_WIDTH = 216;
const int CLIENT_HEIGHT = 196;
const uint32_t BLACK = 0x000000;
const uint32_t WHITE = 0xFFFFFF;

class MeterTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = testbmp::TempDir();
        window = testwin::CreateClientWindow(CLIENT_WIDTH, CLIENT_HEIGHT);
        ASSERT_NE(window, nullptr);
        pictureBank.Attach(GetModuleHandleA(nullptr), window);
        InitStepThresholds();
    }
    void TearDown() override {
        pictureBank.Detach();
        DestroyWindow(window);
    }
    // Loads a position-coded sheet into slot 0 and resets the meter, as the program does.
    void LoadSheet(int width, int height) {
        std::string path = dir + (width > 0 ? "/sheet.bmp" : "/missing.bmp");
        if (width > 0) testbmp::WritePositionSheet(path, width, height);
        pictureBank.Load(0, path.c_str(), false, 0);
        ResetForSheet();
    }
    std::vector<uint32_t> Window() { return testwin::ReadClient(window); }
    static uint32_t At(const std::vector<uint32_t>& pixels, int x, int y) { return pixels[y * CLIENT_WIDTH + x]; }

    std::string dir;
    HWND window = nullptr;
};

struct RowWalk {
    int width, height;
    int cell;
    std::vector<int> offsets;  // rowOffset after each of the clicks, starting before the first
};

TEST_F(MeterTest, CellSizeAndRowsFollowTheSheet) {
    const RowWalk walks[] = {
        {800, 480, 160, {0, 160, 320, 0, 160}},
        {800, 400, 160, {0, 160, 320, 0}},  // the third row is cut at the picture's bottom edge
        {800, 160, 160, {0, 0, 0}},         // no taller than one cell: never leaves the first row
        {800, 100, 160, {0, 0}},
        {803, 400, 160, {0, 160, 320, 0}},  // extra columns at the right are never shown
        {24, 12, 4, {0, 4, 8, 0}},
        {3, 40, 0, {0, 0, 0}},  // narrower than five pixels: no cells, the first row is kept
        {0, 0, 0, {0, 0, 0}},   // nothing loaded
    };
    for (const RowWalk& walk : walks) {
        SCOPED_TRACE(std::to_string(walk.width) + " x " + std::to_string(walk.height));
        LoadSheet(walk.width, walk.height);
        EXPECT_EQ(sheetSize[0], walk.width);
        EXPECT_EQ(sheetSize[1], walk.height);
        EXPECT_EQ(cellSize, walk.cell);
        for (size_t click = 0; click < walk.offsets.size(); ++click) {
            EXPECT_EQ(rowOffset, walk.offsets[click]) << "after " << click << " clicks";
            EXPECT_EQ(frameBase, walk.cell ? 5 * (rowOffset / walk.cell) : 0) << "after " << click << " clicks";
            AdvanceRow();
        }
    }
}

TEST_F(MeterTest, ReloadingReturnsToTheFirstRow) {
    LoadSheet(800, 480);
    AdvanceRow();
    AdvanceRow();
    EXPECT_EQ(frameBase, 10);
    LoadSheet(800, 480);
    EXPECT_EQ(rowOffset, 0);
    EXPECT_EQ(frameBase, 0);
}

TEST_F(MeterTest, BlockDrawsBoxBarAndCellIntoTheWindow) {
    LoadSheet(800, 480);
    AdvanceRow();  // second row: frames 5..9
    RenderBlock(40, 2);
    std::vector<uint32_t> pixels = Window();

    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < CLIENT_WIDTH; ++x) {
            bool inBar = x >= 5 && x < 5 + 45 && y >= 5 && y < 26;
            ASSERT_EQ(At(pixels, x, y), inBar ? WHITE : BLACK) << x << "," << y;
        }
    }
    // Frame 7 of an 800-wide sheet of 160-pixel cells is column 2 of row 1: source (320, 160).
    for (int y = 30; y < CLIENT_HEIGHT; ++y) {
        for (int x = 0; x < CLIENT_WIDTH; ++x) {
            uint32_t expected = x < 160 && y < 190 ? testbmp::PositionColour(320 + x, 160 + (y - 30)) : BLACK;
            ASSERT_EQ(At(pixels, x, y), expected) << x << "," << y;
        }
    }
}

TEST_F(MeterTest, BarWidthFollowsTheLevelInsideTheBox) {
    LoadSheet(0, 0);
    const int levels[] = {0, 1, 22, 127};
    for (int level : levels) {
        RenderBlock(static_cast<uint8_t>(level), 0);
        std::vector<uint32_t> pixels = Window();
        for (int x = 0; x < CLIENT_WIDTH; ++x) {
            bool inBar = x >= 5 && x < 5 + level + 5;
            ASSERT_EQ(At(pixels, x, 15), inBar ? WHITE : BLACK) << "level " << level << " x " << x;
        }
        EXPECT_EQ(At(pixels, 4, 15), BLACK);    // box edge
        EXPECT_EQ(At(pixels, 137, 15), BLACK);  // the loudest bar ends one pixel inside the box
        EXPECT_EQ(At(pixels, 10, 4), BLACK);
        EXPECT_EQ(At(pixels, 10, 26), BLACK);
    }
}

TEST_F(MeterTest, PartOfACellBelowThePictureIsBlack) {
    LoadSheet(800, 400);
    AdvanceRow();
    AdvanceRow();  // third row: 320..399 exist, 400..479 do not
    // Leave something bright in the cell area, as an earlier block would have.
    BitBlt(pictureBank.Canvas(), 0, 30, 160, 160, nullptr, 0, 0, WHITENESS);
    RenderBlock(0, 1);
    std::vector<uint32_t> pixels = Window();
    for (int y = 30; y < 190; ++y) {
        uint32_t expected = y - 30 < 80 ? testbmp::PositionColour(160 + 5, 320 + (y - 30)) : BLACK;
        ASSERT_EQ(At(pixels, 5, y), expected) << y;
    }
    // A frame wholly below the picture shows a black cell.
    BitBlt(pictureBank.Canvas(), 0, 30, 160, 160, nullptr, 0, 0, WHITENESS);
    RenderBlock(0, 5);
    pixels = Window();
    for (int y = 30; y < 190; y += 7)
        for (int x = 0; x < 160; x += 7) ASSERT_EQ(At(pixels, x, y), BLACK) << x << "," << y;
}

TEST_F(MeterTest, SheetWithoutCellsDrawsOnlyTheBar) {
    LoadSheet(3, 40);
    BitBlt(pictureBank.Canvas(), 0, 30, 160, 160, nullptr, 0, 0, WHITENESS);
    RenderBlock(10, 1);
    AdvanceRow();
    RenderBlock(10, 1);
    std::vector<uint32_t> pixels = Window();
    // The click blanked the canvas and no cell has been drawn since.
    for (int y = 30; y < CLIENT_HEIGHT; y += 3)
        for (int x = 0; x < CLIENT_WIDTH; x += 3) ASSERT_EQ(At(pixels, x, y), BLACK) << x << "," << y;
    EXPECT_EQ(At(pixels, 5 + 14, 15), WHITE);
}

TEST_F(MeterTest, ClickBlanksTheCanvasButNotTheWindow) {
    LoadSheet(800, 480);
    RenderBlock(0, 0);
    uint32_t shown = At(Window(), 10, 40);
    EXPECT_EQ(shown, testbmp::PositionColour(10, 10));
    AdvanceRow();
    EXPECT_EQ(At(Window(), 10, 40), shown);  // the window keeps its picture until the next block
    EXPECT_EQ(GetPixel(pictureBank.Canvas(), 10, 40), 0u);
    EXPECT_EQ(GetPixel(pictureBank.Canvas(), 10, 15), 0u);
}

}  // namespace
