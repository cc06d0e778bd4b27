// Reading and handing out messages: GetMessageA, PeekMessageA, TranslateMessage, DispatchMessageA,
// SendMessageA and CallWindowProcA. Leaves out sending to another thread's window, WM_TIMER and hooks.
#include <windows.h>

#include "base/ansi_codepage.h"
#include "user/input_delivery.h"
#include "user/message_queue.h"
#include "user/window_object.h"

namespace w32 {
namespace {

// (HWND)-1 as a filter asks for thread messages only, those posted with a null window.
const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));

// A window filter must be null, -1 or a window of the calling thread.
bool ValidFilter(HWND filter) {
    if (filter == nullptr || filter == kThreadMessagesOnly) return true;
    WindowObject* window = FindWindowObject(filter);
    if (window == nullptr) return false;
    if (window->ownerThread != std::this_thread::get_id()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    return true;
}

bool MatchesWindow(HWND window, HWND filter) {
    if (filter == nullptr) return true;
    if (filter == kThreadMessagesOnly) return window == nullptr;
    return window == filter;
}

// Our choice: a range whose minimum is above its maximum matches nothing (WM_QUIT still comes through).
bool MatchesRange(UINT message, UINT filterMin, UINT filterMax) {
    if (filterMin == 0 && filterMax == 0) return true;
    return filterMin <= message && message <= filterMax;
}

void RunSentWork(ThreadQueue& queue) {
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard<std::mutex> guard(queue.lock);
            if (queue.sentWork.empty()) return;
            work = std::move(queue.sentWork.front());
            queue.sentWork.pop_front();
        }
        work();
    }
}

enum class Taken { Nothing, Message, Quit };

// Windows' order: posted messages (input included, in the order it came), then WM_QUIT once no posted
// message matches (whatever the filters ask for), then WM_PAINT for a visible window with an update region.
// WM_PAINT is never removed here: it comes again until the window is validated.
Taken TakeMessage(ThreadQueue& queue, MSG* msg, HWND filter, UINT filterMin, UINT filterMax, bool remove) {
    {
        std::lock_guard<std::mutex> guard(queue.lock);
        for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
            if (!MatchesWindow(it->hwnd, filter) || !MatchesRange(it->message, filterMin, filterMax)) continue;
            *msg = *it;
            if (remove) queue.posted.erase(it);
            return Taken::Message;
        }
        if (queue.quitPosted) {
            *msg = MakeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0);
            if (remove) queue.quitPosted = false;
            return Taken::Quit;
        }
    }
    if (!MatchesRange(WM_PAINT, filterMin, filterMax)) return Taken::Nothing;
    std::vector<HWND> windows = queue.windows;
    for (HWND handle : windows) {
        WindowObject* window = PeekWindowObject(handle);
        if (window == nullptr || !window->hasUpdate || !MatchesWindow(handle, filter)) continue;
        if (!IsShownOnScreen(window)) continue;
        *msg = MakeMessage(handle, WM_PAINT, 0, 0);
        return Taken::Message;
    }
    return Taken::Nothing;
}

}  // namespace
}  // namespace w32

using namespace w32;

// Our choice where Windows would fault: a null MSG pointer fails with ERROR_INVALID_PARAMETER.
extern "C" BOOL WINAPI GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax) {
    if (msg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (!ValidFilter(window)) return -1;
    ThreadQueue& queue = *CurrentThreadQueue();
    for (;;) {
        RunSentWork(queue);
        if (!ValidFilter(window)) return -1;  // the filter window went away while we waited
        switch (TakeMessage(queue, msg, window, filterMin, filterMax, true)) {
        case Taken::Message:
            return TRUE;
        case Taken::Quit:
            return FALSE;
        case Taken::Nothing:
            break;
        }
        CurrentDisplay().WaitForEvents(queue.wait);
    }
}

extern "C" BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeMessage) {
    if (msg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!ValidFilter(window)) return FALSE;
    ThreadQueue& queue = *CurrentThreadQueue();
    CurrentDisplay().PollEvents();
    RunSentWork(queue);
    if (!ValidFilter(window)) return FALSE;
    bool remove = (removeMessage & PM_REMOVE) != 0;
    return TakeMessage(queue, msg, window, filterMin, filterMax, remove) != Taken::Nothing ? TRUE : FALSE;
}

// The character messages go first in the queue so that they are the next ones read, as Windows documents.
extern "C" BOOL WINAPI TranslateMessage(const MSG* msg) {
    if (msg == nullptr) return FALSE;
    switch (msg->message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        break;
    case WM_KEYUP:
    case WM_SYSKEYUP:
        return TRUE;
    default:
        return FALSE;
    }
    char32_t character = CharacterForKey(static_cast<UINT>(msg->wParam));
    if (character == 0) return TRUE;
    if (character > 0x10FFFF) character = 0xFFFD;
    std::u16string utf16;
    if (character < 0x10000) {
        utf16.push_back(static_cast<char16_t>(character));
    } else {
        utf16.push_back(static_cast<char16_t>(0xD800 + ((character - 0x10000) >> 10)));
        utf16.push_back(static_cast<char16_t>(0xDC00 + ((character - 0x10000) & 0x3FF)));
    }
    std::string bytes = Utf16ToAnsi(utf16);
    UINT charMessage = msg->message == WM_SYSKEYDOWN ? WM_SYSCHAR : WM_CHAR;
    std::vector<MSG> chars;
    for (char byte : bytes) {
        MSG made = *msg;
        made.message = charMessage;
        made.wParam = static_cast<unsigned char>(byte);
        chars.push_back(made);
    }
    PostFirst(chars);
    return TRUE;
}

// Thread messages (null window) are not dispatched, as on Windows.
extern "C" LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    if (msg == nullptr || msg->hwnd == nullptr) return 0;
    return SendMessageA(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

// Our choice: sending to a window of another thread fails with ERROR_ACCESS_DENIED instead of waiting for
// that thread to take the message; the program never does it.
extern "C" LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowObject* object = FindWindowObject(window);
    if (object == nullptr) return 0;
    if (object->ownerThread != std::this_thread::get_id()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    return CallWindowProcA(object->proc, window, message, wParam, lParam);
}

extern "C" LRESULT WINAPI CallWindowProcA(WNDPROC proc, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (proc == nullptr) return 0;
    return proc(window, message, wParam, lParam);
}
