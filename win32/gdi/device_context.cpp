// Device contexts: memory DCs, window DCs for USER, selecting bitmaps, colours and fills.
// Leaves out mapping modes, clip regions, saved DC states and every selectable object but bitmaps.
#include <algorithm>

#include "gdi/gdi_internal.h"
#include "gdi/gdi_objects.h"
#include "gdi/raster.h"

namespace w32 {

DeviceContextObject* FindDC(HDC dc) {
    DeviceContextObject* object = Lookup<DeviceContextObject>(dc);
    if (!object) SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

HDC CreateWindowDC(HWND window, std::shared_ptr<PixelSurface> surface) {
    if (!surface) return nullptr;
    auto object = std::make_unique<DeviceContextObject>();
    object->window = window;
    object->windowSurface = std::move(surface);
    return InsertAs<HDC>(std::move(object));
}

bool ReleaseWindowDC(HWND window, HDC dc) {
    DeviceContextObject* object = Lookup<DeviceContextObject>(dc);
    if (!object || object->IsMemory() || object->window != window) return false;
    RemoveHandle(dc, HandleKind::DeviceContext);
    return true;
}

bool FillDCRect(HDC dc, const RECT& rect, uint32_t pixel) {
    DeviceContextObject* object = FindDC(dc);
    if (!object) return false;
    PixelSurface& target = object->Target();
    BlitRect area;
    area.destX = rect.left;
    area.destY = rect.top;
    area.width = int64_t{rect.right} - rect.left;
    area.height = int64_t{rect.bottom} - rect.top;
    if (!ClipBlitRect(&area, target.width, target.height, nullptr)) return true;
    if (target.bitsPerPixel == 1) pixel = NearestMonoPixel(pixel);
    pixel &= kColourMask;
    for (int64_t y = area.destY; y < area.destY + area.height; ++y) {
        uint32_t* row = target.Row(static_cast<int>(y)) + area.destX;
        std::fill(row, row + area.width, pixel);
    }
    target.NotifyChanged();
    return true;
}

namespace {

// SetTextColor and SetBkColor: the previous colour, or CLR_INVALID for a bad DC.
COLORREF ExchangeColour(HDC dc, COLORREF DeviceContextObject::*field, COLORREF colour) {
    DeviceContextObject* context = FindDC(dc);
    if (!context) return CLR_INVALID;
    const COLORREF previous = context->*field;
    context->*field = colour;
    return previous;
}

}  // namespace
}  // namespace w32

using namespace w32;

extern "C" HDC WINAPI CreateCompatibleDC(HDC dc) {
    // Every DC here is compatible with the one 32-bit display, so the model DC only has to be valid.
    if (dc && !FindDC(dc)) return nullptr;
    auto object = std::make_unique<DeviceContextObject>();
    object->bitmap = StockBitmap();
    object->bitmapObject = Lookup<BitmapObject>(object->bitmap);
    return InsertGdiObject<HDC>(std::move(object));
}

extern "C" BOOL WINAPI DeleteDC(HDC dc) {
    DeviceContextObject* object = FindDC(dc);
    if (!object) return FALSE;
    // Our choice: a DC from GetDC or BeginPaint stays alive until ReleaseDC or EndPaint gives it back.
    if (!object->IsMemory()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!object->bitmapObject->stock) object->bitmapObject->selectedInto = nullptr;
    RemoveHandle(dc, HandleKind::DeviceContext);
    return TRUE;
}

extern "C" HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
    DeviceContextObject* context = FindDC(dc);
    if (!context) return nullptr;
    BitmapObject* bitmap = FindBitmap(object);
    if (!bitmap) return nullptr;
    // Bitmaps go into memory DCs only, and into one DC at a time (stock objects excepted). Every bitmap
    // here is monochrome or of the display's format, so each fits every memory DC.
    if (!context->IsMemory()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HBITMAP newBitmap = static_cast<HBITMAP>(object);
    HBITMAP previous = context->bitmap;
    if (newBitmap == previous) return previous;
    if (!bitmap->stock && bitmap->selectedInto) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!context->bitmapObject->stock) context->bitmapObject->selectedInto = nullptr;
    context->bitmap = newBitmap;
    context->bitmapObject = bitmap;
    if (!bitmap->stock) bitmap->selectedInto = dc;
    return previous;
}

extern "C" HGDIOBJ WINAPI GetCurrentObject(HDC dc, UINT type) {
    DeviceContextObject* context = FindDC(dc);
    if (!context) return nullptr;
    if (type == OBJ_BRUSH) return StockWhiteBrush();  // Windows' default brush, and the only one here
    if (type != OBJ_BITMAP) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // A window DC reports the default bitmap, as display DCs do on Windows.
    return context->IsMemory() ? context->bitmap : StockBitmap();
}

extern "C" DWORD WINAPI GetObjectType(HGDIOBJ object) {
    HandleObject* found = LookupHandle(object, HandleKind::Any);
    if (found && found->kind == HandleKind::DeviceContext)
        return static_cast<DeviceContextObject*>(found)->IsMemory() ? OBJ_MEMDC : OBJ_DC;
    if (found && found->kind == HandleKind::Bitmap) return OBJ_BITMAP;
    if (found && found->kind == HandleKind::Brush) return OBJ_BRUSH;
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
}

extern "C" COLORREF WINAPI SetTextColor(HDC dc, COLORREF colour) {
    return ExchangeColour(dc, &DeviceContextObject::textColour, colour);
}

extern "C" COLORREF WINAPI SetBkColor(HDC dc, COLORREF colour) {
    return ExchangeColour(dc, &DeviceContextObject::backgroundColour, colour);
}
