// TranslateAcceleratorA against recorded window messages: the program's Alt+? and Alt+/ entries, virtual-key
// entries with modifiers, the menu initialisation Windows sends first, and invalid arguments.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <vector>

#include "res_builder.h"
#include "resource.h"
#include "resources/accelerator_table.h"
#include "user/input_delivery.h"

namespace {

struct Sent {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const Sent& other) const {
        return message == other.message && wParam == other.wParam && lParam == other.lParam;
    }
};

std::vector<Sent> sent;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND || message == WM_INITMENU || message == WM_INITMENUPOPUP)
        sent.push_back({message, wParam, lParam});
    return DefWindowProcA(window, message, wParam, lParam);
}

constexpr LPARAM kAlt = LPARAM{1} << 29;

// A top-level window of a class that records commands, with the program's menu when `withMenu`.
HWND CreateRecordingWindow(bool withMenu) {
    const char* className = withMenu ? "AcceleratorTestWithMenu" : "AcceleratorTestPlain";
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = RecordingProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className;
    windowClass.lpszMenuName = withMenu ? MAKEINTRESOURCEA(IDR_MAIN_MENU) : nullptr;
    RegisterClassExA(&windowClass);
    HWND window = CreateWindowExA(0, className, "accelerators", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, 232, 255,
                                  nullptr, nullptr, windowClass.hInstance, nullptr);
    sent.clear();
    return window;
}

class ProgramAccelerators : public ::testing::Test {
protected:
    void SetUp() override {
        table = LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAIN_ACCEL));
        ASSERT_NE(table, nullptr);
        window = CreateRecordingWindow(false);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override { DestroyWindow(window); }

    int Translate(UINT message, WPARAM wParam, LPARAM lParam) {
        MSG msg = {window, message, wParam, lParam, 0, {0, 0}};
        return TranslateAcceleratorA(window, table, &msg);
    }

    HACCEL table = nullptr;
    HWND window = nullptr;
};

TEST_F(ProgramAccelerators, AltQuestionMarkAndAltSlashSendTheVersionCommandAtOnce) {
    for (WPARAM character : {WPARAM{'?'}, WPARAM{'/'}}) {
        SCOPED_TRACE(static_cast<char>(character));
        sent.clear();
        EXPECT_NE(Translate(WM_SYSCHAR, character, kAlt | 1), 0);
        // Sent straight to the procedure (high word 1: from an accelerator), nothing left queued.
        EXPECT_EQ(sent, (std::vector<Sent>{{WM_COMMAND, MAKEWPARAM(IDM_VERSION, 1), 0}}));
        MSG queued;
        EXPECT_FALSE(PeekMessageA(&queued, nullptr, 0, 0, PM_NOREMOVE));
    }
}

