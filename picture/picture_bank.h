// The picture bank: an off-screen canvas the size of the window's client area and eight picture slots,
// each a sheet of equal cells that can be copied to the canvas by frame number, opaquely or colour-keyed.
#ifndef PELOMI_PICTURE_PICTURE_BANK_H
#define PELOMI_PICTURE_PICTURE_BANK_H

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

const int SLOT_COUNT = 8;

class PictureBank {
public:
    bool Attach(HINSTANCE instance, HWND window);
    bool Load(int slot, const char* path, bool buildMask, COLORREF keyColour);
    bool DrawCell(int slot, int x, int y, int cellWidth, int cellHeight, int frame);
    void GetSize(int slot, int32_t size[2]);
    void Forget(int slot);
    HDC Canvas();
    void ClearCanvas();
    void Present();
    bool Detach();
    static uint32_t SwapRedBlue(COLORREF colour);

private:
    void ReleaseSlot(int slot);
    bool BuildMask(int slot, COLORREF keyColour);

    HINSTANCE instance;
    HWND window;
    HDC windowDC;
    HDC canvasDC;
    HDC imageDCs[SLOT_COUNT];
    HDC maskDCs[SLOT_COUNT];
    HDC spriteDCs[SLOT_COUNT];
    BITMAP pictureRecords[SLOT_COUNT];
    HBITMAP canvasBitmap;
    HBITMAP pictures[SLOT_COUNT];
    HBITMAP maskBitmaps[SLOT_COUNT];
    HBITMAP spriteBitmaps[SLOT_COUNT];
    HBITMAP replacedBitmaps[SLOT_COUNT];
    RECT clientRect;
    BITMAPINFO workInfo;
    uint32_t* workPixels;
};

// Allocates the pixel work buffer a colour-keyed load needs (malloc); replaceable so that a failed
// allocation can be tried.
extern void* (*allocateWorkBuffer)(size_t bytes);

// The program's one bank, attached to the main window while it exists.
extern PictureBank pictureBank;

#endif
