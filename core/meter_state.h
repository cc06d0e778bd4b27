// Meter state: the geometry of the sheet in slot 0, the row shown, and what is drawn for every block.
#ifndef PELOMI_CORE_METER_STATE_H
#define PELOMI_CORE_METER_STATE_H

#include <stdint.h>

const int32_t FRAMES_PER_ROW = 5;

extern int32_t cellSize;
extern int32_t sheetSize[2];
extern int32_t rowOffset;
extern int32_t frameBase;

void ResetForSheet();
void AdvanceRow();
void RenderBlock(uint8_t level, int step);

#endif