TEST_F(ProgramAccelerators, OtherMessagesAreLeftAlone) {
    struct Case {
        const char* what;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    const Case cases[] = {
        {"'?' typed without Alt", WM_CHAR, '?', 1},
        {"'/' typed without Alt", WM_CHAR, '/', 1},
        {"WM_SYSCHAR without the Alt context", WM_SYSCHAR, '?', 1},
        {"another character with Alt", WM_SYSCHAR, '=', kAlt | 1},
        {"the key of '/' as a key-down", WM_SYSKEYDOWN, 0xBF /* VK_OEM_2 */, kAlt | 1},
        {"the character code as a virtual key", WM_SYSKEYDOWN, '?', kAlt | 1},
        {"a key release", WM_SYSKEYUP, '?', kAlt | 1},
        {"a mouse message", WM_LBUTTONUP, '?', kAlt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sent.clear();
        EXPECT_EQ(Translate(c.message, c.wParam, c.lParam), 0);
        EXPECT_TRUE(sent.empty());
    }
}

TEST_F(ProgramAccelerators, InvalidArgumentsFailWithoutSendingAnything) {
    MSG msg = {window, WM_SYSCHAR, '?', kAlt, 0, {0, 0}};
    HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAIN_MENU));

    SetLastError(0);
    EXPECT_EQ(TranslateAcceleratorA(window, nullptr, &msg), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ACCEL_HANDLE));
    EXPECT_EQ(TranslateAcceleratorA(window, reinterpret_cast<HACCEL>(menu), &msg), 0);  // a foreign handle
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ACCEL_HANDLE));
    EXPECT_EQ(TranslateAcceleratorA(nullptr, table, &msg), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(TranslateAcceleratorA(window, table, nullptr), 0);

    HWND gone = CreateRecordingWindow(false);
    DestroyWindow(gone);
    msg.hwnd = gone;
    EXPECT_EQ(TranslateAcceleratorA(gone, table, &msg), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_TRUE(sent.empty());
    DestroyMenu(menu);
}

TEST(AcceleratorMenu, CommandInTheWindowMenuIsAnnouncedLikeOpeningThatMenu) {
    HACCEL table = LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAIN_ACCEL));
    HWND window = CreateRecordingWindow(true);
    ASSERT_NE(window, nullptr);
    HMENU menu = GetMenu(window);
    ASSERT_NE(menu, nullptr);
    MSG msg = {window, WM_SYSCHAR, '/', kAlt | 1, 0, {0, 0}};
    EXPECT_NE(TranslateAcceleratorA(window, table, &msg), 0);
    // The version command sits in the second popup ("ﾍﾙﾌﾟ(&H)", position 1) of the menu bar.
    const std::vector<Sent> expected = {
        {WM_INITMENU, reinterpret_cast<WPARAM>(menu), 0},
        {WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(GetSubMenu(menu, 1)), MAKELPARAM(1, FALSE)},
        {WM_COMMAND, MAKEWPARAM(IDM_VERSION, 1), 0},
    };
    EXPECT_EQ(sent, expected);

    // A disabled window gets the command alone.
    EnableWindow(window, FALSE);
    sent.clear();
    EXPECT_NE(TranslateAcceleratorA(window, table, &msg), 0);
    EXPECT_EQ(sent, (std::vector<Sent>{{WM_COMMAND, MAKEWPARAM(IDM_VERSION, 1), 0}}));
    DestroyWindow(window);
}

