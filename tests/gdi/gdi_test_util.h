// Helpers for the GDI tests: the screen DC, memory canvases, pixel fill and read-back, leak checks.
// On the layer a screen-sized window DC from its internal hook plays GetDC(NULL), so that a test can choose
// its size; on Windows it is GetDC(NULL) itself.
#ifndef PELOMI_TESTS_GDI_TEST_UTIL_H
#define PELOMI_TESTS_GDI_TEST_UTIL_H

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "test_window.h"
#ifndef _WIN32
#include "base/pixel_surface.h"
#include "gdi/gdi_internal.h"
#endif

namespace gditest {

// A 32-bit display DC (what GetDC(NULL) gives on Windows); the size asked for is the layer's only.
class ScreenDC {
  public:
#ifdef _WIN32
    explicit ScreenDC(int = 640, int = 480) : dc_(GetDC(nullptr)) {}
    ~ScreenDC() { ReleaseDC(nullptr, dc_); }
#else
    explicit ScreenDC(int width = 640, int height = 480) : surface_(std::make_shared<w32::PixelSurface>()) {
        surface_->Resize(width, height);
        dc_ = w32::CreateWindowDC(nullptr, surface_);
    }
    ~ScreenDC() { w32::ReleaseWindowDC(nullptr, dc_); }
#endif
    ScreenDC(const ScreenDC&) = delete;
    ScreenDC& operator=(const ScreenDC&) = delete;
    HDC dc() const { return dc_; }

  private:
#ifndef _WIN32
    std::shared_ptr<w32::PixelSurface> surface_;
#endif
    HDC dc_;
};

// A memory DC with its own bitmap selected (32-bit, or monochrome); put back and deleted at scope end.
class Canvas {
  public:
    Canvas(int width, int height, bool monochrome = false) {
        dc_ = CreateCompatibleDC(nullptr);
        if (monochrome) {
            bitmap_ = CreateCompatibleBitmap(dc_, width, height);  // the DC still holds the 1-bit default
        } else {
            ScreenDC screen(1, 1);
            bitmap_ = CreateCompatibleBitmap(screen.dc(), width, height);
        }
        previous_ = static_cast<HBITMAP>(SelectObject(dc_, bitmap_));
    }
    ~Canvas() {
        SelectObject(dc_, previous_);
        DeleteDC(dc_);
        DeleteObject(bitmap_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    HDC dc() const { return dc_; }
    HBITMAP bitmap() const { return bitmap_; }

  private:
    HDC dc_;
    HBITMAP bitmap_;
    HBITMAP previous_;
};

// Pixels as 0x00RRGGBB, top row first, written and read with SetPixel and GetPixel only.
inline uint32_t Swap(uint32_t value) {
    return ((value & 0xFF) << 16) | (value & 0xFF00) | ((value >> 16) & 0xFF);
}
inline void Paint(HDC dc, int width, int height, const std::vector<uint32_t>& pixels) {
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) SetPixel(dc, x, y, Swap(pixels[y * width + x]));
}
inline std::vector<uint32_t> Peek(HDC dc, int width, int height) {
    std::vector<uint32_t> pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) pixels.push_back(Swap(GetPixel(dc, x, y)));
    return pixels;
}

// A bitmap's pixels read with GetDIBits as a top-down 32-bit DIB; empty when that fails.
inline std::vector<uint32_t> ReadBitmap(HBITMAP bitmap) {
    BITMAP record;
    if (GetObjectA(bitmap, sizeof record, &record) != static_cast<int>(sizeof record)) return {};
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = record.bmWidth;
    info.bmiHeader.biHeight = -record.bmHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> pixels(static_cast<size_t>(record.bmWidth) * record.bmHeight);
    HDC dc = CreateCompatibleDC(nullptr);
    int lines = GetDIBits(dc, bitmap, 0, record.bmHeight, pixels.data(), &info, DIB_RGB_COLORS);
    DeleteDC(dc);
    if (lines != record.bmHeight) return {};
    return pixels;
}

// Fails the test when it leaves handles behind.
class HandleLeakCheck : public ::testing::Test {
  protected:
    void SetUp() override { before_ = testwin::LiveHandleCount(); }
    void TearDown() override { EXPECT_EQ(testwin::LiveHandleCount(), before_) << "leaked handles"; }

  private:
    size_t before_ = 0;
};

}  // namespace gditest

#endif
