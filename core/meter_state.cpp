// Meter state: the sheet geometry of slot 0, the row shown, and the level bar and cell drawn per block.
#include "meter_state.h"

#include <windows.h>

#include "picture_bank.h"

int32_t cellSize;
int32_t sheetSize[2];
int32_t rowOffset;
int32_t frameBase;

static const int BOX_X = 4;
static const int BOX_Y = 4;
static const int BOX_WIDTH = 134;
static const int BOX_HEIGHT = 23;
static const int BAR_X = 5;
static const int BAR_Y = 5;
static const int BAR_STUB = 5;
static const int BAR_HEIGHT = 21;
static const int CELL_X = 0;
static const int CELL_Y = 30;

void ResetForSheet()
{
    pictureBank.GetSize(0, sheetSize);
    cellSize = sheetSize[0] / FRAMES_PER_ROW;
    rowOffset = 0;
    frameBase = 0;
}

void AdvanceRow()
{
    int32_t next = rowOffset + cellSize;
    frameBase += FRAMES_PER_ROW;
    rowOffset = next;
    // A sheet under five pixels wide has no cells: keep the first row, as for an empty slot.
    if (next >= sheetSize[1] || cellSize <= 0) {
        rowOffset = 0;
        frameBase = 0;
    }
    pictureBank.ClearCanvas();
}

void RenderBlock(uint8_t level, int step)
{
    HDC canvas = pictureBank.Canvas();
    BitBlt(canvas, BOX_X, BOX_Y, BOX_WIDTH, BOX_HEIGHT, NULL, 0, 0, BLACKNESS);
    BitBlt(canvas, BAR_X, BAR_Y, level + BAR_STUB, BAR_HEIGHT, NULL, 0, 0, WHITENESS);
    pictureBank.DrawCell(0, CELL_X, CELL_Y, cellSize, cellSize, frameBase + step);
    pictureBank.Present();
}
