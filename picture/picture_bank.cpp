// The picture bank: canvas, eight picture slots with optional colour-key masks, cell copies by frame.
#include "picture_bank.h"

#include <stdlib.h>
#include <string.h>

PictureBank pictureBank;

void* (*allocateWorkBuffer)(size_t bytes) = malloc;

// Bytes of a 32-bit work buffer for a width x height picture; 0 when it cannot be expressed.
static size_t WorkBufferBytes(LONG width, LONG height)
{
    if (width <= 0 || height <= 0)
        return 0;
    size_t pixels = (size_t)width;
    if (pixels > (size_t)-1 / 4 / (size_t)height)
        return 0;
    return pixels * (size_t)height * 4;
}

bool PictureBank::Attach(HINSTANCE instance, HWND window)
{
    memset(this, 0, sizeof(*this));
    this->instance = instance;
    this->window = window;
    windowDC = GetDC(window);
    canvasDC = CreateCompatibleDC(windowDC);
    GetClientRect(window, &clientRect);
    canvasBitmap = CreateCompatibleBitmap(windowDC, clientRect.right, clientRect.bottom);
    SelectObject(canvasDC, canvasBitmap);
    return true;
}

uint32_t PictureBank::SwapRedBlue(COLORREF colour)
{
    return ((colour & 0xFF) << 16) | ((colour >> 16) & 0xFF) | (colour & 0xFF00);
}

void PictureBank::ReleaseSlot(int slot)
{
    if (imageDCs[slot] != NULL) {
        SelectObject(imageDCs[slot], replacedBitmaps[slot]);
        DeleteDC(imageDCs[slot]);
    }
    if (maskDCs[slot] != NULL)
        DeleteDC(maskDCs[slot]);
    if (spriteDCs[slot] != NULL)
        DeleteDC(spriteDCs[slot]);
    // The mask and sprite bitmaps go with their DCs; a DC deleted first leaves them free to delete.
    if (maskBitmaps[slot] != NULL)
        DeleteObject(maskBitmaps[slot]);
    if (spriteBitmaps[slot] != NULL)
        DeleteObject(spriteBitmaps[slot]);
    DeleteObject(pictures[slot]);
    imageDCs[slot] = NULL;
    maskDCs[slot] = NULL;
    spriteDCs[slot] = NULL;
    maskBitmaps[slot] = NULL;
    spriteBitmaps[slot] = NULL;
    pictures[slot] = NULL;
    replacedBitmaps[slot] = NULL;
    memset(&pictureRecords[slot], 0, sizeof(pictureRecords[slot]));
}

bool PictureBank::Load(int slot, const char* path, bool buildMask, COLORREF keyColour)
{
    if (slot < 0 || slot >= SLOT_COUNT)
        return false;
    if (pictures[slot] != NULL) {
        ReleaseSlot(slot);
        ClearCanvas();
    }
    pictures[slot] = (HBITMAP)LoadImageA(instance, path, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE);
    if (pictures[slot] == NULL)
        return false;
    imageDCs[slot] = CreateCompatibleDC(windowDC);
    replacedBitmaps[slot] = (HBITMAP)SelectObject(imageDCs[slot], pictures[slot]);
    GetObjectA(pictures[slot], sizeof(BITMAP), &pictureRecords[slot]);
    if (!buildMask)
        return true;
    if (!BuildMask(slot, keyColour)) {
        ReleaseSlot(slot);
        return false;
    }
    return true;
}

// Makes a DC holding a copy of the slot's whole picture, for the mask or the sprite.
static HDC CopyPicture(HDC windowDC, HDC imageDC, const BITMAP& record, HBITMAP* bitmap)
{
    HDC dc = CreateCompatibleDC(windowDC);
    *bitmap = CreateCompatibleBitmap(windowDC, record.bmWidth, record.bmHeight);
    SelectObject(dc, *bitmap);
    BitBlt(dc, 0, 0, record.bmWidth, record.bmHeight, imageDC, 0, 0, SRCCOPY);
    return dc;
}

