// Menus behind HMENU handles: the object, a plain copy of a whole menu tree for the display backend to build
// a menu bar from, and the command search that accelerators use. Leaves out owner-drawn items, bitmaps,
// check marks and every menu-editing call (the program only loads its menu and reads it back).
#ifndef PELOMI_WIN32_MENU_OBJECT_H
#define PELOMI_WIN32_MENU_OBJECT_H

#include <windows.h>

#include <string>
#include <vector>

#include "base/handle_table.h"

namespace w32 {

struct MenuItem {
    UINT flags = 0;    // MF_ flags as the template gives them, without MF_END; MF_SEPARATOR for separators
    UINT id = 0;       // command identifier; 0 for separators and popups
    std::string text;  // ANSI text as stored: '&' marks the mnemonic, '\t' starts the shortcut column
    HMENU popup = nullptr;  // the submenu of an MF_POPUP item, owned by this menu
};

struct MenuObject : HandleObject {
    static constexpr HandleKind Kind = HandleKind::Menu;
    MenuObject() : HandleObject(Kind) {}
    std::vector<MenuItem> items;
};

// A whole menu by value: what a menu template describes, without handles.
struct MenuTreeItem {
    UINT flags = 0;
    UINT id = 0;
    std::string text;
    std::vector<MenuTreeItem> children;  // the popup's items when flags has MF_POPUP

    bool IsPopup() const { return (flags & MF_POPUP) != 0; }
    bool IsSeparator() const { return (flags & MF_SEPARATOR) != 0; }
};

// Parses a normal (version 0) RT_MENU template. False for truncated or malformed data and for the
// extended (MENUEX) form.
bool ParseMenuTemplate(const uint8_t* data, size_t size, std::vector<MenuTreeItem>* items);

// A menu (and its popups, each its own handle) made from a tree; null when the handle table is full.
HMENU CreateMenuFromTree(const std::vector<MenuTreeItem>& items);

// Copies the menu behind a handle, popups included; false for a handle that is not a live menu.
bool CopyMenuTree(HMENU menu, std::vector<MenuTreeItem>* items);

// One step on the way from a menu bar down to an item: the menu and the item's position in it.
struct MenuPathStep {
    HMENU menu;
    int position;
};

// Finds the first item with command `id`, depth first as MF_BYCOMMAND searches. The path runs from `menu`
// to the menu that holds the item; false when no item has that command.
bool FindMenuCommand(HMENU menu, UINT id, std::vector<MenuPathStep>* path);

}  // namespace w32

#endif
