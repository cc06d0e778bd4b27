// The headless display of the tests: records each window's state and its last shown surface.
// [x] every window notification, kept for tests to read   [x] waiting and waking through the defaults
// [x] or waiting in GLib's default main context, as the GTK display does
// [ ] a screen, window-manager placement, input of its own (tests use user/input_delivery.h)
#include "testing/headless_display.h"

#include <glib.h>

#include <map>
#include <mutex>

#include "user/display_backend.h"

namespace w32 {
namespace {

struct HeadlessDisplay {
    std::mutex lock;
    std::map<uintptr_t, HeadlessWindowView> windows;
};

HeadlessDisplay& Display() {
    static HeadlessDisplay* display = new HeadlessDisplay;  // never destroyed: windows may outlive statics
    return *display;
}

uintptr_t Key(HWND window) { return reinterpret_cast<uintptr_t>(window); }

// Runs `change` on the view of a known window; windows the display never saw are ignored.
template <class Change>
void Update(HWND window, Change change) {
    HeadlessDisplay& display = Display();
    std::lock_guard<std::mutex> guard(display.lock);
    auto found = display.windows.find(Key(window));
    if (found != display.windows.end()) change(found->second);
}

void WindowCreated(const DisplayWindowInfo& info) {
    HeadlessWindowView view;
    view.parent = info.parent;
    view.owner = info.owner;
    view.text = info.text != nullptr ? info.text : "";
    view.className = info.className != nullptr ? info.className : "";
    view.visible = false;
    view.enabled = (info.style & WS_DISABLED) == 0;
    view.windowRect = info.windowRect;
    view.clientRect = info.clientRect;
    HeadlessDisplay& display = Display();
    std::lock_guard<std::mutex> guard(display.lock);
    display.windows[Key(info.window)] = std::move(view);
}

void WindowDestroyed(HWND window) {
    HeadlessDisplay& display = Display();
    std::lock_guard<std::mutex> guard(display.lock);
    display.windows.erase(Key(window));
}

void WindowShown(HWND window, bool visible) {
    Update(window, [visible](HeadlessWindowView& view) { view.visible = visible; });
}

void WindowMoved(HWND window, const RECT& windowRect, const RECT& clientRect) {
    Update(window, [&](HeadlessWindowView& view) {
        view.windowRect = windowRect;
        view.clientRect = clientRect;
    });
}

void WindowTextChanged(HWND window, const char* text) {
    Update(window, [text](HeadlessWindowView& view) { view.text = text != nullptr ? text : ""; });
}

void WindowEnabled(HWND window, bool enabled) {
    Update(window, [enabled](HeadlessWindowView& view) { view.enabled = enabled; });
}

void MenuChanged(HWND window, HMENU menu) {
    Update(window, [menu](HeadlessWindowView& view) { view.menu = menu; });
}

void SurfaceChanged(HWND window, const PixelSurface& surface) {
    Update(window, [&surface](HeadlessWindowView& view) {
        view.surfaceUpdates++;
        view.shownWidth = surface.width;
        view.shownHeight = surface.height;
        view.shownPixels = surface.pixels;
    });
}

DisplayBackend MakeHeadlessBackend() {
    DisplayBackend backend{};
    backend.name = "headless";
    backend.WindowCreated = WindowCreated;
    backend.WindowDestroyed = WindowDestroyed;
    backend.WindowShown = WindowShown;
    backend.WindowMoved = WindowMoved;
    backend.WindowTextChanged = WindowTextChanged;
    backend.WindowEnabled = WindowEnabled;
    backend.MenuChanged = MenuChanged;
    backend.SurfaceChanged = SurfaceChanged;
    return backend;
}

// Message waits that run GLib's default main context meanwhile, as the GTK display's do, for what is served
// there (the sound server's connection of UsePulseWaveDeviceOnThisThread). A wake-up from the waiting
// thread itself only costs its next wait a turn that finds nothing.
void PollMainContext() {
    for (int i = 0; i < 64 && g_main_context_iteration(nullptr, FALSE); ++i) {
    }
}

void WaitInMainContext(MessageWait& wait) {
    while (!wait.TakeWake()) g_main_context_iteration(nullptr, TRUE);
}

void WakeMainContext(MessageWait& wait) {
    wait.Wake();
    g_main_context_wakeup(nullptr);
}

}  // namespace

void UseHeadlessDisplayOnMainContext() {
    static DisplayBackend backend = [] {
        DisplayBackend made = MakeHeadlessBackend();
        made.name = "headless on the main context";
        made.PollEvents = PollMainContext;
        made.WaitForEvents = WaitInMainContext;
        made.Wake = WakeMainContext;
        return made;
    }();
    InstallDisplayBackend(backend);
}

DisplayBackend& HeadlessDisplayBackend() {
    static DisplayBackend backend = MakeHeadlessBackend();
    return backend;
}

void UseHeadlessDisplay() { InstallDisplayBackend(HeadlessDisplayBackend()); }

bool GetHeadlessWindowView(HWND window, HeadlessWindowView* view) {
    HeadlessDisplay& display = Display();
    std::lock_guard<std::mutex> guard(display.lock);
    auto found = display.windows.find(Key(window));
    if (found == display.windows.end()) return false;
    *view = found->second;
    return true;
}

int DispatchUntilIdle(int limit) {
    int dispatched = 0;
    MSG msg;
    while (dispatched < limit && PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        if (msg.message == WM_QUIT) break;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) break;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        ++dispatched;
    }
    return dispatched;
}

}  // namespace w32
