// Each thread's message queue, and the registry that finds a window's queue from any thread.
// Leaves out sent messages between threads, timers, hooks and the journal of input states.
#ifndef PELOMI_WIN32_MESSAGE_QUEUE_H
#define PELOMI_WIN32_MESSAGE_QUEUE_H

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "user/display_backend.h"

namespace w32 {

struct ThreadQueue {
    std::thread::id owner;
    MessageWait wait;

    std::mutex lock;  // guards the members up to `windows`
    std::deque<MSG> posted;
    bool quitPosted = false;
    int quitCode = 0;
    // Work the display backend asked for from inside a wait (resizes, moves): run by the owner thread at
    // the start of GetMessageA/PeekMessageA, as Windows handles incoming sent messages there.
    std::deque<std::function<void()>> sentWork;

    std::vector<HWND> windows;  // owner thread only: this thread's windows in creation order
};

// The calling thread's queue, made on first use.
const std::shared_ptr<ThreadQueue>& CurrentThreadQueue();

// Windows allows this many posted messages per queue; one more fails with ERROR_NOT_ENOUGH_QUOTA.
constexpr size_t kPostedMessageLimit = 10000;

// The registry: each window's queue and what input delivery needs to know, readable from any thread.
struct RegisteredState {
    HWND parent = nullptr;
    UINT classStyle = 0;
    bool enabled = true;
    POINT clientOrigin{};  // on the screen
};
void RegisterWindow(HWND window, const std::shared_ptr<ThreadQueue>& queue, const RegisteredState& state);
void UpdateRegisteredWindow(HWND window, const RegisteredState& state);
void UnregisterWindow(HWND window);
// False when the window is not registered (gone).
bool FindRegisteredWindow(HWND window, RegisteredState* state);

enum class PostKind {
    Message,  // PostMessageA
    Input,    // dropped unless the window and its ancestors are enabled; mouse moves coalesce
};
// Posts to the queue that owns `window` (the calling thread's queue for null) and wakes it. False with
// ERROR_INVALID_WINDOW_HANDLE for windows that are gone, ERROR_NOT_ENOUGH_QUOTA for a full queue, and
// (input only) false without an error for a disabled window.
bool PostToQueue(HWND window, UINT message, WPARAM wParam, LPARAM lParam, PostKind kind);

// Puts the messages first in the calling thread's queue, to be read next (TranslateMessage).
void PostFirst(const std::vector<MSG>& messages);

// Runs `work` on the thread that owns `window` at its next GetMessageA/PeekMessageA; false when the window
// is gone. `work` gets the window handle and must check that it is still valid.
bool QueueSentWork(HWND window, std::function<void(HWND)> work);

// Drops every posted message for `window` from the calling thread's queue (DestroyWindow).
void PurgeWindowMessages(HWND window);

// A message stamped with the current time and cursor position, as the queue hands it out.
MSG MakeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Milliseconds since the layer started, as MSG.time counts them (GetTickCount wraps the same way).
DWORD MessageTime();

}  // namespace w32

#endif
