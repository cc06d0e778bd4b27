// Painting: client surfaces, the update region (as a list of rectangles), InvalidateRect, UpdateWindow,
// GetDC (NULL: the screen), BeginPaint, FillRect, system colours. Leaves out region calls, clipping drawing to
// the update region (only the erase is confined to it) and ValidateRect.
#include <windows.h>

#include <algorithm>

#include "gdi/gdi_internal.h"
#include "user/display_backend.h"
#include "user/message_queue.h"
#include "user/window_object.h"

namespace w32 {
namespace {

// Windows 10's default scheme, indexed by COLOR_ value; our choice of the one Windows leaves to the user.
constexpr COLORREF kSystemColours[] = {
    RGB(200, 200, 200),  // COLOR_SCROLLBAR
    RGB(0, 0, 0),        // COLOR_BACKGROUND
    RGB(153, 180, 209),  // COLOR_ACTIVECAPTION
    RGB(191, 205, 219),  // COLOR_INACTIVECAPTION
    RGB(240, 240, 240),  // COLOR_MENU
    RGB(255, 255, 255),  // COLOR_WINDOW
    RGB(100, 100, 100),  // COLOR_WINDOWFRAME
    RGB(0, 0, 0),        // COLOR_MENUTEXT
    RGB(0, 0, 0),        // COLOR_WINDOWTEXT
    RGB(0, 0, 0),        // COLOR_CAPTIONTEXT
    RGB(180, 180, 180),  // COLOR_ACTIVEBORDER
    RGB(244, 247, 252),  // COLOR_INACTIVEBORDER
    RGB(171, 171, 171),  // COLOR_APPWORKSPACE
    RGB(0, 120, 215),    // COLOR_HIGHLIGHT
    RGB(255, 255, 255),  // COLOR_HIGHLIGHTTEXT
    RGB(240, 240, 240),  // COLOR_BTNFACE
    RGB(160, 160, 160),  // COLOR_BTNSHADOW
    RGB(109, 109, 109),  // COLOR_GRAYTEXT
    RGB(0, 0, 0),        // COLOR_BTNTEXT
    RGB(0, 0, 0),        // COLOR_INACTIVECAPTIONTEXT
    RGB(255, 255, 255),  // COLOR_BTNHIGHLIGHT
    RGB(105, 105, 105),  // COLOR_3DDKSHADOW
    RGB(227, 227, 227),  // COLOR_3DLIGHT
    RGB(0, 0, 0),        // COLOR_INFOTEXT
    RGB(255, 255, 225),  // COLOR_INFOBK
    RGB(0, 0, 0),        // (unused)
    RGB(0, 102, 204),    // COLOR_HOTLIGHT
    RGB(185, 209, 234),  // COLOR_GRADIENTACTIVECAPTION
    RGB(215, 228, 242),  // COLOR_GRADIENTINACTIVECAPTION
    RGB(51, 153, 255),   // COLOR_MENUHILIGHT
    RGB(240, 240, 240),  // COLOR_MENUBAR
};
constexpr int kSystemColourCount = static_cast<int>(sizeof(kSystemColours) / sizeof(kSystemColours[0]));

bool Contains(const RECT& outer, const RECT& inner) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

// What GetDC(NULL) draws on: a screen-sized surface nobody shows. Our choice: it starts black and is made
// on first use.
std::shared_ptr<PixelSurface> ScreenSurface() {
    static const std::shared_ptr<PixelSurface> screen = [] {
        auto surface = std::make_shared<PixelSurface>();
        SIZE size = DisplayScreenSize();
        surface->Resize(size.cx, size.cy, 0);
        return surface;
    }();
    return screen;
}

void PaintNow(HWND window) {
    WindowObject* object = PeekWindowObject(window);
    if (object == nullptr) return;
    if (object->hasUpdate && IsShownOnScreen(object)) {
        SendMessageA(window, WM_PAINT, 0, 0);
        object = PeekWindowObject(window);
        if (object == nullptr) return;
    }
    std::vector<HWND> children = object->children;
    for (HWND child : children) PaintNow(child);
}

}  // namespace

WindowSurface::WindowSurface() : pixels_(std::make_shared<PixelSurface>()) {}

WindowSurface::~WindowSurface() { Detach(); }

void WindowSurface::Attach(HWND window) {
    PixelSurface* pixels = pixels_.get();  // the callback lives inside the surface it reports on
    pixels_->changed = [window, pixels] { CurrentDisplay().SurfaceChanged(window, *pixels); };
}

void WindowSurface::Detach() { pixels_->changed = nullptr; }

void WindowSurface::Resize(int width, int height) {
    PixelSurface& surface = *pixels_;
    if (surface.width == width && surface.height == height) return;
    std::vector<uint32_t> old = std::move(surface.pixels);
    const int oldWidth = surface.width;
    const int oldHeight = surface.height;
    surface.Resize(width, height, 0);
    const int keptWidth = std::min(width, oldWidth);
    const int keptHeight = std::min(height, oldHeight);
    for (int y = 0; y < keptHeight; ++y) {
        const uint32_t* from = old.data() + static_cast<size_t>(y) * static_cast<size_t>(oldWidth);
        std::copy(from, from + keptWidth, surface.Row(y));
    }
}

void InvalidateClient(WindowObject* window, const RECT* rect, bool erase) {
    RECT area = rect != nullptr ? *rect : RECT{0, 0, window->ClientWidth(), window->ClientHeight()};
    area.left = std::max<LONG>(area.left, 0);
    area.top = std::max<LONG>(area.top, 0);
    area.right = std::min<LONG>(area.right, window->ClientWidth());
    area.bottom = std::min<LONG>(area.bottom, window->ClientHeight());
    if (area.right <= area.left || area.bottom <= area.top) return;
    // Our choice: past kMaxUpdateParts rectangles the region becomes its bounding rectangle.
    constexpr size_t kMaxUpdateParts = 32;
    std::vector<RECT>& parts = window->updateParts;
    if (!window->hasUpdate) {
        window->update = area;
        window->hasUpdate = true;
        parts.assign(1, area);
    } else if (!std::any_of(parts.begin(), parts.end(), [&](const RECT& part) { return Contains(part, area); })) {
        RECT& update = window->update;
        update.left = std::min(update.left, area.left);
        update.top = std::min(update.top, area.top);
        update.right = std::max(update.right, area.right);
        update.bottom = std::max(update.bottom, area.bottom);
        parts.erase(std::remove_if(parts.begin(), parts.end(), [&](const RECT& part) { return Contains(area, part); }),
                    parts.end());
        parts.push_back(area);
        if (parts.size() > kMaxUpdateParts) parts.assign(1, update);
    }
    // Documented: erasing asked for any part erases the whole update region.
    if (erase) window->eraseUpdate = true;
}

bool SystemBrushPixel(HBRUSH brush, uint32_t* pixel) {
    auto value = reinterpret_cast<uintptr_t>(brush);
    if (value < 1 || value > static_cast<uintptr_t>(kSystemColourCount)) return false;
    COLORREF colour = kSystemColours[value - 1];
    *pixel = (static_cast<uint32_t>(GetRValue(colour)) << 16) | (static_cast<uint32_t>(GetGValue(colour)) << 8) |
             GetBValue(colour);
    return true;
}

}  // namespace w32

