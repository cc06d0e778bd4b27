// LoadMenuA and the menu read-back calls (GetMenuItemCount, GetMenuItemID, GetSubMenu, GetMenuStringA,
// DestroyMenu) on menus parsed from RT_MENU templates. Leaves out MENUEX templates and menu editing.
#include <windows.h>

#include <memory>

#include "base/ansi_codepage.h"
#include "base/handle_table.h"
#include "resources/menu_object.h"
#include "resources/res_file.h"

namespace w32 {
namespace {

// Deeper nesting than any real menu; it keeps a crafted template from exhausting the stack.
constexpr int kMaxMenuDepth = 32;

bool ParseMenuLevel(ResourceCursor& cursor, int depth, std::vector<MenuTreeItem>* items) {
    if (depth > kMaxMenuDepth) return false;
    while (true) {
        WORD flags;
        if (!cursor.ReadWord(&flags)) return false;
        MenuTreeItem item;
        WORD id = 0;
        if (!(flags & MF_POPUP) && !cursor.ReadWord(&id)) return false;
        std::u16string text;
        if (!cursor.ReadString(&text)) return false;
        item.flags = flags & ~MF_END;
        item.id = id;
        item.text = Utf16ToAnsi(text);
        // MENUITEM SEPARATOR compiles to an item with no flags, no id and no text.
        if (!(flags & MF_POPUP) && id == 0 && text.empty()) item.flags |= MF_SEPARATOR;
        if ((flags & MF_POPUP) && !ParseMenuLevel(cursor, depth + 1, &item.children)) return false;
        items->push_back(std::move(item));
        if (flags & MF_END) return true;
    }
}

void DestroyMenuTree(HMENU menu) {
    std::unique_ptr<HandleObject> removed = RemoveHandle(menu, HandleKind::Menu);
    if (!removed) return;
    for (const MenuItem& item : static_cast<MenuObject*>(removed.get())->items)
        if (item.popup != nullptr) DestroyMenuTree(item.popup);
}

MenuObject* LookupMenu(HMENU menu) {
    MenuObject* object = Lookup<MenuObject>(menu);
    if (object == nullptr) SetLastError(ERROR_INVALID_MENU_HANDLE);
    return object;
}

const MenuItem* ItemAt(const MenuObject* menu, int position) {
    if (position < 0 || static_cast<size_t>(position) >= menu->items.size()) return nullptr;
    return &menu->items[static_cast<size_t>(position)];
}

bool FindCommandIn(HMENU menu, UINT id, int depth, std::vector<MenuPathStep>* path) {
    const MenuObject* object = Lookup<MenuObject>(menu);
    if (object == nullptr || depth > kMaxMenuDepth) return false;
    for (size_t i = 0; i < object->items.size(); ++i) {
        const MenuItem& item = object->items[i];
        path->push_back({menu, static_cast<int>(i)});
        if (item.popup == nullptr && !(item.flags & MF_SEPARATOR) && item.id == id) return true;
        if (item.popup != nullptr && FindCommandIn(item.popup, id, depth + 1, path)) return true;
        path->pop_back();
    }
    return false;
}

}  // namespace

bool ParseMenuTemplate(const uint8_t* data, size_t size, std::vector<MenuTreeItem>* items) {
    ResourceCursor cursor(data, size);
    WORD version, headerSize;
    if (!cursor.ReadWord(&version) || !cursor.ReadWord(&headerSize)) return false;
    if (version != 0 || !cursor.Skip(headerSize)) return false;
    std::vector<MenuTreeItem> parsed;
    if (!ParseMenuLevel(cursor, 0, &parsed)) return false;
    *items = std::move(parsed);
    return true;
}

HMENU CreateMenuFromTree(const std::vector<MenuTreeItem>& items) {
    auto object = std::make_unique<MenuObject>();
    for (const MenuTreeItem& source : items) {
        MenuItem item;
        item.flags = source.flags;
        item.id = source.IsPopup() ? 0 : source.id;
        item.text = source.text;
        if (source.IsPopup()) {
            item.popup = CreateMenuFromTree(source.children);
            if (item.popup == nullptr) {
                for (const MenuItem& made : object->items)
                    if (made.popup != nullptr) DestroyMenuTree(made.popup);
                return nullptr;
            }
        }
        object->items.push_back(std::move(item));
    }
    std::vector<HMENU> popups;
    for (const MenuItem& item : object->items)
        if (item.popup != nullptr) popups.push_back(item.popup);
    HMENU menu = InsertAs<HMENU>(std::move(object));
    if (menu == nullptr)
        for (HMENU popup : popups) DestroyMenuTree(popup);
    return menu;
}

bool CopyMenuTree(HMENU menu, std::vector<MenuTreeItem>* items) {
    const MenuObject* object = Lookup<MenuObject>(menu);
    if (object == nullptr) return false;
    std::vector<MenuTreeItem> copy;
    for (const MenuItem& item : object->items) {
        MenuTreeItem entry;
        entry.flags = item.flags;
        entry.id = item.id;
        entry.text = item.text;
        if (item.popup != nullptr && !CopyMenuTree(item.popup, &entry.children)) return false;
        copy.push_back(std::move(entry));
    }
    *items = std::move(copy);
    return true;
}

bool FindMenuCommand(HMENU menu, UINT id, std::vector<MenuPathStep>* path) {
    path->clear();
    return FindCommandIn(menu, id, 0, path);
}

}  // namespace w32

