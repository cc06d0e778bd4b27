// The installed display backend and USER's null-safe calls into it; the wake-up flag queues wait on.
// Leaves out switching backends while windows exist: each window stays with the backend that created it.
#include "user/display_backend.h"

#include <atomic>

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

void SetDisplayBackend(const DisplayBackend* backend) { installedBackend.store(backend); }

const DisplayBackend& CurrentDisplayBackend() {
    const DisplayBackend* backend = installedBackend.load();
    return backend != nullptr ? *backend : HeadlessDisplayBackend();
}

void DisplayWindowCreated(const DisplayWindowInfo& info) {
    if (auto call = CurrentDisplayBackend().windowCreated) call(info);
}

void DisplayWindowDestroyed(HWND window) {
    if (auto call = CurrentDisplayBackend().windowDestroyed) call(window);
}

void DisplayWindowShown(HWND window, bool visible) {
    if (auto call = CurrentDisplayBackend().windowShown) call(window, visible);
}

void DisplayWindowMoved(HWND window, const RECT& windowRect, const RECT& clientRect) {
    if (auto call = CurrentDisplayBackend().windowMoved) call(window, windowRect, clientRect);
}

void DisplayWindowTextChanged(HWND window, const char* text) {
    if (auto call = CurrentDisplayBackend().windowTextChanged) call(window, text);
}

void DisplayWindowEnabled(HWND window, bool enabled) {
    if (auto call = CurrentDisplayBackend().windowEnabled) call(window, enabled);
}

void DisplayMenuChanged(HWND window, HMENU menu) {
    if (auto call = CurrentDisplayBackend().menuChanged) call(window, menu);
}

void DisplaySurfaceChanged(HWND window, const PixelSurface& surface) {
    if (auto call = CurrentDisplayBackend().surfaceChanged) call(window, surface);
}

void DisplayPollEvents() {
    if (auto call = CurrentDisplayBackend().pollEvents) call();
}

void DisplayWaitForEvents(MessageWait& wait) {
    if (auto call = CurrentDisplayBackend().waitForEvents)
        call(wait);
    else
        wait.WaitForWake();
}

void DisplayWake(MessageWait& wait) {
    if (auto call = CurrentDisplayBackend().wake)
        call(wait);
    else
        wait.Wake();
}

SIZE DisplayScreenSize() {
    SIZE size = kDefaultScreenSize;
    if (auto call = CurrentDisplayBackend().screenSize) {
        if (!call(&size) || size.cx <= 0 || size.cy <= 0) size = kDefaultScreenSize;
    }
    return size;
}

}  // namespace w32
