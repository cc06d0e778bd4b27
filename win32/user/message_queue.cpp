// Posting: each thread's queue, the window registry that lets any thread post, PostMessageA, PostQuitMessage.
// Leaves out HWND_BROADCAST, PostThreadMessage and the refusal to post messages that carry pointers.
#include "user/message_queue.h"

#include <chrono>
#include <unordered_map>

#include "user/input_delivery.h"

namespace w32 {
namespace {

struct RegisteredWindow {
    std::shared_ptr<ThreadQueue> queue;
    RegisteredState state;
};

struct WindowRegistry {
    std::mutex lock;
    std::unordered_map<uintptr_t, RegisteredWindow> windows;
};

WindowRegistry& Registry() {
    static WindowRegistry* registry = new WindowRegistry;  // never destroyed: other threads may still post
    return *registry;
}

uintptr_t Key(HWND window) { return reinterpret_cast<uintptr_t>(window); }

// Windows delivers no input to a disabled window, nor to the children of one.
bool AcceptsInputLocked(WindowRegistry& registry, HWND window) {
    for (int depth = 0; window != nullptr && depth < 64; ++depth) {
        auto found = registry.windows.find(Key(window));
        if (found == registry.windows.end() || !found->second.state.enabled) return false;
        window = found->second.state.parent;
    }
    return true;
}

}  // namespace

MSG MakeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = MessageTime();
    msg.pt = CursorScreenPosition();
    return msg;
}

const std::shared_ptr<ThreadQueue>& CurrentThreadQueue() {
    thread_local std::shared_ptr<ThreadQueue> queue = [] {
        auto made = std::make_shared<ThreadQueue>();
        made->owner = std::this_thread::get_id();
        return made;
    }();
    return queue;
}

void RegisterWindow(HWND window, const std::shared_ptr<ThreadQueue>& queue, const RegisteredState& state) {
    WindowRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    registry.windows[Key(window)] = RegisteredWindow{queue, state};
}

void UpdateRegisteredWindow(HWND window, const RegisteredState& state) {
    WindowRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    auto found = registry.windows.find(Key(window));
    if (found != registry.windows.end()) found->second.state = state;
}

void UnregisterWindow(HWND window) {
    WindowRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    registry.windows.erase(Key(window));
}

bool FindRegisteredWindow(HWND window, RegisteredState* state) {
    WindowRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    auto found = registry.windows.find(Key(window));
    if (found == registry.windows.end()) return false;
    *state = found->second.state;
    return true;
}

bool PostToQueue(HWND window, UINT message, WPARAM wParam, LPARAM lParam, PostKind kind) {
    std::shared_ptr<ThreadQueue> queue;
    if (window == nullptr) {
        queue = CurrentThreadQueue();
    } else {
        WindowRegistry& registry = Registry();
        std::lock_guard<std::mutex> guard(registry.lock);
        auto found = registry.windows.find(Key(window));
        if (found == registry.windows.end()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return false;
        }
        if (kind == PostKind::Input && !AcceptsInputLocked(registry, window)) return false;
        queue = found->second.queue;
    }
    MSG msg = MakeMessage(window, message, wParam, lParam);
    {
        std::lock_guard<std::mutex> guard(queue->lock);
        // Windows keeps only the latest mouse move that nobody has read yet.
        if (kind == PostKind::Input && message == WM_MOUSEMOVE && !queue->posted.empty() &&
            queue->posted.back().message == WM_MOUSEMOVE && queue->posted.back().hwnd == window) {
            queue->posted.back() = msg;
        } else {
            if (queue->posted.size() >= kPostedMessageLimit) {
                SetLastError(ERROR_NOT_ENOUGH_QUOTA);
                return false;
            }
            queue->posted.push_back(msg);
        }
    }
    CurrentDisplay().Wake(queue->wait);
    return true;
}

void PostFirst(const std::vector<MSG>& messages) {
    ThreadQueue& queue = *CurrentThreadQueue();
    std::lock_guard<std::mutex> guard(queue.lock);
    queue.posted.insert(queue.posted.begin(), messages.begin(), messages.end());
}

bool QueueSentWork(HWND window, std::function<void(HWND)> work) {
    std::shared_ptr<ThreadQueue> queue;
    {
        WindowRegistry& registry = Registry();
        std::lock_guard<std::mutex> guard(registry.lock);
        auto found = registry.windows.find(Key(window));
        if (found == registry.windows.end()) return false;
        queue = found->second.queue;
    }
    {
        std::lock_guard<std::mutex> guard(queue->lock);
        queue->sentWork.push_back([window, work = std::move(work)] { work(window); });
    }
    CurrentDisplay().Wake(queue->wait);
    return true;
}

void PurgeWindowMessages(HWND window) {
    ThreadQueue& queue = *CurrentThreadQueue();
    std::lock_guard<std::mutex> guard(queue.lock);
    auto& posted = queue.posted;
    for (auto it = posted.begin(); it != posted.end();) {
        if (it->hwnd == window)
            it = posted.erase(it);
        else
            ++it;
    }
}

DWORD MessageTime() {
    static const auto start = std::chrono::steady_clock::now();
    auto elapsed = std::chrono::steady_clock::now() - start;
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

}  // namespace w32

using namespace w32;

extern "C" BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return PostToQueue(window, message, wParam, lParam, PostKind::Message) ? TRUE : FALSE;
}

// WM_QUIT is not queued: it is handed out once the queue holds no posted message the reader accepts.
extern "C" void WINAPI PostQuitMessage(int exitCode) {
    ThreadQueue& queue = *CurrentThreadQueue();
    {
        std::lock_guard<std::mutex> guard(queue.lock);
        queue.quitPosted = true;
        queue.quitCode = exitCode;
    }
    CurrentDisplay().Wake(queue.wait);
}
