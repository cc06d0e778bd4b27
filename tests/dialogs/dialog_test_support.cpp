// Helpers of the dialog tests: the recording owner window and the scripted dialog procedure.
#include "dialog_test_support.h"

namespace dlgtest {
namespace {

std::vector<HWND> owners;

const char* Name(UINT message) {
    switch (message) {
    case WM_ENABLE: return "WM_ENABLE";
    case WM_SETFONT: return "WM_SETFONT";
    case WM_INITDIALOG: return "WM_INITDIALOG";
    case WM_COMMAND: return "WM_COMMAND";
    case WM_LBUTTONUP: return "WM_LBUTTONUP";
    case kOwnerNote: return "kOwnerNote";
    case kRunning: return "kRunning";
    case kGiveUp: return "kGiveUp";
    default: return "?";
    }
}

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case kOwnerNote:
        OwnerEnabledAtUserMessages().push_back(IsWindowEnabled(window) != FALSE);
        // fall through
    case WM_ENABLE:
    case WM_LBUTTONUP:
        Events().push_back(Event{"owner", message, LOWORD(wParam)});
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const Event& event) {
    return out << "{" << event.who << " " << Name(event.message) << " " << event.wParamLow << "}";
}

std::vector<Event>& Events() {
    static std::vector<Event> events;
    return events;
}

std::vector<bool>& OwnerEnabledAtUserMessages() {
    static std::vector<bool> enabled;
    return enabled;
}

HWND CreateOwner() {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = OwnerProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kOwnerClass;
    RegisterClassExA(&windowClass);  // fails harmlessly from the second test on
    HWND owner = CreateWindowExA(0, kOwnerClass, "owner", WS_POPUP | WS_VISIBLE, kOwnerX, kOwnerY, 600, 400,
                                 nullptr, nullptr, windowClass.hInstance, nullptr);
    owners.push_back(owner);
    return owner;
}

INT_PTR CALLBACK ScriptedDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    static std::vector<std::pair<HWND, DialogScript*>> scripts;
    DialogScript* script = nullptr;
    for (auto& entry : scripts) {
        if (entry.first == dialog) script = entry.second;
    }
    if (script != nullptr && script->onMessage && script->onMessage(dialog, message, wParam, lParam)) return TRUE;
    switch (message) {
    case WM_SETFONT:  // the font handle is the system's: recorded as 0
        Events().push_back(Event{"dialog", message, 0});
        return FALSE;
    case WM_INITDIALOG:
        Events().push_back(Event{"dialog", message, 0});
        script = reinterpret_cast<DialogScript*>(lParam);
        scripts.emplace_back(dialog, script);
        PostMessageA(dialog, kRunning, 0, 0);
        if (script != nullptr && script->onInit) script->onInit(dialog);
        return TRUE;
    case kRunning:
        Events().push_back(Event{"dialog", message, 0});
        if (script != nullptr && script->onRunning) script->onRunning(dialog);
        return TRUE;
    case kGiveUp:
        if (wParam > 0)
            PostMessageA(dialog, kGiveUp, wParam - 1, 0);
        else
            EndDialog(dialog, kGaveUp);
        return TRUE;
    case WM_COMMAND:
        Events().push_back(Event{"dialog", message, LOWORD(wParam)});
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

// Goes round the queue a few times, so that messages posted by the handling of queued ones come first.
void GiveUpAfterQueued(HWND dialog) { PostMessageA(dialog, kGiveUp, 3, 0); }

void Reset() {
    for (HWND owner : owners) {
        if (IsWindow(owner)) DestroyWindow(owner);
    }
    owners.clear();
    Events().clear();
    OwnerEnabledAtUserMessages().clear();
    MSG msg;
    for (int i = 0; i < 1000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        if (msg.message != WM_QUIT) DispatchMessageA(&msg);
    }
}

}  // namespace dlgtest
