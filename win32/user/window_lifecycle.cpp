// CreateWindowExA with Windows' creation messages, DestroyWindow with its destruction order, IsWindow.
// Leaves out focus messages, hooks, MDI and message-only windows (activation and WM_PARENTNOTIFY are sent
// from activation.cpp).
#include <windows.h>

#include <algorithm>
#include <atomic>

#include "base/backend_install.h"
#include "user/display_backend.h"
#include "user/message_queue.h"
#include "user/window_object.h"

namespace w32 {
namespace {

// Our choice: CW_USEDEFAULT puts every overlapped window's corner here; its default size is three quarters
// of the screen.
constexpr POINT kDefaultPosition = {26, 26};

// Our choice: the track limits of a 96-dpi Windows 10 screen, smallest 136 x 39 (SM_CXMINTRACK,
// SM_CYMINTRACK), largest the screen plus the frame on both sides.
MINMAXINFO DefaultMinMaxInfo(DWORD style, DWORD exStyle) {
    SIZE screen = DisplayScreenSize();
    FrameInsets frame = NonClientInsets(style, exStyle, false);
    MINMAXINFO info{};
    info.ptMaxSize = POINT{screen.cx + frame.left + frame.right, screen.cy + frame.left + frame.right};
    info.ptMaxPosition = POINT{-frame.left, -frame.left};
    info.ptMinTrackSize = POINT{136, 39};
    info.ptMaxTrackSize = info.ptMaxSize;
    return info;
}

HWND TopLevelOf(HWND window) {
    WindowObject* object = PeekWindowObject(window);
    while (object != nullptr && object->IsChild()) {
        WindowObject* parent = PeekWindowObject(object->parent);
        if (parent == nullptr) break;
        object = parent;
    }
    return object != nullptr ? object->handle : nullptr;
}

// The last step of every destruction: the handle stops being valid and everything it held is released.
void RemoveWindow(HWND window) {
    WindowObject* object = PeekWindowObject(window);
    if (object == nullptr) return;
    ForgetActiveWindow(window);
    if (object->announced) CurrentDisplay().WindowDestroyed(window);
    object->surface.Detach();
    if (WindowObject* parent = PeekWindowObject(object->parent)) {
        auto& siblings = parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), window), siblings.end());
    }
    auto& windows = object->queue->windows;
    windows.erase(std::remove(windows.begin(), windows.end(), window), windows.end());
    UnregisterWindow(window);
    PurgeWindowMessages(window);
    object->windowClass->windowCount--;
    HMENU menuBar = object->HasMenuBar() ? object->menu : nullptr;
    std::unique_ptr<HandleObject> removed = RemoveHandle(window, HandleKind::Window);
    removed.reset();
    if (menuBar != nullptr) DestroyMenu(menuBar);  // DestroyWindow destroys the window's menu
}

// WM_DESTROY goes to the window first and then to its children as they are destroyed; WM_NCDESTROY comes
// after the children are gone.
void SendDestroyMessages(HWND window) {
    SendMessageA(window, WM_DESTROY, 0, 0);
    WindowObject* object = PeekWindowObject(window);
    if (object == nullptr) return;
    std::vector<HWND> children = object->children;
    for (HWND child : children) {
        WindowObject* childObject = PeekWindowObject(child);
        if (childObject == nullptr || childObject->destroying) continue;
        childObject->destroying = true;
        SendDestroyMessages(child);
    }
    SendMessageA(window, WM_NCDESTROY, 0, 0);
    RemoveWindow(window);
}

}  // namespace

WindowObject* PeekWindowObject(HWND window) { return Lookup<WindowObject>(window); }

WindowObject* FindWindowObject(HWND window) {
    WindowObject* object = Lookup<WindowObject>(window);
    if (object == nullptr) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return object;
}

WindowObject* FindWindowObjectFor(HWND window, const void* output) {
    WindowObject* object = FindWindowObject(window);
    if (object != nullptr && output == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return object;
}

void SyncRegisteredWindow(const WindowObject* window) {
    RegisteredState state;
    state.parent = window->parent;
    state.classStyle = window->windowClass->style;
    state.enabled = (window->style & WS_DISABLED) == 0;
    state.clientOrigin = ClientOriginOnScreen(window);
    UpdateRegisteredWindow(window->handle, state);
}

}  // namespace w32

