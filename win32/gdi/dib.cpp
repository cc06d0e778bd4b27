// GetDIBits and StretchDIBits for 32-bit BI_RGB DIBs copied at 1:1, bottom-up or top-down.
// Leaves out other depths, colour tables, compression and real stretching: those forms fail with 0.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "gdi/gdi_objects.h"
#include "gdi/raster.h"

namespace w32 {
namespace {

bool IsInfoHeaderSize(DWORD size) {
    // BITMAPINFOHEADER and its longer successors, which begin with the same fields.
    return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

bool IsSupportedDib(const BITMAPINFOHEADER& header) {
    return IsInfoHeaderSize(header.biSize) && header.biPlanes == 1 && header.biBitCount == 32 &&
           header.biCompression == BI_RGB && header.biWidth > 0 && header.biHeight != 0 &&
           header.biHeight != INT32_MIN;
}

DWORD DibStride(int64_t width, int64_t bitCount) { return static_cast<DWORD>((width * bitCount + 31) / 32 * 4); }

int Failed() {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

bool IsKnownUsage(UINT usage) { return usage == DIB_RGB_COLORS || usage == DIB_PAL_COLORS; }

// Bits NULL: report the bitmap's own format when biBitCount is 0, else the image size of the asked format.
// Our choice: the nonzero result is the bitmap's height, and a device bitmap reads as BI_RGB (not
// BI_BITFIELDS) because its pixels are plain 0x00RRGGBB.
int QueryFormat(const PixelSurface& surface, BITMAPINFOHEADER* header) {
    if (!IsInfoHeaderSize(header->biSize)) return Failed();
    if (header->biBitCount == 0) {
        header->biWidth = surface.width;
        header->biHeight = surface.height;
        header->biPlanes = 1;
        header->biBitCount = static_cast<WORD>(surface.bitsPerPixel);
        header->biCompression = BI_RGB;
        header->biSizeImage = DibStride(surface.width, surface.bitsPerPixel) * static_cast<DWORD>(surface.height);
        header->biXPelsPerMeter = 0;
        header->biYPelsPerMeter = 0;
        header->biClrUsed = 0;
        header->biClrImportant = 0;
        return surface.height;
    }
    if (!IsSupportedDib(*header)) return Failed();
    const int64_t height = header->biHeight < 0 ? -int64_t{header->biHeight} : header->biHeight;
    header->biSizeImage = static_cast<DWORD>(DibStride(header->biWidth, 32) * height);
    return surface.height;
}

}  // namespace
}  // namespace w32

using namespace w32;

extern "C" int WINAPI GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, LPVOID bits, LPBITMAPINFO info,
                                UINT usage) {
    if (!FindDC(dc)) return 0;
    BitmapObject* object = FindBitmap(bitmap);
    if (!object) return 0;
    if (!info || !IsKnownUsage(usage)) return Failed();
    BITMAPINFOHEADER& header = info->bmiHeader;
    const PixelSurface& surface = object->surface;
    if (!bits) return QueryFormat(surface, &header);

    // Our choice: the DIB must have the bitmap's own width and height; other sizes fail.
    if (!IsSupportedDib(header) || header.biWidth != surface.width ||
        (header.biHeight < 0 ? -header.biHeight : header.biHeight) != surface.height)
        return Failed();
    if (start >= static_cast<UINT>(surface.height)) return 0;
    const UINT count = std::min<UINT>(lines, static_cast<UINT>(surface.height) - start);
    const bool bottomUp = header.biHeight > 0;
    const size_t stride = DibStride(surface.width, 32);
    // Scan lines are numbered in the DIB's own order: from the bottom row for a bottom-up DIB.
    for (UINT i = 0; i < count; ++i) {
        const UINT line = start + i;
        const int row = bottomUp ? surface.height - 1 - static_cast<int>(line) : static_cast<int>(line);
        unsigned char* out = static_cast<unsigned char*>(bits) + i * stride;
        const uint32_t* in = surface.Row(row);
        for (int x = 0; x < surface.width; ++x) {
            const uint32_t pixel = in[x] & kColourMask;  // our choice: the top byte reads as 0
            std::memcpy(out + static_cast<size_t>(x) * 4, &pixel, 4);
        }
    }
    header.biSizeImage = static_cast<DWORD>(stride * static_cast<size_t>(surface.height));
    return static_cast<int>(count);
}

extern "C" int WINAPI StretchDIBits(HDC dc, int destX, int destY, int destWidth, int destHeight, int sourceX,
                                    int sourceY, int sourceWidth, int sourceHeight, const void* bits,
                                    const BITMAPINFO* info, UINT usage, DWORD rop) {
    DeviceContextObject* context = FindDC(dc);
    if (!context) return 0;
    if (!bits || !info || !IsKnownUsage(usage) || !IsSupportedDib(info->bmiHeader)) return Failed();
    // Only 1:1 copies: a different destination size (stretching) or a negative one (mirroring) fails.
    if (destWidth != sourceWidth || destHeight != sourceHeight || sourceWidth < 0 || sourceHeight < 0)
        return Failed();
    const BITMAPINFOHEADER& header = info->bmiHeader;
    const bool bottomUp = header.biHeight > 0;
    const int64_t height = bottomUp ? header.biHeight : -int64_t{header.biHeight};
    const ptrdiff_t stride = static_cast<ptrdiff_t>(DibStride(header.biWidth, 32));

    BlitSource source;
    source.width = header.biWidth;
    source.height = static_cast<int>(height);
    source.topRow = static_cast<const unsigned char*>(bits) + (bottomUp ? (height - 1) * stride : 0);
    source.rowStep = bottomUp ? -stride : stride;
    PixelSurface& target = context->Target();
    if (target.bitsPerPixel == 1) source.conversion = SourceConversion::ColourToMonoNearest;

    // In DIB coordinates a bottom-up image's y runs up from its bottom row, so the rectangle's top row
    // in the picture is height - sourceY - sourceHeight.
    BlitRect rect;
    rect.destX = destX;
    rect.destY = destY;
    rect.sourceX = sourceX;
    rect.sourceY = bottomUp ? height - sourceY - sourceHeight : sourceY;
    rect.width = sourceWidth;
    rect.height = sourceHeight;
    const uint8_t rop3 = Rop3Index(rop);
    const BlitSource* read = RopReadsSource(rop3) ? &source : nullptr;
    if (!ClipBlitRect(&rect, target.width, target.height, read)) return 0;
    if (!RunBlit(target, rect, read, rop3)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    return static_cast<int>(rect.height);  // the scan lines actually copied
}