using namespace w32;

extern "C" DWORD WINAPI GetSysColor(int index) {
    if (index < 0 || index >= kSystemColourCount) return 0;
    return kSystemColours[index];
}

// Our choice: a null window invalidates every window of the calling thread (Windows: of the whole screen).
extern "C" BOOL WINAPI InvalidateRect(HWND window, const RECT* rect, BOOL erase) {
    if (window == nullptr) {
        std::vector<HWND> windows = CurrentThreadQueue()->windows;
        for (HWND each : windows) {
            if (WindowObject* object = PeekWindowObject(each)) InvalidateClient(object, nullptr, erase != FALSE);
        }
        return TRUE;
    }
    WindowObject* object = FindWindowObject(window);
    if (object == nullptr) return FALSE;
    InvalidateClient(object, rect, erase != FALSE);
    return TRUE;
}

// Paints the window, then its children, now, if they have something to paint (WM_PAINT sent directly).
extern "C" BOOL WINAPI UpdateWindow(HWND window) {
    if (FindWindowObject(window) == nullptr) return FALSE;
    PaintNow(window);
    return TRUE;
}

extern "C" HDC WINAPI GetDC(HWND window) {
    if (window == nullptr) return CreateWindowDC(nullptr, ScreenSurface());
    WindowObject* object = FindWindowObject(window);
    if (object == nullptr) return nullptr;
    return CreateWindowDC(window, object->surface.Pixels());
}

// Releases the DC even when its window is already gone, so nothing leaks.
extern "C" int WINAPI ReleaseDC(HWND window, HDC dc) { return ReleaseWindowDC(window, dc) ? 1 : 0; }

// Validates the window, has the background erased if the update asked for it (WM_ERASEBKGND with the DC in
// wParam; fErase reports a background left unerased), and returns a DC on the client surface.
extern "C" HDC WINAPI BeginPaint(HWND window, LPPAINTSTRUCT paint) {
    WindowObject* object = FindWindowObjectFor(window, paint);
    if (object == nullptr) return nullptr;
    const RECT area = object->hasUpdate ? object->update : RECT{0, 0, 0, 0};
    const bool erase = object->hasUpdate && object->eraseUpdate;
    std::vector<RECT> parts = std::move(object->updateParts);
    object->updateParts.clear();
    object->hasUpdate = false;
    object->eraseUpdate = false;
    HDC dc = CreateWindowDC(window, object->surface.Pixels());
    if (dc == nullptr) return nullptr;
    BOOL leftUnerased = FALSE;
    if (erase) {
        object->erasing = true;
        object->eraseParts = std::move(parts);
        LRESULT erased = SendMessageA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        if (WindowObject* still = PeekWindowObject(window)) still->erasing = false;
        leftUnerased = erased == 0 ? TRUE : FALSE;
    }
    *paint = PAINTSTRUCT{};
    paint->hdc = dc;
    paint->fErase = leftUnerased;
    paint->rcPaint = area;
    return dc;
}

// Always nonzero, as Windows documents; releases the DC that BeginPaint gave.
extern "C" BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT* paint) {
    if (paint != nullptr && paint->hdc != nullptr) ReleaseWindowDC(window, paint->hdc);
    return TRUE;
}

// Brushes are the system-colour form (HBRUSH)(COLOR_x + 1) or a stock brush; the rectangle's right and bottom edges are
// not filled, as on Windows.
extern "C" int WINAPI FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
    if (rect == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    uint32_t pixel;
    if (!SystemBrushPixel(brush, &pixel) && !StockBrushPixel(brush, &pixel)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return FillDCRect(dc, *rect, pixel) ? 1 : 0;
}