using namespace w32;

extern "C" HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                                       int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                                       LPVOID param) {
    // Our choice: without a display nothing can be shown, as a process without a desktop on Windows, and
    // creation fails with ERROR_ACCESS_DENIED.
    if (!DisplayInstalled()) {
        static std::atomic<bool> said{false};
        SayNotInstalled(said, "display", "windows cannot be created");
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    std::shared_ptr<WindowClass> windowClass = FindWindowClass(className);
    if (windowClass == nullptr) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    const bool child = (style & WS_CHILD) != 0;
    if (parent != nullptr && FindWindowObject(parent) == nullptr) return nullptr;
    if (child && parent == nullptr) {
        SetLastError(ERROR_TLW_WITH_WSCHILD);
        return nullptr;
    }
    if (!child && menu != nullptr && LookupHandle(menu, HandleKind::Menu) == nullptr) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return nullptr;
    }
    const DWORD requestedStyle = style;
    const bool overlapped = !child && !(style & WS_POPUP);
    if (!child) style |= WS_CLIPSIBLINGS;
    if (overlapped) style |= WS_CAPTION;  // Windows gives every overlapped window a caption

    if (overlapped) {
        if (x == CW_USEDEFAULT) {
            x = kDefaultPosition.x;
            y = kDefaultPosition.y;
        }
        if (width == CW_USEDEFAULT) {
            SIZE screen = DisplayScreenSize();
            width = screen.cx * 3 / 4;
            height = screen.cy * 3 / 4;
        }
    } else {
        if (x == CW_USEDEFAULT) x = y = 0;
        if (width == CW_USEDEFAULT) width = height = 0;
    }

    HMENU windowMenu = menu;
    if (!child && menu == nullptr && windowClass->menuName != nullptr)
        windowMenu = LoadMenuA(windowClass->instance, windowClass->menuName);

    const std::shared_ptr<ThreadQueue>& queue = CurrentThreadQueue();
    auto made = std::make_unique<WindowObject>();
    WindowObject* object = made.get();
    object->windowClass = windowClass;
    object->queue = queue;
    object->ownerThread = std::this_thread::get_id();
    object->proc = windowClass->proc;
    object->style = style & ~WS_VISIBLE;  // shown at the end, like ShowWindow would
    object->exStyle = exStyle;
    object->parent = child ? parent : nullptr;
    object->owner = child ? nullptr : TopLevelOf(parent);
    object->menu = windowMenu;
    object->instance = instance;
    object->needSizeMessages = overlapped;
    HWND window = InsertAs<HWND>(std::move(made));
    if (window == nullptr) {
        if (windowMenu != menu && windowMenu != nullptr) DestroyMenu(windowMenu);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    object->handle = window;
    queue->windows.push_back(window);
    if (child) PeekWindowObject(parent)->children.push_back(window);
    windowClass->windowCount++;
    RegisterWindow(window, queue, RegisteredState{});

    CREATESTRUCTA create{};
    create.lpCreateParams = param;
    create.hInstance = instance;
    create.hMenu = windowMenu;
    create.hwndParent = parent;
    create.style = static_cast<LONG>(requestedStyle);
    create.lpszName = windowName;
    create.lpszClass = className;
    create.dwExStyle = exStyle;

    if (overlapped || (style & WS_THICKFRAME)) {
        MINMAXINFO limits = DefaultMinMaxInfo(style, exStyle);
        SendMessageA(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
        if (PeekWindowObject(window) == nullptr) return nullptr;
        width = std::min<int>(width, limits.ptMaxTrackSize.x);
        height = std::min<int>(height, limits.ptMaxTrackSize.y);
    }
    width = std::max(width, 0);
    height = std::max(height, 0);
    create.x = x;
    create.y = y;
    create.cx = width;
    create.cy = height;
    object->windowRect = RECT{x, y, x + width, y + height};
    object->clientRect = object->windowRect;

    if (!SendMessageA(window, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create))) {
        if (PeekWindowObject(window) != nullptr) {
            SendMessageA(window, WM_NCDESTROY, 0, 0);
            RemoveWindow(window);
        }
        return nullptr;
    }
    if (PeekWindowObject(window) == nullptr) return nullptr;
    RECT client = object->windowRect;
    SendMessageA(window, WM_NCCALCSIZE, FALSE, reinterpret_cast<LPARAM>(&client));
    if (PeekWindowObject(window) == nullptr) return nullptr;
    client.right = std::max(client.right, client.left);
    client.bottom = std::max(client.bottom, client.top);
    object->clientRect = client;
    object->surface.Resize(object->ClientWidth(), object->ClientHeight());
    SyncRegisteredWindow(object);

    DisplayWindowInfo info{};
    info.window = window;
    info.parent = object->parent;
    info.owner = object->owner;
    info.style = object->style;
    info.exStyle = exStyle;
    info.windowRect = ToScreen(object, object->windowRect);
    info.clientRect = ToScreen(object, object->clientRect);
    info.text = object->text.c_str();
    info.className = windowClass->name.c_str();
    info.icon = windowClass->icon;
    info.smallIcon = windowClass->smallIcon;
    object->announced = true;
    CurrentDisplay().WindowCreated(info);
    object->surface.Attach(window);  // from now on every change GDI reports reaches the display
    if (object->HasMenuBar()) CurrentDisplay().MenuChanged(window, object->menu);
    CurrentDisplay().SurfaceChanged(window, *object->surface.Pixels());

    if (SendMessageA(window, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
        DestroyWindow(window);
        return nullptr;
    }
    object = PeekWindowObject(window);
    if (object == nullptr) return nullptr;
    if (!object->needSizeMessages) {
        SendMessageA(window, WM_SIZE, SIZE_RESTORED, ClientSizeParam(object));
        object = PeekWindowObject(window);
        if (object == nullptr) return nullptr;
        SendMessageA(window, WM_MOVE, 0, ClientOriginParam(object));
    }
    NotifyParentOfCreate(window);
    if ((requestedStyle & WS_VISIBLE) && PeekWindowObject(window) != nullptr) ShowWindow(window, SW_SHOW);
    return PeekWindowObject(window) != nullptr ? window : nullptr;
}

// Our choice: DestroyWindow on a window already being destroyed (from its WM_DESTROY, say) returns TRUE and
// sends nothing more; Windows 10 sends that window a second WM_DESTROY / WM_NCDESTROY pair.
extern "C" BOOL WINAPI DestroyWindow(HWND window) {
    WindowObject* object = FindWindowObject(window);
    if (object == nullptr) return FALSE;
    if (object->ownerThread != std::this_thread::get_id()) {
        SetLastError(ERROR_ACCESS_DENIED);  // a thread cannot destroy another thread's windows
        return FALSE;
    }
    if (object->destroying) return TRUE;
    NotifyParentOfDestroy(window);  // before anything else happens to the child, as documented
    object = PeekWindowObject(window);
    if (object == nullptr || object->destroying) return TRUE;
    object->destroying = true;

    // Owned windows (dialogs) go first, each with its whole sequence.
    std::vector<HWND> owned;
    for (HWND other : object->queue->windows) {
        WindowObject* otherObject = PeekWindowObject(other);
        if (otherObject != nullptr && otherObject->owner == window && !otherObject->destroying)
            owned.push_back(other);
    }
    for (HWND other : owned) DestroyWindow(other);

    // Taken off the screen before WM_DESTROY.
    object = PeekWindowObject(window);
    if (object != nullptr && (object->style & WS_VISIBLE))
        SetWindowPlacement(window, 0, 0, 0, 0,
                           SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (PeekWindowObject(window) != nullptr) SendDestroyMessages(window);
    return TRUE;
}

extern "C" BOOL WINAPI IsWindow(HWND window) { return PeekWindowObject(window) != nullptr ? TRUE : FALSE; }
