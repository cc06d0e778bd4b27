// A window's state: frame metrics and placement (MoveWindow, ShowWindow, the rects, AdjustWindowRectEx),
// enabled state, parent, menu, text and GetWindowLongA. Leaves out z-order, minimize/maximize, size limits after creation and
// SetWindowLong (activation is in activation.cpp).
#include <windows.h>

#include <algorithm>

#include "user/display_backend.h"
#include "user/window_object.h"

namespace w32 {
namespace {

// Windows 10 at 96 dpi: a sizing frame is 8 pixels (SM_CXSIZEFRAME plus SM_CXPADDEDBORDER), a dialog frame
// 3 (SM_CXFIXEDFRAME), a thin border 1; the caption is 23 (SM_CYCAPTION) and a one-line menu bar 20
// (SM_CYMENU).
constexpr int kSizingFrame = 8;
constexpr int kDialogFrame = 3;
constexpr int kThinBorder = 1;
constexpr int kCaptionHeight = 23;
constexpr int kMenuBarHeight = 20;

bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

void SyncTree(const WindowObject* window) {
    SyncRegisteredWindow(window);
    for (HWND child : window->children) {
        if (const WindowObject* childObject = PeekWindowObject(child)) SyncTree(childObject);
    }
}

// What a size change leaves to repaint: everything with the redraw style of the changed direction,
// otherwise the newly uncovered strips (kept as one bounding rectangle).
void InvalidateAfterResize(WindowObject* window, int oldWidth, int oldHeight) {
    int width = window->ClientWidth();
    int height = window->ClientHeight();
    UINT classStyle = window->windowClass->style;
    if (((classStyle & CS_HREDRAW) && width != oldWidth) || ((classStyle & CS_VREDRAW) && height != oldHeight)) {
        InvalidateClient(window, nullptr, true);
        return;
    }
    if (width > oldWidth) {
        RECT strip{oldWidth, 0, width, height};
        InvalidateClient(window, &strip, true);
    }
    if (height > oldHeight) {
        RECT strip{0, oldHeight, width, height};
        InvalidateClient(window, &strip, true);
    }
}

}  // namespace

FrameInsets NonClientInsets(DWORD style, DWORD exStyle, bool hasMenuBar) {
    int frame = 0;
    if (style & WS_THICKFRAME)
        frame = kSizingFrame;
    else if ((style & WS_DLGFRAME) || (exStyle & WS_EX_DLGMODALFRAME))
        frame = kDialogFrame;
    else if (style & WS_BORDER)
        frame = kThinBorder;
    int top = frame;
    if ((style & WS_CAPTION) == WS_CAPTION) top += kCaptionHeight;
    if (hasMenuBar) top += kMenuBarHeight;
    return FrameInsets{frame, top, frame, frame};
}

bool IsShownOnScreen(const WindowObject* window) {
    for (int depth = 0; window != nullptr && depth < 64; ++depth) {
        if (!(window->style & WS_VISIBLE)) return false;
        if (!window->IsChild()) return true;
        window = PeekWindowObject(window->parent);
    }
    return false;
}

POINT ClientOriginOnScreen(const WindowObject* window) {
    RECT client = ToScreen(window, window->clientRect);
    return POINT{client.left, client.top};
}

RECT ToScreen(const WindowObject* window, const RECT& rect) {
    RECT result = rect;
    const WindowObject* parent = window->IsChild() ? PeekWindowObject(window->parent) : nullptr;
    if (parent != nullptr) {
        POINT origin = ClientOriginOnScreen(parent);
        result.left += origin.x;
        result.right += origin.x;
        result.top += origin.y;
        result.bottom += origin.y;
    }
    return result;
}

LPARAM ClientSizeParam(const WindowObject* window) {
    return MAKELPARAM(window->ClientWidth(), window->ClientHeight());
}

LPARAM ClientOriginParam(const WindowObject* window) {
    return MAKELPARAM(window->clientRect.left, window->clientRect.top);
}

bool SetWindowPlacement(HWND window, int x, int y, int width, int height, UINT flags) {
    WindowObject* object = FindWindowObject(window);
    if (object == nullptr) return false;
    WINDOWPOS pos{};
    pos.hwnd = window;
    pos.x = (flags & SWP_NOMOVE) ? object->windowRect.left : x;
    pos.y = (flags & SWP_NOMOVE) ? object->windowRect.top : y;
    pos.cx = (flags & SWP_NOSIZE) ? object->windowRect.right - object->windowRect.left : width;
    pos.cy = (flags & SWP_NOSIZE) ? object->windowRect.bottom - object->windowRect.top : height;
    const bool activate = (flags & SWP_SHOWWINDOW) && !(flags & SWP_NOACTIVATE) && !object->IsChild();
    pos.flags = flags | SWP_NOZORDER | (activate ? 0u : static_cast<UINT>(SWP_NOACTIVATE));
    // Windows marks what does not change before anyone sees the request.
    if (pos.x == object->windowRect.left && pos.y == object->windowRect.top) pos.flags |= SWP_NOMOVE;
    if (pos.cx == object->windowRect.right - object->windowRect.left &&
        pos.cy == object->windowRect.bottom - object->windowRect.top)
        pos.flags |= SWP_NOSIZE;
    SendMessageA(window, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
    if (PeekWindowObject(window) == nullptr) return false;

    const RECT oldWindow = object->windowRect;
    const RECT oldClient = object->clientRect;
    if (!(pos.flags & SWP_NOMOVE)) {
        object->windowRect = RECT{pos.x, pos.y, pos.x + (oldWindow.right - oldWindow.left),
                                  pos.y + (oldWindow.bottom - oldWindow.top)};
        const LONG dx = pos.x - oldWindow.left;
        const LONG dy = pos.y - oldWindow.top;
        object->clientRect =
            RECT{oldClient.left + dx, oldClient.top + dy, oldClient.right + dx, oldClient.bottom + dy};
    }
    if (!(pos.flags & SWP_NOSIZE)) {
        object->windowRect.right = object->windowRect.left + std::max(pos.cx, 0);
        object->windowRect.bottom = object->windowRect.top + std::max(pos.cy, 0);
        NCCALCSIZE_PARAMS params{};
        params.rgrc[0] = object->windowRect;
        params.rgrc[1] = oldWindow;
        params.rgrc[2] = oldClient;
        params.lppos = &pos;
        SendMessageA(window, WM_NCCALCSIZE, TRUE, reinterpret_cast<LPARAM>(&params));
        if (PeekWindowObject(window) == nullptr) return false;
        RECT client = params.rgrc[0];
        client.right = std::max(client.right, client.left);
        client.bottom = std::max(client.bottom, client.top);
        object->clientRect = client;
    }

    const int oldWidth = oldClient.right - oldClient.left;
    const int oldHeight = oldClient.bottom - oldClient.top;
    const bool clientSized = object->ClientWidth() != oldWidth || object->ClientHeight() != oldHeight;
    const bool clientMoved = object->clientRect.left != oldClient.left || object->clientRect.top != oldClient.top;
    if (!clientSized) pos.flags |= kSwpClientSizeUnchanged;
    if (!clientMoved) pos.flags |= kSwpClientMoveUnchanged;
    if (clientSized) {
        object->surface.Resize(object->ClientWidth(), object->ClientHeight());
        if (!(pos.flags & SWP_NOREDRAW)) InvalidateAfterResize(object, oldWidth, oldHeight);
    }
    if (!SameRect(object->windowRect, oldWindow)) {
        SyncTree(object);
        if (object->announced)
            CurrentDisplay().WindowMoved(window, ToScreen(object, object->windowRect),
                                         ToScreen(object, object->clientRect));
    }
    if (clientSized && object->announced) CurrentDisplay().SurfaceChanged(window, *object->surface.Pixels());

    bool hidden = false;
    if ((pos.flags & SWP_SHOWWINDOW) && !(object->style & WS_VISIBLE)) {
        object->style |= WS_VISIBLE;
        InvalidateClient(object, nullptr, true);
        if (object->announced) CurrentDisplay().WindowShown(window, true);
    } else if ((pos.flags & SWP_HIDEWINDOW) && (object->style & WS_VISIBLE)) {
        object->style &= ~WS_VISIBLE;
        hidden = true;
        if (object->announced) CurrentDisplay().WindowShown(window, false);
    }
    // A shown window is activated before WM_WINDOWPOSCHANGED; a hidden one hands activation on after it.
    if (activate) ActivateShownWindow(window);
    if (PeekWindowObject(window) == nullptr) return false;
    SendMessageA(window, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
    if (hidden) HandOnActivation(window);
    return PeekWindowObject(window) != nullptr;
}

}  // namespace w32

using namespace w32;

// Every command but SW_HIDE shows the window as it is (our layer has no minimized or maximized state).
// The first showing of an overlapped window brings its first WM_SIZE and WM_MOVE, as on Windows.
extern "C" BOOL WINAPI ShowWindow(HWND window, int command) {
    WindowObject* object = FindWindowObject(window);
    if (object == nullptr) return FALSE;
    const bool wasVisible = (object->style & WS_VISIBLE) != 0;
    const bool show = command != SW_HIDE;
    if (show == wasVisible) return wasVisible ? TRUE : FALSE;
    SendMessageA(window, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
    if (PeekWindowObject(window) == nullptr) return wasVisible ? TRUE : FALSE;
    const bool activate = command != SW_SHOWNOACTIVATE && command != SW_SHOWNA && command != SW_SHOWMINNOACTIVE &&
                          command != SW_MINIMIZE;
    SetWindowPlacement(window, 0, 0, 0, 0,
                       SWP_NOSIZE | SWP_NOMOVE | (show ? SWP_SHOWWINDOW : SWP_HIDEWINDOW) |
                           (activate ? 0u : static_cast<UINT>(SWP_NOACTIVATE)));
    object = PeekWindowObject(window);
    if (object != nullptr && show && object->needSizeMessages) {
        object->needSizeMessages = false;
        SendMessageA(window, WM_SIZE, SIZE_RESTORED, ClientSizeParam(object));
        object = PeekWindowObject(window);
        if (object != nullptr) SendMessageA(window, WM_MOVE, 0, ClientOriginParam(object));
    }
    return wasVisible ? TRUE : FALSE;
}

extern "C" BOOL WINAPI MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0u : static_cast<UINT>(SWP_NOREDRAW));
    return SetWindowPlacement(window, x, y, width, height, flags) ? TRUE : FALSE;
}

extern "C" BOOL WINAPI GetClientRect(HWND window, LPRECT rect) {
    WindowObject* object = FindWindowObjectFor(window, rect);
    if (object == nullptr) return FALSE;
    *rect = RECT{0, 0, object->ClientWidth(), object->ClientHeight()};
    return TRUE;
}

extern "C" BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
    WindowObject* object = FindWindowObjectFor(window, rect);
    if (object == nullptr) return FALSE;
    *rect = ToScreen(object, object->windowRect);
    return TRUE;
}

