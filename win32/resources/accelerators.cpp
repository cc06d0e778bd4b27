// LoadAcceleratorsA, CopyAcceleratorTableA and TranslateAcceleratorA over RT_ACCELERATOR resources.
// Leaves out WM_SYSCOMMAND for window-menu accelerators and the minimized-window and capture exceptions.
#include <windows.h>

#include <memory>

#include "base/handle_table.h"
#include "resources/accelerator_table.h"
#include "resources/menu_object.h"
#include "resources/res_file.h"

namespace w32 {
namespace {

constexpr LPARAM kAltContext = LPARAM{1} << 29;  // key messages' context code: Alt was down

bool IsKeyMessage(UINT message) { return message == WM_KEYDOWN || message == WM_SYSKEYDOWN; }
bool IsCharMessage(UINT message) { return message == WM_CHAR || message == WM_SYSCHAR; }

// Windows' matching: virtual-key entries against key-down messages with the exact modifier state;
// character entries against WM_SYSCHAR (Alt held) when they carry FALT, WM_CHAR otherwise, case-sensitively.
// Shift and Ctrl do not apply to character entries (the character already reflects them). Shift and Ctrl
// are read from the key state (GetKeyState), Alt from the message's context code, as Windows does.
bool Matches(const ACCEL& entry, const MSG& msg) {
    bool alt = (msg.lParam & kAltContext) != 0;
    if (entry.fVirt & FVIRTKEY) {
        if (!IsKeyMessage(msg.message) || entry.key != static_cast<WORD>(msg.wParam)) return false;
        const bool shift = GetKeyState(VK_SHIFT) < 0;
        const bool control = GetKeyState(VK_CONTROL) < 0;
        return ((entry.fVirt & FSHIFT) != 0) == shift && ((entry.fVirt & FCONTROL) != 0) == control &&
               ((entry.fVirt & FALT) != 0) == alt;
    }
    if (!IsCharMessage(msg.message) || entry.key != static_cast<WORD>(msg.wParam)) return false;
    if (entry.fVirt & FALT) return msg.message == WM_SYSCHAR && alt;
    return msg.message == WM_CHAR;
}

// As if the user opened the menu that holds the command: WM_INITMENU for the menu bar, then
// WM_INITMENUPOPUP for each popup on the way down (lParam: its position, not the window menu).
void SendMenuInitMessages(HWND window, UINT command) {
    if (!IsWindowEnabled(window)) return;
    HMENU menu = GetMenu(window);
    std::vector<MenuPathStep> path;
    if (menu == nullptr || !FindMenuCommand(menu, command, &path)) return;
    SendMessageA(window, WM_INITMENU, reinterpret_cast<WPARAM>(menu), 0);
    for (size_t i = 0; i + 1 < path.size(); ++i) {
        HMENU popup = path[i + 1].menu;
        SendMessageA(window, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup),
                     MAKELPARAM(path[i].position, FALSE));
    }
}

AcceleratorTableObject* LookupAccelerators(HACCEL table) {
    AcceleratorTableObject* object = Lookup<AcceleratorTableObject>(table);
    if (object == nullptr) SetLastError(ERROR_INVALID_ACCEL_HANDLE);
    return object;
}

}  // namespace

bool ParseAcceleratorTable(const uint8_t* data, size_t size, std::vector<ACCEL>* entries) {
    ResourceCursor cursor(data, size);
    std::vector<ACCEL> parsed;
    while (true) {
        WORD flags, key, id, padding;
        if (!cursor.ReadWord(&flags) || !cursor.ReadWord(&key) || !cursor.ReadWord(&id) ||
            !cursor.ReadWord(&padding))
            return false;
        ACCEL entry;
        entry.fVirt = static_cast<BYTE>(flags & ~kLastAcceleratorEntry);
        entry.key = key;
        entry.cmd = id;
        parsed.push_back(entry);
        if (flags & kLastAcceleratorEntry) break;
    }
    *entries = std::move(parsed);
    return true;
}

}  // namespace w32

using namespace w32;

// Our choice: loading the same table again gives the same handle (tables loaded from resources are
// shared and freed with the program, as Windows documents for them).
extern "C" HACCEL WINAPI LoadAcceleratorsA(HINSTANCE instance, LPCSTR name) {
    ResourceName type = ResourceName::FromAnsi(RT_ACCELERATOR);
    ResourceName tableName = ResourceName::FromAnsi(name);
    if (uintptr_t shared = FindSharedResourceHandle(instance, type, tableName, HandleKind::Accelerators))
        return HandleFromValue<HACCEL>(shared);
    ResourceEntry entry;
    if (!FindModuleResource(instance, type, tableName, &entry)) return nullptr;
    auto table = std::make_unique<AcceleratorTableObject>();
    if (!ParseAcceleratorTable(entry.data, entry.size, &table->entries)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    return HandleFromValue<HACCEL>(InsertSharedResourceHandle(instance, type, tableName, std::move(table)));
}

extern "C" int WINAPI CopyAcceleratorTableA(HACCEL table, LPACCEL entries, int count) {
    const AcceleratorTableObject* object = LookupAccelerators(table);
    if (object == nullptr) return 0;
    int total = static_cast<int>(object->entries.size());
    // A null array asks for the number of entries, as documented.
    if (entries == nullptr) return total;
    int copied = count < total ? (count > 0 ? count : 0) : total;
    for (int i = 0; i < copied; ++i) entries[i] = object->entries[static_cast<size_t>(i)];
    return copied;
}

extern "C" int WINAPI TranslateAcceleratorA(HWND window, HACCEL table, LPMSG msg) {
    const AcceleratorTableObject* object = LookupAccelerators(table);
    if (object == nullptr) return 0;
    if (!IsWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (msg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const ACCEL* match = nullptr;
    for (const ACCEL& entry : object->entries) {
        if (Matches(entry, *msg)) {
            match = &entry;
            break;
        }
    }
    if (match == nullptr) return 0;
    // Copied before any message is sent: the window procedure may do anything, meanwhile.
    UINT command = match->cmd;
    SendMenuInitMessages(window, command);
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(command, 1), 0);
    return 1;
}