bool PictureBank::BuildMask(int slot, COLORREF keyColour)
{
    const BITMAP& record = pictureRecords[slot];
    size_t bytes = WorkBufferBytes(record.bmWidth, record.bmHeight);
    workPixels = bytes != 0 ? (uint32_t*)allocateWorkBuffer(bytes) : NULL;
    if (workPixels == NULL)
        return false;
    size_t count = bytes / 4;

    memset(&workInfo, 0, sizeof(workInfo));
    workInfo.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    workInfo.bmiHeader.biWidth = record.bmWidth;
    workInfo.bmiHeader.biHeight = record.bmHeight;
    workInfo.bmiHeader.biPlanes = 1;
    workInfo.bmiHeader.biBitCount = 32;
    workInfo.bmiHeader.biCompression = BI_RGB;

    uint32_t key = SwapRedBlue(keyColour);
    bool keyFound = false;
    maskDCs[slot] = CopyPicture(windowDC, imageDCs[slot], record, &maskBitmaps[slot]);
    GetDIBits(maskDCs[slot], maskBitmaps[slot], 0, record.bmHeight, workPixels, &workInfo, DIB_RGB_COLORS);
    for (size_t i = 0; i < count; i++) {
        if (workPixels[i] == key) {
            workPixels[i] = SwapRedBlue(0x00FFFFFF);
            keyFound = true;
        } else {
            workPixels[i] = SwapRedBlue(0);
        }
    }
    StretchDIBits(maskDCs[slot], 0, 0, record.bmWidth, record.bmHeight, 0, 0, record.bmWidth,
                  record.bmHeight, workPixels, &workInfo, DIB_RGB_COLORS, SRCCOPY);

    if (keyFound) {
        spriteDCs[slot] = CopyPicture(windowDC, imageDCs[slot], record, &spriteBitmaps[slot]);
        GetDIBits(spriteDCs[slot], spriteBitmaps[slot], 0, record.bmHeight, workPixels, &workInfo,
                  DIB_RGB_COLORS);
        for (size_t i = 0; i < count; i++) {
            if (workPixels[i] == key)
                workPixels[i] = SwapRedBlue(0);
        }
        StretchDIBits(spriteDCs[slot], 0, 0, record.bmWidth, record.bmHeight, 0, 0, record.bmWidth,
                      record.bmHeight, workPixels, &workInfo, DIB_RGB_COLORS, SRCCOPY);
    }
    free(workPixels);
    workPixels = NULL;
    return true;
}

bool PictureBank::DrawCell(int slot, int x, int y, int cellWidth, int cellHeight, int frame)
{
    if (slot < 0 || slot >= SLOT_COUNT || imageDCs[slot] == NULL)
        return false;
    const BITMAP& record = pictureRecords[slot];
    if (cellWidth <= 0 || cellHeight <= 0)
        return false;
    int columns = record.bmWidth / cellWidth;
    if (columns <= 0)
        return false;

    // 64-bit arithmetic: a frame far below the picture must not overflow into a valid-looking position.
    int64_t column = frame % columns;
    int64_t row = frame / columns;
    int64_t sourceX = column * cellWidth;
    int64_t sourceY = row * cellHeight;
    bool inside = sourceX >= 0 && sourceY >= 0 && sourceX + cellWidth <= record.bmWidth &&
                  sourceY + cellHeight <= record.bmHeight;
    if (!inside) {
        // Whatever of the cell lies outside the picture is shown black, not left over from the last block.
        BitBlt(canvasDC, x, y, cellWidth, cellHeight, NULL, 0, 0, BLACKNESS);
        if (sourceX >= record.bmWidth || sourceY >= record.bmHeight || sourceX + cellWidth <= 0 ||
            sourceY + cellHeight <= 0)
            return true;
    }
    if (spriteDCs[slot] != NULL) {
        BitBlt(canvasDC, x, y, cellWidth, cellHeight, maskDCs[slot], (int)sourceX, (int)sourceY, SRCAND);
        BitBlt(canvasDC, x, y, cellWidth, cellHeight, spriteDCs[slot], (int)sourceX, (int)sourceY, SRCPAINT);
    } else {
        BitBlt(canvasDC, x, y, cellWidth, cellHeight, imageDCs[slot], (int)sourceX, (int)sourceY, SRCCOPY);
    }
    return true;
}

void PictureBank::GetSize(int slot, int32_t size[2])
{
    size[0] = 0;
    size[1] = 0;
    if (slot < 0 || slot >= SLOT_COUNT || imageDCs[slot] == NULL)
        return;
    size[0] = pictureRecords[slot].bmWidth;
    size[1] = pictureRecords[slot].bmHeight;
}

void PictureBank::Forget(int slot)
{
    if (slot < 0 || slot >= SLOT_COUNT || imageDCs[slot] == NULL)
        return;
    SelectObject(imageDCs[slot], replacedBitmaps[slot]);
    DeleteDC(imageDCs[slot]);
    imageDCs[slot] = NULL;
}

HDC PictureBank::Canvas()
{
    return canvasDC;
}

void PictureBank::ClearCanvas()
{
    BitBlt(canvasDC, 0, 0, clientRect.right, clientRect.bottom, NULL, 0, 0, BLACKNESS);
}

void PictureBank::Present()
{
    BitBlt(windowDC, 0, 0, clientRect.right, clientRect.bottom, canvasDC, 0, 0, SRCCOPY);
}

bool PictureBank::Detach()
{
    for (int slot = 0; slot < SLOT_COUNT; slot++) {
        if (pictures[slot] != NULL)
            ReleaseSlot(slot);
    }
    DeleteDC(canvasDC);
    DeleteObject(canvasBitmap);
    ReleaseDC(window, windowDC);
    canvasDC = NULL;
    canvasBitmap = NULL;
    windowDC = NULL;
    return true;
}
