// DialogBoxParamA: a modal dialog from an RT_DIALOG template, its controls and its modal message loop.
// Leaves out modeless dialogs, DialogBoxIndirect, template menus and classes, DS_CENTER and DS_ABSALIGN.
#include <windows.h>

#include <string>

#include "dialogs/dialog_internal.h"
#include "resources/dialog_template.h"
#include "user/window_object.h"

namespace w32 {
namespace {

// Templates name the predefined classes by atom; those this layer has no class for fail to create, which
// makes the whole dialog fail as on Windows without DS_NOFAILCREATE.
std::string ControlClassName(const TemplateName& name) {
    if (!name.isOrdinal) return name.text;
    switch (name.ordinal) {
    case kButtonClassAtom:
        return kButtonClassName;
    case kEditClassAtom:
        return "Edit";
    case kStaticClassAtom:
        return kStaticClassName;
    case kListBoxClassAtom:
        return "ListBox";
    case kScrollBarClassAtom:
        return "ScrollBar";
    case kComboBoxClassAtom:
        return "ComboBox";
    default:
        return std::string();
    }
}

// Windows places the dialog's client area at the template's (x, y) from the owner's client origin, and
// sizes the client area (not the frame) from (cx, cy); without an owner the origin is the screen's.
RECT DialogWindowRect(const DialogTemplate& dialog, DWORD style, DWORD exStyle, HWND owner) {
    POINT origin{0, 0};
    if (WindowObject* ownerObject = PeekWindowObject(owner)) origin = ClientOriginOnScreen(ownerObject);
    FrameInsets frame = NonClientInsets(style, exStyle, false);
    int left = origin.x + DialogUnitsToPixelsX(dialog.x);
    int top = origin.y + DialogUnitsToPixelsY(dialog.y);
    return RECT{left - frame.left, top - frame.top, left + DialogUnitsToPixelsX(dialog.cx) + frame.right,
                top + DialogUnitsToPixelsY(dialog.cy) + frame.bottom};
}

// Our choice: with no font objects in the layer, the template's font is sent as null, the system font
// (the "System" face of our templates is that font).
void SendTemplateFont(const DialogTemplate& dialog, HWND window) {
    if (dialog.hasFont) SendMessageA(window, WM_SETFONT, 0, FALSE);
}

bool CreateControls(const DialogTemplate& dialog, HWND window, HINSTANCE instance, HWND* focus) {
    *focus = nullptr;
    for (const DialogItemTemplate& item : dialog.items) {
        std::string className = ControlClassName(item.windowClass);
        // An ordinal text (a static control's icon) goes to the control as an integer resource name.
        LPCSTR text = item.text.isOrdinal ? MAKEINTRESOURCEA(item.text.ordinal) : item.text.text.c_str();
        LPVOID creationData = item.creationData.empty() ? nullptr : const_cast<uint8_t*>(item.creationData.data());
        // Windows creates dialog controls with WS_EX_NOPARENTNOTIFY: the dialog gets no WM_PARENTNOTIFY.
        HWND control = CreateWindowExA(item.exStyle | WS_EX_NOPARENTNOTIFY, className.c_str(), text, item.style | WS_CHILD,
                                       DialogUnitsToPixelsX(item.x), DialogUnitsToPixelsY(item.y),
                                       DialogUnitsToPixelsX(item.cx), DialogUnitsToPixelsY(item.cy), window,
                                       reinterpret_cast<HMENU>(static_cast<uintptr_t>(item.id)), instance,
                                       creationData);
        if (control == nullptr || !IsWindow(window)) return false;
        SendTemplateFont(dialog, control);
        if (*focus == nullptr && (item.style & WS_TABSTOP) && !(item.style & WS_DISABLED)) *focus = control;
    }
    return true;
}

// GetMessageA with no window filter, so every posted message of the thread (the owner's included) keeps
// being dispatched, until EndDialog or until the dialog window is gone. A WM_QUIT ends the loop and is
// posted again for the loop outside.
void RunModalLoop(HWND dialog) {
    for (;;) {
        DialogRecord record;
        if (!FindDialogRecord(dialog, &record) || record.ended || !IsWindow(dialog)) return;
        MSG msg;
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (got == -1) return;
        if (!IsDialogMessageA(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

// The part of DialogBoxParamA after the template is read; -1 when the dialog cannot be built.
INT_PTR RunDialog(HINSTANCE instance, const DialogTemplate& dialog, HWND owner, DLGPROC proc, LPARAM param) {
    RegisterDialogClasses();
    HWND ownerWindow = TopLevelWindowOf(owner);
    DWORD style = dialog.style & ~WS_VISIBLE;
    DWORD exStyle = dialog.exStyle | ((dialog.style & DS_MODALFRAME) ? WS_EX_DLGMODALFRAME : 0);
    RECT rect = DialogWindowRect(dialog, style, exStyle, owner);
    HWND window = CreateWindowExA(exStyle, kDialogClassName, dialog.title.c_str(), style, rect.left, rect.top,
                                  rect.right - rect.left, rect.bottom - rect.top, ownerWindow, nullptr, instance,
                                  nullptr);
    if (window == nullptr) return -1;
    AddDialogRecord(window, proc);

    // Our choice: the owner is disabled before the controls and WM_INITDIALOG, so the dialog procedure
    // already sees it disabled; it is enabled again only if it was enabled before.
    bool ownerWasEnabled = ownerWindow != nullptr && IsWindowEnabled(ownerWindow);
    if (ownerWasEnabled) EnableWindow(ownerWindow, FALSE);

    INT_PTR result = -1;
    HWND focus = nullptr;
    SendTemplateFont(dialog, window);
    if (IsWindow(window) && CreateControls(dialog, window, instance, &focus)) {
        SendMessageA(window, WM_INITDIALOG, reinterpret_cast<WPARAM>(focus), param);
        DialogRecord record;
        if (FindDialogRecord(window, &record) && !record.ended && IsWindow(window)) {
            ShowWindow(window, SW_SHOWNORMAL);
            RunModalLoop(window);
        }
        // Ended by EndDialog, by WM_QUIT or by someone destroying the dialog: the result EndDialog gave, or
        // our choice of 0 when nobody called it.
        result = FindDialogRecord(window, &record) && record.ended ? record.result : 0;
    }

    if (ownerWasEnabled && IsWindow(ownerWindow)) EnableWindow(ownerWindow, TRUE);
    if (IsWindow(window)) DestroyWindow(window);
    RemoveDialogRecord(window);
    return result;
}

}  // namespace
}  // namespace w32

using namespace w32;

// An owner that is not a window fails with 0 (ERROR_INVALID_WINDOW_HANDLE), a missing or malformed
// template with -1 and the error of the resource lookup, as Windows documents. An owner that is a child
// window hands ownership (and the disabling) to its top-level window; the position counts from the
// child's client area.
extern "C" INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC proc,
                                          LPARAM param) {
    if (owner != nullptr && FindWindowObject(owner) == nullptr) return 0;
    DialogTemplate dialog;
    if (!LoadDialogTemplate(instance, templateName, &dialog)) return -1;
    return RunDialog(instance, dialog, owner, proc, param);
}
