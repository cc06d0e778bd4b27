// Bitmaps and stock objects: the stock 1x1 monochrome bitmap, the stock white and black brushes
// (GetStockObject), CreateCompatibleBitmap, DeleteObject and GetObjectA.
// Leaves out CreateBitmap, DIB sections, made brushes, pens and fonts; bad handles set ERROR_INVALID_HANDLE.
#include <cstring>
#include <new>

#include "gdi/gdi_objects.h"

namespace w32 {

BitmapObject* FindBitmap(HGDIOBJ bitmap) {
    BitmapObject* object = Lookup<BitmapObject>(bitmap);
    if (!object) SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

HBITMAP StockBitmap() {
    // Windows' default bitmap is black; it lives for the whole run.
    static const HBITMAP handle = [] {
        auto object = std::make_unique<BitmapObject>();
        object->stock = true;
        object->surface.bitsPerPixel = 1;
        object->surface.Resize(1, 1, kBlackPixel);
        return InsertAs<HBITMAP>(std::move(object));
    }();
    return handle;
}

namespace {

HBRUSH MakeStockBrush(uint32_t pixel) {
    auto object = std::make_unique<BrushObject>();
    object->pixel = pixel;
    return InsertAs<HBRUSH>(std::move(object));
}

// Stock objects exist from the start of the process, as on Windows, so that counting live handles
// before and after any GDI call never mistakes a stock object for a leak.
const HBITMAP kStockBitmapAtStart = StockBitmap();
const HBRUSH kWhiteBrush = MakeStockBrush(kWhitePixel);
const HBRUSH kBlackBrush = MakeStockBrush(kBlackPixel);

}  // namespace

HBRUSH StockWhiteBrush() { return kWhiteBrush; }

bool StockBrushPixel(HBRUSH brush, uint32_t* pixel) {
    BrushObject* object = Lookup<BrushObject>(brush);
    if (!object) return false;
    *pixel = object->pixel;
    return true;
}

std::unique_ptr<BitmapObject> NewBitmap(int width, int height, int bitsPerPixel) {
    if (width <= 0 || height <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (width > kMaxBitmapSide || height > kMaxBitmapSide ||
        int64_t{width} * int64_t{height} > kMaxBitmapPixels) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    try {
        auto object = std::make_unique<BitmapObject>();
        object->surface.bitsPerPixel = bitsPerPixel;
        object->surface.Resize(width, height, kBlackPixel);
        return object;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

}  // namespace w32

using namespace w32;

extern "C" HBITMAP WINAPI CreateCompatibleBitmap(HDC dc, int width, int height) {
    DeviceContextObject* object = FindDC(dc);
    if (!object) return nullptr;
    if (width < 0 || height < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Windows hands out its 1x1 monochrome default bitmap for an empty size.
    if (width == 0 || height == 0) return StockBitmap();
    // A memory DC's format is that of the bitmap selected into it; a window DC's is the display's.
    const int bitsPerPixel = object->IsMemory() ? object->Target().bitsPerPixel : kDisplayBitsPerPixel;
    std::unique_ptr<BitmapObject> bitmap = NewBitmap(width, height, bitsPerPixel);
    if (!bitmap) return nullptr;
    return InsertGdiObject<HBITMAP>(std::move(bitmap));
}

extern "C" HGDIOBJ WINAPI GetStockObject(int index) {
    switch (index) {
    case WHITE_BRUSH: return kWhiteBrush;
    case BLACK_BRUSH: return kBlackBrush;
    default: return nullptr;
    }
}

extern "C" BOOL WINAPI DeleteObject(HGDIOBJ object) {
    if (Lookup<BrushObject>(object)) return TRUE;  // a stock object: allowed, and nothing happens
    BitmapObject* bitmap = FindBitmap(object);
    if (!bitmap) return FALSE;
    if (bitmap->stock) return TRUE;  // deleting a stock object is allowed and does nothing
    if (bitmap->selectedInto) return FALSE;  // documented: a bitmap selected into a DC is not deleted
    RemoveHandle(object, HandleKind::Bitmap);
    return TRUE;
}

extern "C" int WINAPI GetObjectA(HANDLE object, int size, LPVOID buffer) {
    BitmapObject* bitmap = FindBitmap(object);
    if (!bitmap) return 0;
    if (!buffer) return sizeof(BITMAP);
    if (size < static_cast<int>(sizeof(BITMAP))) return 0;
    const PixelSurface& surface = bitmap->surface;
    BITMAP record{};
    record.bmType = 0;
    record.bmWidth = surface.width;
    record.bmHeight = surface.height;
    // Device bitmap rows are WORD aligned.
    record.bmWidthBytes = (surface.width * surface.bitsPerPixel + 15) / 16 * 2;
    record.bmPlanes = 1;
    record.bmBitsPixel = static_cast<WORD>(surface.bitsPerPixel);
    record.bmBits = nullptr;  // not a DIB section
    std::memcpy(buffer, &record, sizeof record);
    return sizeof(BITMAP);
}
