// The dialog manager around a running dialog: the dialog class with the default dialog procedure,
// IsDialogMessageA's keys, EndDialog, GetDlgItem and GetDlgCtrlID. Leaves out Tab and arrow
// navigation, mnemonics, DM_ messages, WM_CTLCOLOR* and focus.
#include <windows.h>

#include "dialogs/dialog_internal.h"
#include "user/window_object.h"

namespace w32 {
namespace {

WindowStateMap<DialogRecord>& Dialogs() {
    static auto* dialogs = new WindowStateMap<DialogRecord>;  // never destroyed: windows may outlive statics
    return *dialogs;
}

bool IsDescendant(HWND ancestor, HWND window) {
    WindowObject* object = PeekWindowObject(window);
    for (int depth = 0; object != nullptr && object->IsChild() && depth < 64; ++depth) {
        if (object->parent == ancestor) return true;
        object = PeekWindowObject(object->parent);
    }
    return false;
}

// The default dialog procedure's own handling, for what the dialog procedure left alone.
LRESULT DefaultDialogHandling(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        // Windows' DefDlgProc posts IDCANCEL as if the Cancel button were clicked, unless that button is
        // there and disabled.
        HWND cancel = FindDialogControl(dialog, IDCANCEL);
        if (cancel == nullptr || IsWindowEnabled(cancel))
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
        return 0;
    }
    return DefWindowProcA(dialog, message, wParam, lParam);
}

// The procedure of the dialog class: the dialog procedure first, the default handling when it returns
// FALSE. A handled WM_INITDIALOG returns the procedure's value (whether to set the focus); other handled
// messages return 0, the DWLP_MSGRESULT a procedure cannot set here.
LRESULT CALLBACK DialogWindowProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    DialogRecord record;
    if (FindDialogRecord(dialog, &record) && record.proc != nullptr) {
        INT_PTR handled = record.proc(dialog, message, wParam, lParam);
        if (handled != 0) return message == WM_INITDIALOG ? handled : 0;
    }
    return DefaultDialogHandling(dialog, message, wParam, lParam);
}

bool RegisterOneClass(const char* name, UINT style, WNDPROC proc) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = style;
    windowClass.lpfnWndProc = proc;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<intptr_t>(COLOR_BTNFACE + 1));
    windowClass.lpszClassName = name;
    return RegisterClassExA(&windowClass) != 0;
}

}  // namespace

void RegisterDialogClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterOneClass(kDialogClassName, CS_DBLCLKS, DialogWindowProc);
        RegisterOneClass(kButtonClassName, CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW, ButtonWindowProc);
        RegisterOneClass(kStaticClassName, 0, StaticWindowProc);
    });
}

void AddDialogRecord(HWND dialog, DLGPROC proc) {
    Dialogs().Change(dialog, true, [proc](DialogRecord& record) { record = DialogRecord{proc, false, 0}; });
}

bool FindDialogRecord(HWND dialog, DialogRecord* record) { return Dialogs().Find(dialog, record); }

bool EndDialogRecord(HWND dialog, INT_PTR result) {
    return Dialogs().Change(dialog, false, [result](DialogRecord& record) {
        record.ended = true;
        record.result = result;
    });
}

void RemoveDialogRecord(HWND dialog) { Dialogs().Erase(dialog); }

HWND FindDialogControl(HWND dialog, int id) {
    WindowObject* object = PeekWindowObject(dialog);
    if (object == nullptr) return nullptr;
    for (HWND child : object->children) {
        WindowObject* control = PeekWindowObject(child);
        if (control != nullptr && reinterpret_cast<uintptr_t>(control->menu) == static_cast<UINT>(id)) return child;
    }
    return nullptr;
}

HWND TopLevelWindowOf(HWND window) {
    WindowObject* object = PeekWindowObject(window);
    while (object != nullptr && object->IsChild()) object = PeekWindowObject(object->parent);
    return object != nullptr ? object->handle : nullptr;
}

HWND FindDefaultPushButton(HWND dialog) {
    WindowObject* object = PeekWindowObject(dialog);
    if (object == nullptr) return nullptr;
    for (HWND child : object->children) {
        WindowObject* control = PeekWindowObject(child);
        if (control != nullptr && control->windowClass->name == kButtonClassName &&
            (control->style & 0x0F) == BS_DEFPUSHBUTTON)
            return child;
    }
    return nullptr;
}

}  // namespace w32

using namespace w32;

// Our choice: a live window that is not a running modal dialog fails with ERROR_WINDOW_NOT_DIALOG.
extern "C" BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
    if (FindWindowObject(dialog) == nullptr) return FALSE;
    if (!EndDialogRecord(dialog, result)) {
        SetLastError(ERROR_WINDOW_NOT_DIALOG);
        return FALSE;
    }
    return TRUE;
}

// Controls are matched on their whole identifier, so a template's IDC_STATIC (stored as 0xFFFF) is found
// as 65535, not as -1.
extern "C" HWND WINAPI GetDlgItem(HWND dialog, int id) {
    if (FindWindowObject(dialog) == nullptr) return nullptr;
    HWND control = FindDialogControl(dialog, id);
    if (control == nullptr) SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return control;
}

// Top-level windows have no identifier: 0, as Windows returns for them.
extern "C" int WINAPI GetDlgCtrlID(HWND control) {
    WindowObject* object = FindWindowObject(control);
    if (object == nullptr || !object->IsChild()) return 0;
    return static_cast<int>(reinterpret_cast<uintptr_t>(object->menu));
}


// Enter presses the default push button (IDOK when there is none), Esc sends IDCANCEL; every other message
// for the dialog or one of its controls is translated and dispatched here, as Windows does.
extern "C" BOOL WINAPI IsDialogMessageA(HWND dialog, LPMSG msg) {
    if (msg == nullptr || PeekWindowObject(dialog) == nullptr) return FALSE;
    if (msg->hwnd != dialog && !IsDescendant(dialog, msg->hwnd)) return FALSE;
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) {
        HWND button = FindDefaultPushButton(dialog);
        int id = button != nullptr ? GetDlgCtrlID(button) : IDOK;
        if (button == nullptr) button = FindDialogControl(dialog, IDOK);
        if (button == nullptr || IsWindowEnabled(button))
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
        return TRUE;
    }
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) {
        HWND cancel = FindDialogControl(dialog, IDCANCEL);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
        return TRUE;
    }
    TranslateMessage(msg);
    DispatchMessageA(msg);
    return TRUE;
}
