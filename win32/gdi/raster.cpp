// BitBlt, PatBlt, GetPixel and SetPixel, and the shared copy loop with its ternary raster operations.
// Leaves out stretching (StretchBlt), mirroring, clip regions and any brush but the stock white one.
#include "gdi/raster.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace w32 {
namespace {

// A DC's default brush is the stock white brush; every pattern read is white.
constexpr uint32_t kPatternPixel = kWhitePixel;

uint32_t ConvertSourcePixel(const BlitSource& source, uint32_t pixel) {
    pixel &= kColourMask;
    switch (source.conversion) {
    case SourceConversion::None: return pixel;
    case SourceConversion::MonoToColour: return pixel == kBlackPixel ? source.monoBlack : source.monoWhite;
    case SourceConversion::ColourToMonoByKey: return pixel == source.key ? kWhitePixel : kBlackPixel;
    case SourceConversion::ColourToMonoNearest: return NearestMonoPixel(pixel);
    }
    return pixel;
}

void ReadSourceRow(const BlitSource& source, int64_t y, int64_t x, int width, uint32_t* out) {
    const unsigned char* bytes = source.topRow + y * source.rowStep + x * 4;
    std::memcpy(out, bytes, static_cast<size_t>(width) * 4);  // DIB rows need not be word aligned
    for (int i = 0; i < width; ++i) out[i] = ConvertSourcePixel(source, out[i]);
}

// Bit i of the index is the result for pattern bit (i & 4), source bit (i & 2) and destination bit (i & 1).
uint32_t ApplyRop3(uint8_t rop3, uint32_t pattern, uint32_t source, uint32_t dest) {
    uint32_t result = 0;
    for (int i = 0; i < 8; ++i) {
        if (!((rop3 >> i) & 1)) continue;
        result |= ((i & 4) ? pattern : ~pattern) & ((i & 2) ? source : ~source) & ((i & 1) ? dest : ~dest);
    }
    return result & kColourMask;
}

// Source and destination rows never overlap here (a surface copied onto itself goes through a row buffer),
// which lets the compiler work on several pixels at once.
template <class Op>
void ForRow(const uint32_t* __restrict source, uint32_t* __restrict dest, int width, Op op) {
    if (source == nullptr) {
        for (int i = 0; i < width; ++i) dest[i] = op(0, dest[i]) & kColourMask;
        return;
    }
    for (int i = 0; i < width; ++i) dest[i] = op(source[i], dest[i]) & kColourMask;
}

void CombineRow(uint8_t rop3, const uint32_t* source, uint32_t* dest, int width) {
    switch (rop3) {
    case 0xCC: ForRow(source, dest, width, [](uint32_t s, uint32_t) { return s; }); return;  // SRCCOPY
    case 0xEE: ForRow(source, dest, width, [](uint32_t s, uint32_t d) { return s | d; }); return;
    case 0x88: ForRow(source, dest, width, [](uint32_t s, uint32_t d) { return s & d; }); return;
    case 0x66: ForRow(source, dest, width, [](uint32_t s, uint32_t d) { return s ^ d; }); return;
    case 0x33: ForRow(source, dest, width, [](uint32_t s, uint32_t) { return ~s; }); return;
    case 0x55: ForRow(source, dest, width, [](uint32_t, uint32_t d) { return ~d; }); return;
    case 0x00: std::fill(dest, dest + width, kBlackPixel); return;
    case 0xFF: std::fill(dest, dest + width, kWhitePixel); return;
    default:
        ForRow(source, dest, width,
               [rop3](uint32_t s, uint32_t d) { return ApplyRop3(rop3, kPatternPixel, s, d); });
    }
}

// Leading-edge and trailing-edge clipping of one axis; the source limit is ignored without a source.
bool ClipAxis(int64_t* dest, int64_t* source, int64_t* extent, int64_t destLimit, const int64_t* sourceLimit) {
    int64_t shift = std::max<int64_t>(0, -*dest);
    if (sourceLimit) shift = std::max(shift, -*source);
    *dest += shift;
    *source += shift;
    *extent -= shift;
    *extent = std::min(*extent, destLimit - *dest);
    if (sourceLimit) *extent = std::min(*extent, *sourceLimit - *source);
    return *extent > 0;
}

BOOL Blit(DeviceContextObject& dest, BlitRect rect, DeviceContextObject* sourceDC, uint8_t rop3) {
    // Our choice: a negative width or height spans the other way from the origin ([x + width, x)) on both
    // rectangles, without mirroring.
    if (rect.width < 0) {
        rect.destX += rect.width;
        rect.sourceX += rect.width;
        rect.width = -rect.width;
    }
    if (rect.height < 0) {
        rect.destY += rect.height;
        rect.sourceY += rect.height;
        rect.height = -rect.height;
    }
    PixelSurface& target = dest.Target();
    BlitSource source;
    if (sourceDC) source = SourceFromDC(*sourceDC, dest);
    if (!ClipBlitRect(&rect, target.width, target.height, sourceDC ? &source : nullptr)) return TRUE;
    if (!RunBlit(target, rect, sourceDC ? &source : nullptr, rop3)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

}  // namespace

BlitSource SourceFromDC(DeviceContextObject& source, const DeviceContextObject& dest) {
    PixelSurface& surface = source.Target();
    BlitSource result;
    result.topRow = reinterpret_cast<const unsigned char*>(surface.pixels.data());
    result.rowStep = static_cast<ptrdiff_t>(surface.width) * 4;
    result.width = surface.width;
    result.height = surface.height;
    result.surface = &surface;
    const bool sourceMono = surface.bitsPerPixel == 1;
    const bool destMono = dest.Target().bitsPerPixel == 1;
    if (sourceMono && !destMono) {
        result.conversion = SourceConversion::MonoToColour;
        result.monoBlack = PixelFromColorRef(dest.textColour);
        result.monoWhite = PixelFromColorRef(dest.backgroundColour);
    } else if (!sourceMono && destMono) {
        result.conversion = SourceConversion::ColourToMonoByKey;
        result.key = PixelFromColorRef(source.backgroundColour);
    }
    return result;
}

bool ClipBlitRect(BlitRect* rect, int destWidth, int destHeight, const BlitSource* source) {
    const int64_t sourceWidth = source ? source->width : 0;
    const int64_t sourceHeight = source ? source->height : 0;
    return ClipAxis(&rect->destX, &rect->sourceX, &rect->width, destWidth, source ? &sourceWidth : nullptr) &&
           ClipAxis(&rect->destY, &rect->sourceY, &rect->height, destHeight, source ? &sourceHeight : nullptr);
}

bool RunBlit(PixelSurface& dest, const BlitRect& rect, const BlitSource* source, uint8_t rop3) {
    const int width = static_cast<int>(rect.width);
    // Another surface of the same depth is read in place: its rows are whole words and need no conversion.
    const bool inPlace = source && source->surface != nullptr && source->surface != &dest &&
                         source->conversion == SourceConversion::None;
    std::vector<uint32_t> row;
    if (source && !inPlace) {
        try {
            row.resize(static_cast<size_t>(width));
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    // Copying a surface onto itself further down runs from the bottom row up, so that every source row
    // is read before it is overwritten; within a row the row buffer takes care of overlap.
    const bool upwards = source && source->surface == &dest && rect.destY > rect.sourceY;
    for (int64_t i = 0; i < rect.height; ++i) {
        const int64_t k = upwards ? rect.height - 1 - i : i;
        uint32_t* destRow = dest.Row(static_cast<int>(rect.destY + k)) + rect.destX;
        const uint32_t* sourceRow = nullptr;
        if (inPlace) {
            sourceRow = source->surface->Row(static_cast<int>(rect.sourceY + k)) + rect.sourceX;
        } else if (source) {
            ReadSourceRow(*source, rect.sourceY + k, rect.sourceX, width, row.data());
            sourceRow = row.data();
        }
        CombineRow(rop3, sourceRow, destRow, width);
    }
    dest.NotifyChanged();
    return true;
}

}  // namespace w32

using namespace w32;

extern "C" BOOL WINAPI BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX,
                              int sourceY, DWORD rop) {
    DeviceContextObject* destDC = FindDC(dest);
    if (!destDC) return FALSE;
    const uint8_t rop3 = Rop3Index(rop);
    DeviceContextObject* sourceDC = nullptr;
    // Operations that read no source (BLACKNESS, WHITENESS, DSTINVERT...) ignore the source DC entirely.
    if (RopReadsSource(rop3) && !(sourceDC = FindDC(source))) return FALSE;
    return Blit(*destDC, BlitRect{x, y, sourceX, sourceY, width, height}, sourceDC, rop3);
}

extern "C" BOOL WINAPI PatBlt(HDC dc, int x, int y, int width, int height, DWORD rop) {
    DeviceContextObject* destDC = FindDC(dc);
    if (!destDC) return FALSE;
    const uint8_t rop3 = Rop3Index(rop);
    if (RopReadsSource(rop3)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return Blit(*destDC, BlitRect{x, y, 0, 0, width, height}, nullptr, rop3);
}

extern "C" COLORREF WINAPI GetPixel(HDC dc, int x, int y) {
    DeviceContextObject* object = FindDC(dc);
    if (!object) return CLR_INVALID;
    const PixelSurface& target = object->Target();
    if (x < 0 || y < 0 || x >= target.width || y >= target.height) return CLR_INVALID;
    return ColorRefFromPixel(target.Row(y)[x] & kColourMask);
}

extern "C" COLORREF WINAPI SetPixel(HDC dc, int x, int y, COLORREF colour) {
    DeviceContextObject* object = FindDC(dc);
    if (!object) return static_cast<COLORREF>(-1);
    PixelSurface& target = object->Target();
    if (x < 0 || y < 0 || x >= target.width || y >= target.height) return static_cast<COLORREF>(-1);
    uint32_t pixel = PixelFromColorRef(colour);
    if (target.bitsPerPixel == 1) pixel = NearestMonoPixel(pixel);
    target.Row(y)[x] = pixel;
    target.NotifyChanged();
    return ColorRefFromPixel(pixel);  // the colour actually set, as Windows reports it
}
