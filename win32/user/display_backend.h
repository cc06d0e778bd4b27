// The one interface between USER and a display: what USER tells a backend about windows, and how a thread's
// message queue waits for work. Leaves out drawing calls: a backend shows the client surfaces it is given.
#ifndef PELOMI_WIN32_DISPLAY_BACKEND_H
#define PELOMI_WIN32_DISPLAY_BACKEND_H

#include <windows.h>

#include <condition_variable>
#include <mutex>

#include "base/pixel_surface.h"

namespace w32 {

// The wake-up flag of one thread's message queue. A Wake that comes before anyone waits is remembered, so a
// message posted between "queue empty" and "start waiting" is never slept through.
class MessageWait {
public:
    void Wake();         // any thread
    bool TakeWake();     // true once per Wake (several Wakes before it count as one); never blocks
    void WaitForWake();  // blocks until woken, then clears the flag
private:
    std::mutex lock_;
    std::condition_variable woken_;
    bool pending_ = false;
};

// A window as USER creates it. Rectangles are in screen coordinates; the client surface is the size of
// clientRect and is handed over again whenever it changes.
struct DisplayWindowInfo {
    HWND window;
    HWND parent;  // child windows (WS_CHILD): the window they sit in; otherwise null
    HWND owner;   // top-level windows: the window they belong to (dialogs); otherwise null
    DWORD style;
    DWORD exStyle;
    RECT windowRect;
    RECT clientRect;
    const char* text;       // ANSI (UTF-8)
    const char* className;  // ANSI (UTF-8)
    HICON icon;             // the class icons (resources/icon_object.h has their images); may be null
    HICON smallIcon;
};

// A display: a table of functions, filled member by member by name and completed by InstallDisplayBackend.
// WindowCreated, WindowDestroyed and SurfaceChanged are required; every other member may be left null and
// gets its default there: the notifications and PollEvents do nothing, WaitForEvents waits on the
// MessageWait, Wake wakes it, ScreenSize says false. USER calls the notifications on the thread that owns
// the window, never while holding a lock of its own; a backend must not call window procedures from them
// (it posts input through the Deliver functions of user/input_delivery.h instead).
struct DisplayBackend {
    const char* name;

    void (*WindowCreated)(const DisplayWindowInfo& info);
    void (*WindowDestroyed)(HWND window);
    void (*WindowShown)(HWND window, bool visible);
    void (*WindowMoved)(HWND window, const RECT& windowRect, const RECT& clientRect);
    void (*WindowTextChanged)(HWND window, const char* text);
    void (*WindowEnabled)(HWND window, bool enabled);
    // The window's menu bar, to be built from the menu tree (resources/menu_object.h); null removes it.
    void (*MenuChanged)(HWND window, HMENU menu);
    // GDI wrote to the client surface (or USER resized it): show it now.
    void (*SurfaceChanged)(HWND window, const PixelSurface& surface);

    // PeekMessageA: handle pending display events without blocking.
    void (*PollEvents)();
    // GetMessageA with an empty queue: block until `wait` is woken (see MessageWait) or until the backend
    // has delivered input, which wakes it too.
    void (*WaitForEvents)(MessageWait& wait);
    // A message was posted to the queue that owns `wait`; callable from any thread.
    void (*Wake)(MessageWait& wait);
    // The screen's size in pixels, for default window sizes; false leaves our 1920 x 1080.
    bool (*ScreenSize)(SIZE* size);
};

// Completes `backend` as above and makes it the display USER talks to from now on; false, with one line on
// stderr, when it lacks a required member. Install it before the first window is created: windows keep
// living in the backend that saw them created.
bool InstallDisplayBackend(DisplayBackend& backend);

// The installed display. Before one is installed, the defaults alone: queues still wait and wake, and
// CreateWindowExA fails (DisplayInstalled), so no window reaches it.
const DisplayBackend& CurrentDisplay();
bool DisplayInstalled();

// The screen's size as the display says, or our 1920 x 1080 when it cannot.
SIZE DisplayScreenSize();

}  // namespace w32

#endif
