// What the dialog manager's files share: the dialog and control class names, their registration, and the
// record each running modal dialog keeps. Leaves out modeless dialogs, DWLP_ window longs and focus.
#ifndef PELOMI_WIN32_DIALOG_INTERNAL_H
#define PELOMI_WIN32_DIALOG_INTERNAL_H

#include <windows.h>

#include <map>
#include <mutex>

namespace w32 {

// State the dialog manager keeps beside a window, readable from any thread. Copies go in and out, so no
// lock is held while the program runs.
template <class State>
class WindowStateMap {
public:
    bool Find(HWND window, State* state) {
        std::lock_guard<std::mutex> guard(lock_);
        auto found = states_.find(Key(window));
        if (found == states_.end()) return false;
        *state = found->second;
        return true;
    }
    // Runs `change` on the window's state, made first when `create` (else false when there is none).
    template <class Edit>
    bool Change(HWND window, bool create, Edit change) {
        std::lock_guard<std::mutex> guard(lock_);
        auto found = states_.find(Key(window));
        if (found == states_.end()) {
            if (!create) return false;
            found = states_.emplace(Key(window), State{}).first;
        }
        change(found->second);
        return true;
    }
    void Erase(HWND window) {
        std::lock_guard<std::mutex> guard(lock_);
        states_.erase(Key(window));
    }

private:
    static uintptr_t Key(HWND window) { return reinterpret_cast<uintptr_t>(window); }
    std::mutex lock_;
    std::map<uintptr_t, State> states_;
};

// The dialog class keeps Windows' name for it; the control classes are the ones templates name by atom.
constexpr const char* kDialogClassName = "#32770";
constexpr const char* kButtonClassName = "Button";
constexpr const char* kStaticClassName = "Static";

// Dialog base units of the "System" font: 8 x 16, so one dialog unit is 2 pixels on both axes.
constexpr int kBaseUnitX = 8;
constexpr int kBaseUnitY = 16;
inline int DialogUnitsToPixelsX(int units) { return units * kBaseUnitX / 4; }
inline int DialogUnitsToPixelsY(int units) { return units * kBaseUnitY / 8; }

// Registers the dialog class, "Button" and "Static" the first time it is called in a run. Our choice: they
// exist from the first dialog on, not from start-up, so a program that shows no dialog sees no classes.
void RegisterDialogClasses();
// Window procedures of the control classes (controls.cpp).
LRESULT CALLBACK ButtonWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// A running modal dialog as DialogBoxParamA, EndDialog and the dialog class procedure see it. The record
// lives from DialogBoxParamA's CreateWindowExA until DialogBoxParamA returns, even when something else
// destroys the dialog window in between, so EndDialog's result is never lost.
struct DialogRecord {
    DLGPROC proc = nullptr;
    bool ended = false;
    INT_PTR result = 0;
};
void AddDialogRecord(HWND dialog, DLGPROC proc);
// False when `dialog` has no record (not a modal dialog of ours, or DialogBoxParamA has returned).
bool FindDialogRecord(HWND dialog, DialogRecord* record);
// Marks the dialog ended with `result`; false when it has no record.
bool EndDialogRecord(HWND dialog, INT_PTR result);
void RemoveDialogRecord(HWND dialog);

// The control of `dialog` with identifier `id` among its direct children, or null; sets no error.
HWND FindDialogControl(HWND dialog, int id);
// The window itself when it is top-level, else its top-level ancestor; null for anything else. Modal
// dialogs and choosers disable this window of their owner.
HWND TopLevelWindowOf(HWND window);
// The first child of `dialog` that is a "Button" with BS_DEFPUSHBUTTON, or null.
HWND FindDefaultPushButton(HWND dialog);

}  // namespace w32

#endif