// The frame, caption and menu bar of NonClientInsets around `rect`. Our choice: a null rect fails with
// ERROR_INVALID_PARAMETER.
extern "C" BOOL WINAPI AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL menu, DWORD exStyle) {
    if (rect == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const FrameInsets insets = NonClientInsets(style, exStyle, menu != FALSE);
    *rect = RECT{rect->left - insets.left, rect->top - insets.top, rect->right + insets.right,
                 rect->bottom + insets.bottom};
    return TRUE;
}

extern "C" BOOL WINAPI IsWindowVisible(HWND window) {
    WindowObject* object = FindWindowObject(window);
    return object != nullptr && IsShownOnScreen(object) ? TRUE : FALSE;
}

extern "C" BOOL WINAPI IsWindowEnabled(HWND window) {
    WindowObject* object = FindWindowObject(window);
    return object != nullptr && !(object->style & WS_DISABLED) ? TRUE : FALSE;
}

// Returns whether the window was disabled before; WM_ENABLE comes only when the state changes.
extern "C" BOOL WINAPI EnableWindow(HWND window, BOOL enable) {
    WindowObject* object = FindWindowObject(window);
    if (object == nullptr) return FALSE;
    const bool wasDisabled = (object->style & WS_DISABLED) != 0;
    if ((enable != FALSE) == !wasDisabled) return wasDisabled ? TRUE : FALSE;
    if (enable)
        object->style &= ~WS_DISABLED;
    else
        object->style |= WS_DISABLED;
    SyncRegisteredWindow(object);
    if (object->announced) CurrentDisplay().WindowEnabled(window, enable != FALSE);
    SendMessageA(window, WM_ENABLE, enable ? TRUE : FALSE, 0);
    return wasDisabled ? TRUE : FALSE;
}

// A child window's parent, a pop-up's owner, and null for other top-level windows, as Windows documents.
extern "C" HWND WINAPI GetParent(HWND window) {
    WindowObject* object = FindWindowObject(window);
    if (object == nullptr) return nullptr;
    if (object->IsChild()) return object->parent;
    return (object->style & WS_POPUP) ? object->owner : nullptr;
}

extern "C" HMENU WINAPI GetMenu(HWND window) {
    WindowObject* object = FindWindowObject(window);
    if (object == nullptr) return nullptr;
    return object->HasMenuBar() ? object->menu : nullptr;
}

extern "C" int WINAPI GetWindowTextA(HWND window, LPSTR text, int maxCount) {
    if (FindWindowObject(window) == nullptr) {
        if (text != nullptr && maxCount > 0) text[0] = '\0';
        return 0;
    }
    return static_cast<int>(SendMessageA(window, WM_GETTEXT, static_cast<WPARAM>(maxCount > 0 ? maxCount : 0),
                                         reinterpret_cast<LPARAM>(text)));
}

extern "C" BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
    if (FindWindowObject(window) == nullptr) return FALSE;
    return SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != 0 ? TRUE : FALSE;
}

// The window values dialogs and their controls are read by. Our choice: GWL_ID of a top-level window is 0 (its
// menu handle on Windows), and the other indexes fail with ERROR_INVALID_INDEX.
extern "C" LONG WINAPI GetWindowLongA(HWND window, int index) {
    WindowObject* object = FindWindowObject(window);
    if (object == nullptr) return 0;
    switch (index) {
    case GWL_STYLE:
        return static_cast<LONG>(object->style);
    case GWL_EXSTYLE:
        return static_cast<LONG>(object->exStyle);
    case GWL_ID:
        return object->IsChild() ? static_cast<LONG>(reinterpret_cast<uintptr_t>(object->menu)) : 0;
    default:
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
}
