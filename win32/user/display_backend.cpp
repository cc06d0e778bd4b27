// The installed display backend, completed with the defaults of its optional members; the wake-up flag
// queues wait on.
// Leaves out switching backends while windows exist: each window stays with the backend that created it.
#include "user/display_backend.h"

#include <atomic>

#include "base/backend_install.h"

namespace w32 {
namespace {

std::atomic<const DisplayBackend*> installedBackend{nullptr};

constexpr SIZE kDefaultScreenSize = {1920, 1080};

}  // namespace

void MessageWait::Wake() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        pending_ = true;
    }
    woken_.notify_all();
}

bool MessageWait::TakeWake() {
    std::lock_guard<std::mutex> guard(lock_);
    bool was = pending_;
    pending_ = false;
    return was;
}

void MessageWait::WaitForWake() {
    std::unique_lock<std::mutex> guard(lock_);
    woken_.wait(guard, [this] { return pending_; });
    pending_ = false;
}

namespace {

void IgnoreWindow(HWND) {}
void IgnoreFlag(HWND, bool) {}
void IgnoreMove(HWND, const RECT&, const RECT&) {}
void IgnoreText(HWND, const char*) {}
void IgnoreMenu(HWND, HMENU) {}
void PollNothing() {}
void WaitForWake(MessageWait& wait) { wait.WaitForWake(); }
void WakeWaiter(MessageWait& wait) { wait.Wake(); }
bool NoScreenSize(SIZE*) { return false; }

void FillDefaults(DisplayBackend& backend) {
    if (!backend.WindowShown) backend.WindowShown = IgnoreFlag;
    if (!backend.WindowMoved) backend.WindowMoved = IgnoreMove;
    if (!backend.WindowTextChanged) backend.WindowTextChanged = IgnoreText;
    if (!backend.WindowEnabled) backend.WindowEnabled = IgnoreFlag;
    if (!backend.MenuChanged) backend.MenuChanged = IgnoreMenu;
    if (!backend.PollEvents) backend.PollEvents = PollNothing;
    if (!backend.WaitForEvents) backend.WaitForEvents = WaitForWake;
    if (!backend.Wake) backend.Wake = WakeWaiter;
    if (!backend.ScreenSize) backend.ScreenSize = NoScreenSize;
}

// What USER reaches before a display is installed: the defaults, with windows never created.
DisplayBackend MakeNoDisplay() {
    DisplayBackend none{};
    none.name = "none";
    none.WindowCreated = [](const DisplayWindowInfo&) {};
    none.WindowDestroyed = IgnoreWindow;
    none.SurfaceChanged = [](HWND, const PixelSurface&) {};
    FillDefaults(none);
    return none;
}

}  // namespace

bool InstallDisplayBackend(DisplayBackend& backend) {
    if (!HasRequiredMembers("display", backend.name,
                            {{"WindowCreated", backend.WindowCreated != nullptr},
                             {"WindowDestroyed", backend.WindowDestroyed != nullptr},
                             {"SurfaceChanged", backend.SurfaceChanged != nullptr}}))
        return false;
    FillDefaults(backend);
    installedBackend.store(&backend);
    return true;
}

const DisplayBackend& CurrentDisplay() {
    static const DisplayBackend none = MakeNoDisplay();
    const DisplayBackend* backend = installedBackend.load();
    return backend != nullptr ? *backend : none;
}

bool DisplayInstalled() { return installedBackend.load() != nullptr; }

SIZE DisplayScreenSize() {
    SIZE size = kDefaultScreenSize;
    if (!CurrentDisplay().ScreenSize(&size) || size.cx <= 0 || size.cy <= 0) size = kDefaultScreenSize;
    return size;
}

}  // namespace w32
