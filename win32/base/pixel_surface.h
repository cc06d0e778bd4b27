// The pixels behind a bitmap or a window's client area: 32 bits per pixel, 0x00RRGGBB, top row first.
// Leaves out palettes and every other depth; a 1-bit bitmap is held here as black or white 32-bit words.
#ifndef PELOMI_WIN32_PIXEL_SURFACE_H
#define PELOMI_WIN32_PIXEL_SURFACE_H

#include <cstdint>
#include <functional>
#include <vector>

namespace w32 {

struct PixelSurface {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 32;  // 1 for the monochrome bitmaps Windows hands out by default
    std::vector<uint32_t> pixels;  // width * height words, row by row from the top

    // Called after GDI has written to the surface; a window's surface uses it to reach the screen at once.
    std::function<void()> changed;

    void Resize(int newWidth, int newHeight, uint32_t fill = 0) {
        width = newWidth;
        height = newHeight;
        pixels.assign(static_cast<size_t>(newWidth) * static_cast<size_t>(newHeight), fill);
    }
    uint32_t* Row(int y) { return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width); }
    const uint32_t* Row(int y) const { return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width); }
    void NotifyChanged() const {
        if (changed) changed();
    }
};

}  // namespace w32

#endif
