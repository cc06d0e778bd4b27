// What USER needs from GDI: device contexts that draw on a window's client surface, and plain fills.
// Leaves out everything the public wingdi.h already offers.
#ifndef PELOMI_WIN32_GDI_INTERNAL_H
#define PELOMI_WIN32_GDI_INTERNAL_H

#include <windows.h>

#include <cstdint>
#include <memory>

#include "base/pixel_surface.h"

namespace w32 {

// A new DC whose drawing target is the window's client surface (GetDC, BeginPaint). The DC keeps the
// surface alive; drawing on it calls surface->NotifyChanged().
HDC CreateWindowDC(HWND window, std::shared_ptr<PixelSurface> surface);

// Deletes a DC made by CreateWindowDC for that window (ReleaseDC, EndPaint); false when `dc` is not one.
bool ReleaseWindowDC(HWND window, HDC dc);

// Fills a rectangle of the DC's target with one 0x00RRGGBB pixel value, clipped to the target
// (FillRect with a brush). False for an invalid DC.
bool FillDCRect(HDC dc, const RECT& rect, uint32_t pixel);

// The pixel value of a stock GDI brush (GetStockObject); false for anything else.
bool StockBrushPixel(HBRUSH brush, uint32_t* pixel);

}  // namespace w32

#endif
