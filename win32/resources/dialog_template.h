// Dialog templates (RT_DIALOG) parsed into plain structs for the dialog code: DLGTEMPLATE and
// DLGTEMPLATEEX with their items. Leaves out creating the dialog; texts are in the ANSI code page.
#ifndef PELOMI_WIN32_DIALOG_TEMPLATE_H
#define PELOMI_WIN32_DIALOG_TEMPLATE_H

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace w32 {

// The predefined control classes that templates name by atom.
constexpr WORD kButtonClassAtom = 0x0080;
constexpr WORD kEditClassAtom = 0x0081;
constexpr WORD kStaticClassAtom = 0x0082;
constexpr WORD kListBoxClassAtom = 0x0083;
constexpr WORD kScrollBarClassAtom = 0x0084;
constexpr WORD kComboBoxClassAtom = 0x0085;

// A template's sz_Or_Ord field: a number (class atom, icon or menu id) or a string.
struct TemplateName {
    bool isOrdinal = false;
    WORD ordinal = 0;
    std::string text;  // empty when absent

    bool IsEmpty() const { return !isOrdinal && text.empty(); }
};

struct DialogItemTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    DWORD helpId = 0;  // extended templates only
    short x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    // As stored: a DLGTEMPLATE item's WORD id is zero-extended, so -1 (IDC_STATIC) reads 0xFFFF.
    DWORD id = 0;
    TemplateName windowClass;  // atom (kStaticClassAtom...) or class name
    TemplateName text;         // text, or the resource ordinal of a static control's icon
    std::vector<uint8_t> creationData;
};

struct DialogTemplate {
    bool extended = false;  // DLGTEMPLATEEX
    DWORD style = 0;
    DWORD exStyle = 0;
    DWORD helpId = 0;
    short x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    TemplateName menu;
    TemplateName windowClass;
    std::string title;
    // Present when the style has DS_SETFONT.
    bool hasFont = false;
    WORD pointSize = 0;
    WORD weight = 0;  // extended templates only
    BYTE italic = 0;
    BYTE charset = 0;
    std::string faceName;
    std::vector<DialogItemTemplate> items;
};

// Parses either template form; false for truncated or malformed data.
bool ParseDialogTemplate(const uint8_t* data, size_t size, DialogTemplate* dialog);

// The RT_DIALOG resource `name` of `instance` (null: the program), parsed; the lookup DialogBoxParamA does.
// On failure sets the last error as FindResource does (ERROR_RESOURCE_DATA_NOT_FOUND for malformed data).
bool LoadDialogTemplate(HINSTANCE instance, LPCSTR name, DialogTemplate* dialog);

}  // namespace w32

#endif
