// The objects behind GDI handles (device contexts, bitmaps) and the pixel rules the GDI files share.
// Leaves out pens, fonts, regions, palettes and every brush but the stock white and black ones; a DC's
// brush is always the stock white brush, Windows' default.
#ifndef PELOMI_WIN32_GDI_OBJECTS_H
#define PELOMI_WIN32_GDI_OBJECTS_H

#include <windows.h>

#include <cstdint>
#include <memory>

#include "base/handle_table.h"
#include "base/pixel_surface.h"

namespace w32 {

constexpr uint32_t kBlackPixel = 0x000000;
constexpr uint32_t kWhitePixel = 0xFFFFFF;
constexpr uint32_t kColourMask = 0xFFFFFF;

// Our display is 32 bits per pixel, one plane: every colour bitmap is in that format.
constexpr int kDisplayBitsPerPixel = 32;

// Our choice: a bitmap of more pixels than this, or a side of 65536 or more, is refused
// (CreateCompatibleBitmap: ERROR_NOT_ENOUGH_MEMORY; LoadImageA: NULL) before anything is allocated.
constexpr int64_t kMaxBitmapPixels = int64_t{1} << 25;
constexpr int kMaxBitmapSide = 65535;

struct BitmapObject : HandleObject {
    static constexpr HandleKind Kind = HandleKind::Bitmap;
    BitmapObject() : HandleObject(Kind) {}
    PixelSurface surface;
    HDC selectedInto = nullptr;  // the one memory DC holding it; the stock bitmap is never marked
    bool stock = false;
};

// A stock solid brush (GetStockObject); never deleted.
struct BrushObject : HandleObject {
    static constexpr HandleKind Kind = HandleKind::Brush;
    BrushObject() : HandleObject(Kind) {}
    uint32_t pixel = kWhitePixel;
};

struct DeviceContextObject : HandleObject {
    static constexpr HandleKind Kind = HandleKind::DeviceContext;
    DeviceContextObject() : HandleObject(Kind) {}

    // Window DCs draw on the window's client surface; memory DCs on the bitmap selected into them.
    HWND window = nullptr;
    std::shared_ptr<PixelSurface> windowSurface;
    HBITMAP bitmap = nullptr;
    BitmapObject* bitmapObject = nullptr;  // stays valid: a selected bitmap cannot be deleted

    // Windows' defaults: black text on a white background.
    COLORREF textColour = 0x000000;
    COLORREF backgroundColour = 0xFFFFFF;

    bool IsMemory() const { return windowSurface == nullptr; }
    PixelSurface& Target() const { return windowSurface ? *windowSurface : bitmapObject->surface; }
};

// Lookups that set ERROR_INVALID_HANDLE when the handle is not a live object of that kind.
DeviceContextObject* FindDC(HDC dc);
BitmapObject* FindBitmap(HGDIOBJ bitmap);

// The stock 1x1 monochrome bitmap every memory DC starts with. It may be selected into any number of DCs,
// and DeleteObject leaves it alone, as Windows does with stock objects.
HBITMAP StockBitmap();

// The stock white brush, every DC's brush.
HBRUSH StockWhiteBrush();

// InsertAs for GDI objects: a full handle table fails with ERROR_NOT_ENOUGH_MEMORY.
template <class H, class T>
H InsertGdiObject(std::unique_ptr<T> object) {
    H handle = InsertAs<H>(std::move(object));
    if (!handle) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return handle;
}

// A new bitmap of 32 or 1 bits per pixel filled with black, or null (with the last error set) when the
// size is refused or memory runs out.
std::unique_ptr<BitmapObject> NewBitmap(int width, int height, int bitsPerPixel);

inline uint32_t PixelFromColorRef(COLORREF colour) {
    return ((colour & 0xFF) << 16) | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
}
inline COLORREF ColorRefFromPixel(uint32_t pixel) { return PixelFromColorRef(pixel); }

// A colour drawn on a monochrome surface becomes the nearer of black and white.
inline uint32_t NearestMonoPixel(uint32_t pixel) {
    unsigned sum = ((pixel >> 16) & 0xFF) + ((pixel >> 8) & 0xFF) + (pixel & 0xFF);
    return sum >= 383 ? kWhitePixel : kBlackPixel;
}

}  // namespace w32

#endif
