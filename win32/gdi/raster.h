// The one copy loop behind BitBlt, PatBlt and StretchDIBits: clipping and ternary raster operations at 1:1.
// Leaves out stretching, mirroring, clip regions and brushes other than the stock white one.
#ifndef PELOMI_WIN32_GDI_RASTER_H
#define PELOMI_WIN32_GDI_RASTER_H

#include <cstddef>
#include <cstdint>

#include "base/pixel_surface.h"
#include "gdi/gdi_objects.h"

namespace w32 {

// A rectangle copied at 1:1; clipping moves the destination and source origins together.
struct BlitRect {
    int64_t destX = 0, destY = 0, sourceX = 0, sourceY = 0, width = 0, height = 0;
};

// How source pixels turn into the destination's format (Windows' rules for BitBlt between depths).
enum class SourceConversion {
    None,
    MonoToColour,        // black takes the destination DC's text colour, white its background colour
    ColourToMonoByKey,   // the source DC's background colour becomes white, every other colour black
    ColourToMonoNearest, // DIB pixels: the nearer of black and white
};

// Source pixels as 32-bit words, 0x00RRGGBB in the low bytes, addressed by image row from the top.
struct BlitSource {
    const unsigned char* topRow = nullptr;  // bytes of the image's top row
    ptrdiff_t rowStep = 0;                  // bytes from one image row to the one below (negative: bottom-up)
    int width = 0;
    int height = 0;
    const PixelSurface* surface = nullptr;  // the surface read, when it is one (overlapping copies)
    SourceConversion conversion = SourceConversion::None;
    uint32_t monoBlack = 0, monoWhite = 0;  // MonoToColour
    uint32_t key = 0;                       // ColourToMonoByKey
};

// The raster operation index of a ROP code (its bits 16..23) and what it reads.
inline uint8_t Rop3Index(DWORD rop) { return static_cast<uint8_t>((rop >> 16) & 0xFF); }
inline bool RopReadsSource(uint8_t rop3) { return ((rop3 >> 2) & 0x33) != (rop3 & 0x33); }
inline bool RopReadsPattern(uint8_t rop3) { return ((rop3 >> 4) & 0x0F) != (rop3 & 0x0F); }

// The source as the source DC appears to the destination DC (depth conversion included).
BlitSource SourceFromDC(DeviceContextObject& source, const DeviceContextObject& dest);

// Clips to the destination surface and, with a source, to the source image; false when nothing is left.
bool ClipBlitRect(BlitRect* rect, int destWidth, int destHeight, const BlitSource* source);

// dest = rop3(pattern, source, dest) over a clipped rectangle; the pattern is the stock white brush.
// Calls dest.NotifyChanged() once. Returns false only when memory for a row runs out.
bool RunBlit(PixelSurface& dest, const BlitRect& rect, const BlitSource* source, uint8_t rop3);

}  // namespace w32

#endif