// A table of virtual-key entries: Ctrl+O, Shift+F4, Alt+Enter, plain Escape, and a case-sensitive 'a', fed
// key events as the display backend delivers them: Shift and Ctrl come from the one keyboard state.
TEST(VirtualKeyAccelerators, MatchKeyAndExactModifierStateOfDeliveredKeys) {
    const uint16_t entries[][4] = {
        {FVIRTKEY | FCONTROL, 'O', 201, 0}, {FVIRTKEY | FSHIFT, VK_F4, 202, 0}, {FVIRTKEY | FALT, VK_RETURN, 203, 0},
        {FVIRTKEY, VK_ESCAPE, 204, 0},      {0, 'a', 205, 0},                   {0x80, 'A', 206, 0},
    };
    std::vector<uint8_t> data;
    for (const auto& entry : entries)
        for (uint16_t word : entry) {
            data.push_back(static_cast<uint8_t>(word));
            data.push_back(static_cast<uint8_t>(word >> 8));
        }
    restest::Entry resource;
    resource.typeOrdinal = 9;
    resource.nameOrdinal = 1;
    resource.data = data;
    restest::ScopedResources resources(restest::BuildRes({resource}));
    HACCEL table = LoadAcceleratorsA(nullptr, MAKEINTRESOURCEA(1));
    ASSERT_NE(table, nullptr);
    HWND window = CreateRecordingWindow(false);

    constexpr unsigned shift = w32::kShiftHeld, control = w32::kControlHeld, alt = w32::kAltHeld;
    struct Case {
        const char* what;
        UINT key;
        char32_t typed;    // what the key types with these modifiers
        unsigned modifiers;
        UINT translated;   // the message given to TranslateAcceleratorA: the key's own, or its character's
        WORD command;      // 0: no match
    };
    const Case cases[] = {
        {"Ctrl+O", 'O', 0x0F, control, WM_KEYDOWN, 201},
        {"O alone", 'O', 'o', 0, WM_KEYDOWN, 0},
        {"Ctrl+Shift+O has a modifier too many", 'O', 0x0F, control | shift, WM_KEYDOWN, 0},
        {"Ctrl+Alt+O", 'O', 0, control | alt, WM_KEYDOWN, 0},
        {"Shift+F4", VK_F4, 0, shift, WM_KEYDOWN, 202},
        {"F4 alone", VK_F4, 0, 0, WM_KEYDOWN, 0},
        {"Alt+Enter", VK_RETURN, '\r', alt, WM_SYSKEYDOWN, 203},
        {"Enter without Alt", VK_RETURN, '\r', 0, WM_KEYDOWN, 0},
        {"Escape", VK_ESCAPE, 0x1B, 0, WM_KEYDOWN, 204},
        {"Escape as a character is not the key", VK_ESCAPE, 0x1B, 0, WM_CHAR, 0},
        {"'a' typed", 'A', 'a', 0, WM_CHAR, 205},
        {"'a' typed with Shift held (Caps Lock) still matches the character", 'A', 'a', shift, WM_CHAR, 205},
        {"'A' typed: the last entry", 'A', 'A', shift, WM_CHAR, 206},
        {"the key of 'A' is no character", 'A', 'a', 0, WM_KEYDOWN, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(w32::DeliverKey(window, true, c.key, c.typed, c.modifiers));
        MSG msg;
        ASSERT_TRUE(PeekMessageA(&msg, window, 0, 0, PM_REMOVE));
        if (c.translated == WM_CHAR) {
            TranslateMessage(&msg);
            ASSERT_TRUE(PeekMessageA(&msg, window, WM_CHAR, WM_SYSCHAR, PM_REMOVE));
        }
        ASSERT_EQ(msg.message, c.translated);
        sent.clear();
        EXPECT_EQ(TranslateAcceleratorA(window, table, &msg) != 0, c.command != 0);
        if (c.command != 0) {
            EXPECT_EQ(sent, (std::vector<Sent>{{WM_COMMAND, MAKEWPARAM(c.command, 1), 0}}));
        } else {
            EXPECT_TRUE(sent.empty());
        }
        w32::DeliverKey(window, false, c.key, 0, 0);  // every key and modifier up again
        while (PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) {
        }
    }
    DestroyWindow(window);
}

TEST(AcceleratorTable, CopyGivesTheEntriesWithoutTheEndFlagAndLoadingAgainSharesTheHandle) {
    HACCEL table = LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAIN_ACCEL));
    EXPECT_EQ(LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAIN_ACCEL)), table);
    EXPECT_EQ(LoadAcceleratorsA(nullptr, "#109"), table);
    EXPECT_EQ(CopyAcceleratorTableA(table, nullptr, 0), 2);

    ACCEL copy[2];
    std::memset(copy, 0x5A, sizeof copy);
    EXPECT_EQ(CopyAcceleratorTableA(table, copy, 1), 1);
    EXPECT_EQ(copy[0].fVirt, FALT);
    EXPECT_EQ(copy[0].key, '?');
    EXPECT_EQ(copy[1].cmd, 0x5A5A);  // past the count: untouched
    EXPECT_EQ(CopyAcceleratorTableA(table, copy, 0), 0);
    EXPECT_EQ(copy[0].key, '?');

    SetLastError(0);
    EXPECT_EQ(CopyAcceleratorTableA(nullptr, copy, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ACCEL_HANDLE));
    EXPECT_EQ(LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(110)), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
}

}  // namespace
