// Helpers of the dialog tests: an owner window and a dialog procedure that record what they receive as one
// event table, and a way to act from inside a running modal loop.
#ifndef PELOMI_TESTS_DIALOG_TEST_SUPPORT_H
#define PELOMI_TESTS_DIALOG_TEST_SUPPORT_H

#include <windows.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace dlgtest {

// One message as a table row: who got it, which, and the low word of wParam.
struct Event {
    std::string who;  // "owner" or "dialog"
    UINT message;
    WORD wParamLow;
    bool operator==(const Event& other) const {
        return who == other.who && message == other.message && wParamLow == other.wParamLow;
    }
};
std::ostream& operator<<(std::ostream& out, const Event& event);

std::vector<Event>& Events();
// Whether the owner was enabled when it received each of its WM_USER messages, in order.
std::vector<bool>& OwnerEnabledAtUserMessages();

// Messages the owner posts to itself in tests, and what the dialog procedure gets first in its loop.
constexpr UINT kOwnerNote = WM_USER + 1;
constexpr UINT kRunning = WM_APP + 1;
constexpr UINT kGiveUp = WM_APP + 2;
constexpr INT_PTR kGaveUp = 99;

// A top-level popup (no frame) whose client area is at (100, 60), 600 x 400; it records WM_ENABLE,
// WM_LBUTTONUP and kOwnerNote. Its class is registered by the first CreateOwner.
constexpr const char* kOwnerClass = "PelomiDialogTestOwner";
constexpr int kOwnerX = 100;
constexpr int kOwnerY = 60;
HWND CreateOwner();

// What the scripted dialog procedure does besides closing on IDOK / IDCANCEL like the program's version
// dialog: `onInit` runs inside WM_INITDIALOG, `onRunning` on the first message of the modal loop, and
// `onMessage` sees every message after WM_INITDIALOG first (true: handled, the procedure returns TRUE).
struct DialogScript {
    std::function<void(HWND dialog)> onInit;
    std::function<void(HWND dialog)> onRunning;
    std::function<bool(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)> onMessage;
};
// DialogBoxParamA's param must be a DialogScript*. Records WM_SETFONT, WM_INITDIALOG, kRunning and
// WM_COMMAND as "dialog" events.
INT_PTR CALLBACK ScriptedDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Posts kGiveUp to the dialog: once everything queued before it is handled (and what that handling posts),
// the dialog ends with kGaveUp, so a test whose input failed to close the dialog fails instead of hanging.
void GiveUpAfterQueued(HWND dialog);

// Clears the event tables and destroys every window the helpers made.
void Reset();

}  // namespace dlgtest

#endif
