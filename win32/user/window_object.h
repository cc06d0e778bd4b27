// The objects behind window classes and HWNDs, and the helpers USER's files share to reach them.
// Leaves out class and window extra bytes, window properties, subclassing and non-client painting.
#ifndef PELOMI_WIN32_WINDOW_OBJECT_H
#define PELOMI_WIN32_WINDOW_OBJECT_H

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/handle_table.h"
#include "base/pixel_surface.h"

namespace w32 {

struct ThreadQueue;

struct WindowClass {
    std::string name;
    ATOM atom = 0;
    UINT style = 0;
    WNDPROC proc = nullptr;
    HINSTANCE instance = nullptr;
    HICON icon = nullptr;
    HICON smallIcon = nullptr;
    HCURSOR cursor = nullptr;
    HBRUSH background = nullptr;
    LPCSTR menuName = nullptr;  // points into menuNameText, or an integer resource
    std::string menuNameText;
    std::atomic<int> windowCount{0};
};

// Registered classes by name (case-insensitive, like Windows) or by atom; null when unknown.
std::shared_ptr<WindowClass> FindWindowClass(LPCSTR nameOrAtom);

// The pixels of a window's client area, shared with the device contexts drawn on it. Every change GDI
// reports goes straight to the display backend.
class WindowSurface {
public:
    WindowSurface();
    ~WindowSurface();
    WindowSurface(const WindowSurface&) = delete;
    WindowSurface& operator=(const WindowSurface&) = delete;

    const std::shared_ptr<PixelSurface>& Pixels() const { return pixels_; }
    // Keeps the part both sizes share at the top left, as a window without redraw styles does; the new
    // part starts black until it is painted.
    void Resize(int width, int height);
    // Starts reporting changes as changes of `window`.
    void Attach(HWND window);
    // Stops reporting changes (the window is gone; a DC may still hold the pixels).
    void Detach();

private:
    std::shared_ptr<PixelSurface> pixels_;
};

struct WindowObject : HandleObject {
    static constexpr HandleKind Kind = HandleKind::Window;
    WindowObject() : HandleObject(Kind) {}

    HWND handle = nullptr;
    std::shared_ptr<WindowClass> windowClass;
    std::shared_ptr<ThreadQueue> queue;
    std::thread::id ownerThread;
    WNDPROC proc = nullptr;
    DWORD style = 0;  // WS_VISIBLE and WS_DISABLED hold the visibility and enabled state, as on Windows
    DWORD exStyle = 0;
    HWND parent = nullptr;       // child windows
    HWND owner = nullptr;        // top-level windows
    std::vector<HWND> children;  // in creation order
    HMENU menu = nullptr;        // top-level windows: the menu bar; child windows: the control id
    HINSTANCE instance = nullptr;
    std::string text;
    // Both in the parent's client coordinates for child windows, in screen coordinates otherwise.
    RECT windowRect{};
    RECT clientRect{};
    bool destroying = false;
    bool announced = false;         // the display backend has been told about the window
    bool needSizeMessages = false;  // top-level windows get their first WM_SIZE/WM_MOVE when first shown

    // The update region in client coordinates: the rectangles invalidated (possibly overlapping) and their
    // bounding rectangle, PAINTSTRUCT's rcPaint.
    bool hasUpdate = false;
    bool eraseUpdate = false;
    RECT update{};
    std::vector<RECT> updateParts;
    // While BeginPaint sends WM_ERASEBKGND: the region DefWindowProcA fills.
    bool erasing = false;
    std::vector<RECT> eraseParts;

    WindowSurface surface;

    bool IsChild() const { return (style & WS_CHILD) != 0; }
    bool HasMenuBar() const { return !IsChild() && menu != nullptr; }
    int ClientWidth() const { return clientRect.right - clientRect.left; }
    int ClientHeight() const { return clientRect.bottom - clientRect.top; }
};

// The live window behind a handle; null (and ERROR_INVALID_WINDOW_HANDLE) for anything else.
WindowObject* FindWindowObject(HWND window);
// The same, and also null (with ERROR_INVALID_PARAMETER) when the caller's output pointer is null: our
// choice where Windows would fault.
WindowObject* FindWindowObjectFor(HWND window, const void* output);
// The same without touching the last error, for checks after calling into a window procedure.
WindowObject* PeekWindowObject(HWND window);

// Copies what input delivery checks from any thread (enabled, parent, class style, client origin) to the
// registry; called after each change of those.
void SyncRegisteredWindow(const WindowObject* window);

// The window and every ancestor have WS_VISIBLE.
bool IsShownOnScreen(const WindowObject* window);
// Where the window's client area starts on the screen.
POINT ClientOriginOnScreen(const WindowObject* window);
RECT ToScreen(const WindowObject* window, const RECT& rect);  // rect in the window's parent coordinates

// Frame, caption and menu bar sizes around the client area (Windows 10 at 96 dpi).
struct FrameInsets {
    int left, top, right, bottom;
};
FrameInsets NonClientInsets(DWORD style, DWORD exStyle, bool hasMenuBar);

// Adds `rect` (client coordinates; null for the whole client area) to the update region.
void InvalidateClient(WindowObject* window, const RECT* rect, bool erase);

// The core of SetWindowPos: moves, sizes, shows or hides with the WM_WINDOWPOSCHANGING, WM_NCCALCSIZE,
// WM_WINDOWPOSCHANGED sequence. Flags: SWP_NOSIZE, SWP_NOMOVE, SWP_SHOWWINDOW, SWP_HIDEWINDOW,
// SWP_NOREDRAW. False when the window is invalid or was destroyed on the way.
bool SetWindowPlacement(HWND window, int x, int y, int width, int height, UINT flags);

// SWP flags Windows sets itself in WINDOWPOS when the client area did not move or change size; DefWindowProc
// sends WM_MOVE and WM_SIZE only when they are clear.
constexpr UINT kSwpClientSizeUnchanged = 0x0800;
constexpr UINT kSwpClientMoveUnchanged = 0x1000;

LPARAM ClientSizeParam(const WindowObject* window);
LPARAM ClientOriginParam(const WindowObject* window);

// Activation (user/activation.cpp): a top-level window just shown becomes the active window; the active
// window being hidden or destroyed hands activation on; a destroyed window is forgotten.
void ActivateShownWindow(HWND window);
void HandOnActivation(HWND window);
void ForgetActiveWindow(HWND window);
// WM_PARENTNOTIFY to a child's parent (and on up) as it is created and as it is destroyed.
void NotifyParentOfCreate(HWND child);
void NotifyParentOfDestroy(HWND child);

// The pixel value (0x00RRGGBB) of a system-colour brush, (HBRUSH)(COLOR_x + 1); false for other brushes.
bool SystemBrushPixel(HBRUSH brush, uint32_t* pixel);

}  // namespace w32

#endif