using namespace w32;

extern "C" HMENU WINAPI LoadMenuA(HINSTANCE instance, LPCSTR name) {
    ResourceEntry entry;
    if (!FindModuleResource(instance, ResourceName::FromAnsi(RT_MENU), ResourceName::FromAnsi(name), &entry))
        return nullptr;
    std::vector<MenuTreeItem> items;
    if (!ParseMenuTemplate(entry.data, entry.size, &items)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    HMENU menu = CreateMenuFromTree(items);
    if (menu == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return menu;
}

extern "C" int WINAPI GetMenuItemCount(HMENU menu) {
    const MenuObject* object = LookupMenu(menu);
    return object ? static_cast<int>(object->items.size()) : -1;
}

extern "C" UINT WINAPI GetMenuItemID(HMENU menu, int position) {
    const MenuObject* object = LookupMenu(menu);
    if (object == nullptr) return static_cast<UINT>(-1);
    const MenuItem* item = ItemAt(object, position);
    if (item == nullptr || item->popup != nullptr) return static_cast<UINT>(-1);
    return item->id;
}

extern "C" HMENU WINAPI GetSubMenu(HMENU menu, int position) {
    const MenuObject* object = LookupMenu(menu);
    if (object == nullptr) return nullptr;
    const MenuItem* item = ItemAt(object, position);
    return item ? item->popup : nullptr;
}

extern "C" int WINAPI GetMenuStringA(HMENU menu, UINT item, LPSTR text, int maxCount, UINT flags) {
    const MenuObject* object = LookupMenu(menu);
    if (object == nullptr) return 0;
    const MenuItem* found = nullptr;
    if (flags & MF_BYPOSITION) {
        found = ItemAt(object, static_cast<int>(item));
    } else {
        std::vector<MenuPathStep> path;
        if (FindMenuCommand(menu, item, &path))
            found = ItemAt(Lookup<MenuObject>(path.back().menu), path.back().position);
    }
    if (found == nullptr) return 0;
    // A null buffer or a maxCount of 0 asks for the length, as documented.
    if (text == nullptr || maxCount == 0) return static_cast<int>(found->text.size());
    return CopyAnsiToBuffer(found->text, text, maxCount);
}

extern "C" BOOL WINAPI DestroyMenu(HMENU menu) {
    if (Lookup<MenuObject>(menu) == nullptr) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return FALSE;
    }
    DestroyMenuTree(menu);
    return TRUE;
}
