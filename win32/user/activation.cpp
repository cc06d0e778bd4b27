// Activation of top-level windows: showing one activates it, hiding or destroying the active one hands
// activation on (to its owner, else to the latest other shown window), with WM_ACTIVATEAPP, WM_NCACTIVATE and
// WM_ACTIVATE as Windows sends them; GetActiveWindow. Also WM_PARENTNOTIFY for child creation and
// destruction. Leaves out keyboard focus (WM_SETFOCUS), SetActiveWindow, z-order and other threads' windows.
#include <windows.h>

#include "user/message_queue.h"
#include "user/window_object.h"

namespace w32 {
namespace {

// Each thread has its own active window, as GetActiveWindow documents.
thread_local HWND activeWindow = nullptr;

bool CanBeActive(HWND window) {
    const WindowObject* object = PeekWindowObject(window);
    return object != nullptr && !object->IsChild() && !object->destroying && (object->style & WS_VISIBLE) &&
           !(object->style & WS_DISABLED);
}

// WM_ACTIVATEAPP goes to every top-level window of the thread when the application gains or loses activation.
// Our choice: lParam, the thread of the other application, is 0; there is none here.
void SendActivateApp(bool active) {
    const std::vector<HWND> windows = CurrentThreadQueue()->windows;
    for (HWND window : windows) {
        const WindowObject* object = PeekWindowObject(window);
        if (object != nullptr && !object->IsChild())
            SendMessageA(window, WM_ACTIVATEAPP, active ? TRUE : FALSE, 0);
    }
}

// Moves activation from the active window (if any) to `next` (null: the application loses activation).
void ChangeActiveWindow(HWND next) {
    const HWND previous = PeekWindowObject(activeWindow) != nullptr ? activeWindow : nullptr;
    if (previous == next) return;
    activeWindow = next;
    if (previous != nullptr) {
        SendMessageA(previous, WM_NCACTIVATE, FALSE, 0);
        SendMessageA(previous, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(next));
    }
    if (next == nullptr) {
        SendActivateApp(false);
        return;
    }
    if (previous == nullptr) SendActivateApp(true);
    if (activeWindow != next || PeekWindowObject(next) == nullptr) return;  // changed from a handler
    SendMessageA(next, WM_NCACTIVATE, TRUE, 0);
    SendMessageA(next, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(previous));
}

void SendParentNotify(const WindowObject* child, WORD event) {
    if (child->exStyle & WS_EX_NOPARENTNOTIFY) return;
    const WPARAM wParam = MAKEWPARAM(event, static_cast<WORD>(reinterpret_cast<uintptr_t>(child->menu)));
    const HWND handle = child->handle;
    // The parent, and on up while each window it passes through is a child that does not refuse it.
    for (HWND parent = child->parent; parent != nullptr;) {
        SendMessageA(parent, WM_PARENTNOTIFY, wParam, reinterpret_cast<LPARAM>(handle));
        const WindowObject* object = PeekWindowObject(parent);
        if (object == nullptr || !object->IsChild() || (object->exStyle & WS_EX_NOPARENTNOTIFY)) break;
        parent = object->parent;
    }
}

}  // namespace

void ActivateShownWindow(HWND window) {
    if (CanBeActive(window)) ChangeActiveWindow(window);
}

void HandOnActivation(HWND window) {
    if (window != activeWindow) return;
    const WindowObject* object = PeekWindowObject(window);
    HWND next = object != nullptr && CanBeActive(object->owner) ? object->owner : nullptr;
    if (next == nullptr) {
        const std::vector<HWND>& windows = CurrentThreadQueue()->windows;
        for (auto it = windows.rbegin(); it != windows.rend() && next == nullptr; ++it)
            if (*it != window && CanBeActive(*it)) next = *it;
    }
    ChangeActiveWindow(next);
}

void ForgetActiveWindow(HWND window) {
    if (activeWindow == window) activeWindow = nullptr;
}

void NotifyParentOfCreate(HWND child) {
    if (const WindowObject* object = PeekWindowObject(child); object != nullptr && object->IsChild())
        SendParentNotify(object, WM_CREATE);
}

void NotifyParentOfDestroy(HWND child) {
    if (const WindowObject* object = PeekWindowObject(child); object != nullptr && object->IsChild())
        SendParentNotify(object, WM_DESTROY);
}

}  // namespace w32

extern "C" HWND WINAPI GetActiveWindow(void) {
    return w32::PeekWindowObject(w32::activeWindow) != nullptr ? w32::activeWindow : nullptr;
}
