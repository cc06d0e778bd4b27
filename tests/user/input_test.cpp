// Input as a display backend delivers it: mouse buttons, keys through TranslateMessage, the close box,
// Alt+F4, menu commands and frame resizes, each ending in the messages Windows would give the program.
#include <gmock/gmock.h>

#include "testing/headless_display.h"
#include "user/input_delivery.h"
#include "user_test_fixture.h"

using ::testing::ElementsAre;
using namespace usertest;
using w32::MouseButton;

namespace {

class InputTest : public UserTest {
protected:
    // A main window like the program's: overlapped, class menu, shown and painted.
    HWND MainWindow() {
        if (!registered_) {
            RegisterRecordingClass("PelomiInputMain", CS_HREDRAW | CS_VREDRAW,
                                   reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), MAKEINTRESOURCEA(kTestMenu));
            registered_ = true;
        }
        HWND window =
            Make("main", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, 232, 255, nullptr, nullptr, "PelomiInputMain");
        ShowWindow(window, SW_SHOWNORMAL);
        UpdateWindow(window);
        DispatchUntilIdle();
        ClearLog();
        return window;
    }

private:
    bool registered_ = false;
};

TEST_F(InputTest, ClicksArriveAsButtonMessagesWithFlagsAndClientCoordinates) {
    HWND window = MainWindow();
    ASSERT_TRUE(w32::DeliverMouseButton(window, MouseButton::Left, true, 30, 40, 0));
    ASSERT_TRUE(w32::DeliverMouseButton(window, MouseButton::Left, false, 31, 41, w32::kShiftHeld));
    ASSERT_TRUE(w32::DeliverMouseButton(window, MouseButton::Right, true, 5, 6, w32::kControlHeld));
    ASSERT_TRUE(w32::DeliverMouseButton(window, MouseButton::Right, false, 5, 6, 0));
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_LBUTTONUP, WM_LBUTTONUP, PM_NOREMOVE));
    EXPECT_EQ(msg.pt.x, 26 + 8 + 31);  // the cursor on the screen: window corner, frame, point
    EXPECT_EQ(msg.pt.y, 26 + 8 + 23 + 20 + 41);
    DispatchUntilIdle();
    EXPECT_THAT(Names(window), ElementsAre("WM_LBUTTONDOWN", "WM_LBUTTONUP", "WM_RBUTTONDOWN", "WM_RBUTTONUP"));
    auto down = Messages(window, WM_LBUTTONDOWN)[0];
    EXPECT_EQ(down.wParam, static_cast<WPARAM>(MK_LBUTTON));
    EXPECT_EQ(down.lParam, MAKELPARAM(30, 40));
    auto up = Messages(window, WM_LBUTTONUP)[0];
    EXPECT_EQ(up.wParam, static_cast<WPARAM>(MK_SHIFT));  // the released button is no longer held
    EXPECT_EQ(up.lParam, MAKELPARAM(31, 41));
    EXPECT_EQ(Messages(window, WM_RBUTTONDOWN)[0].wParam, static_cast<WPARAM>(MK_RBUTTON | MK_CONTROL));
}

TEST_F(InputTest, DoubleClicksNeedTheClassStyleAndMovesMerge) {
    HWND plain = Make("plain", WS_POPUP, 0, 0, 50, 50);
    RegisterRecordingClass("PelomiDoubleClicks", CS_DBLCLKS, nullptr, nullptr);
    HWND doubles = Make("doubles", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr, "PelomiDoubleClicks");
    ClearLog();
    for (HWND window : {plain, doubles}) {
        w32::DeliverMouseButton(window, MouseButton::Left, true, 1, 1, 0, true);
        w32::DeliverMouseButton(window, MouseButton::Left, false, 1, 1, 0);
    }
    w32::DeliverMouseMove(plain, 1, 2, 0);
    w32::DeliverMouseMove(plain, 3, 4, 0);
    DispatchUntilIdle();
    EXPECT_THAT(Trace(), ElementsAre("plain WM_LBUTTONDOWN", "plain WM_LBUTTONUP", "doubles WM_LBUTTONDBLCLK",
                                     "doubles WM_LBUTTONUP", "plain WM_MOUSEMOVE"));
    EXPECT_EQ(Messages(plain, WM_MOUSEMOVE)[0].lParam, MAKELPARAM(3, 4));
}

TEST_F(InputTest, AltKeysBecomeSystemKeysAndSystemCharactersForAccelerators) {
    HWND window = MainWindow();
    w32::DeliverKey(window, true, VK_MENU, 0, w32::kAltHeld);
    w32::DeliverKey(window, true, 0xBF, U'?', w32::kAltHeld | w32::kShiftHeld);  // the '/?' key on a US layout
    EXPECT_LT(GetKeyState(VK_SHIFT), 0);                                         // high bit: held
    w32::DeliverKey(window, false, 0xBF, 0, w32::kAltHeld);
    w32::DeliverKey(window, false, VK_MENU, 0, 0);
    w32::DeliverKey(window, true, 'A', U'a', 0);
    w32::DeliverKey(window, true, 'A', U'a', 0);  // auto-repeat
    w32::DeliverKey(window, false, 'A', 0, 0);
    EXPECT_GE(GetKeyState(VK_SHIFT), 0);
    DispatchUntilIdle();
    EXPECT_THAT(Names(window),
                ElementsAre("WM_SYSKEYDOWN", "WM_SYSKEYDOWN", "WM_SYSCHAR", "WM_SYSKEYUP", "WM_KEYUP", "WM_KEYDOWN",
                            "WM_CHAR", "WM_KEYDOWN", "WM_CHAR", "WM_KEYUP"));
    auto sysChar = Messages(window, WM_SYSCHAR)[0];
    EXPECT_EQ(sysChar.wParam, static_cast<WPARAM>('?'));
    EXPECT_EQ(sysChar.lParam & (1 << 29), 1 << 29);  // Alt context
    auto keyDowns = Messages(window, WM_KEYDOWN);
    EXPECT_EQ(keyDowns[0].lParam, 1);              // repeat count 1, fresh press
    EXPECT_EQ(keyDowns[1].lParam, 1 | (1 << 30));  // the key was already down
    DWORD upBits = static_cast<DWORD>(Messages(window, WM_KEYUP)[1].lParam);
    EXPECT_EQ(upBits, 0xC0000001u);
}

TEST_F(InputTest, CloseBoxAndAltF4CloseTheWindowThroughDefWindowProc) {
    HWND window = MainWindow();
    ASSERT_TRUE(w32::DeliverCloseRequest(window));
    DispatchUntilIdle();
    EXPECT_THAT(Names(window), ElementsAre("WM_SYSCOMMAND", "WM_CLOSE", "WM_WINDOWPOSCHANGING",
                                           "WM_WINDOWPOSCHANGED", "WM_NCACTIVATE", "WM_ACTIVATE",
                                           "WM_ACTIVATEAPP", "WM_DESTROY", "WM_NCDESTROY"));
    EXPECT_EQ(Messages(window, WM_SYSCOMMAND)[0].wParam, static_cast<WPARAM>(SC_CLOSE));
    EXPECT_FALSE(w32::DeliverCloseRequest(window));

    HWND second = MainWindow();
    Label(second, "second");
    w32::DeliverKey(second, true, VK_MENU, 0, w32::kAltHeld);
    w32::DeliverKey(second, true, VK_F4, 0, w32::kAltHeld);
    DispatchUntilIdle();
    EXPECT_THAT(Trace({WM_SYSKEYDOWN, WM_SYSCOMMAND, WM_CLOSE, WM_DESTROY}),
                ElementsAre("second WM_SYSKEYDOWN", "second WM_SYSKEYDOWN", "second WM_SYSCOMMAND",
                            "second WM_CLOSE", "second WM_DESTROY"));
    w32::DeliverKey(second, false, VK_F4, 0, 0);  // the window is gone, but the keys are released
    w32::DeliverKey(second, false, VK_MENU, 0, 0);
    EXPECT_GE(GetKeyState(VK_MENU), 0);
}

TEST_F(InputTest, DisabledWindowsAndTheirChildrenGetNoInput) {
    HWND window = MainWindow();
    HWND child = Make("child", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, window);
    ClearLog();
    EXPECT_FALSE(EnableWindow(window, FALSE));  // it was enabled
    EXPECT_TRUE(EnableWindow(window, FALSE));   // now it was disabled: no second WM_ENABLE
    EXPECT_FALSE(IsWindowEnabled(window));
    EXPECT_TRUE(IsWindowEnabled(child));
    EXPECT_FALSE(w32::DeliverMouseButton(window, MouseButton::Left, false, 1, 1, 0));
    EXPECT_FALSE(w32::DeliverMouseButton(child, MouseButton::Left, false, 1, 1, 0));
    EXPECT_FALSE(w32::DeliverCloseRequest(window));
    EXPECT_TRUE(PostMessageA(window, WM_USER, 0, 0));  // posting is not input
    EXPECT_TRUE(EnableWindow(window, TRUE));
    EXPECT_TRUE(w32::DeliverMouseButton(window, MouseButton::Left, false, 1, 1, 0));
    DispatchUntilIdle();
    // WM_ENABLE is sent at once; the posted message and the click wait for the loop.
    EXPECT_THAT(Names(window), ElementsAre("WM_ENABLE", "WM_ENABLE", "0x0400", "WM_LBUTTONUP"));
    EXPECT_EQ(Messages(window, WM_ENABLE)[0].wParam, static_cast<WPARAM>(FALSE));
}

TEST_F(InputTest, MenuCommandsAndFrameResizesReachTheWindowFromTheLoop) {
    HWND window = MainWindow();
    ASSERT_TRUE(w32::DeliverMenuCommand(window, 105));
    ASSERT_TRUE(w32::DeliverClientResize(window, 300, 200));
    ASSERT_TRUE(w32::DeliverWindowMove(window, 40, 50));
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 216);  // nothing happens before the loop runs
    DispatchUntilIdle();
    auto command = Messages(window, WM_COMMAND);
    ASSERT_EQ(command.size(), 1u);
    EXPECT_EQ(command[0].wParam, MAKEWPARAM(105, 0));
    EXPECT_EQ(command[0].lParam, 0);
    EXPECT_EQ(Messages(window, WM_SIZE)[0].lParam, MAKELPARAM(300, 200));
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 300);
    EXPECT_EQ(client.bottom, 200);
    RECT outer;
    GetWindowRect(window, &outer);
    EXPECT_EQ(outer.left, 40);
    EXPECT_EQ(outer.top, 50);
    EXPECT_EQ(outer.right - outer.left, 316);
    EXPECT_EQ(outer.bottom - outer.top, 259);
}

// The program's whole loop: a click, then the close box; GetMessageA ends with the quit code.
TEST_F(InputTest, TheMessageLoopRunsUntilTheDestroyHandlerQuits) {
    HWND window = MainWindow();
    SetHook([](HWND, UINT message, WPARAM, LPARAM, LRESULT* result) {
        if (message != WM_DESTROY) return false;
        PostQuitMessage(0);
        *result = 0;
        return true;
    });
    w32::DeliverMouseButton(window, MouseButton::Left, true, 10, 10, 0);
    w32::DeliverMouseButton(window, MouseButton::Left, false, 10, 10, 0);
    w32::DeliverCloseRequest(window);
    MSG msg;
    BOOL result;
    while ((result = GetMessageA(&msg, nullptr, 0, 0)) != 0) {
        ASSERT_NE(result, -1);
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    EXPECT_EQ(msg.wParam, 0u);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_THAT(Trace({WM_LBUTTONUP, WM_CLOSE, WM_DESTROY}),
                ElementsAre("main WM_LBUTTONUP", "main WM_CLOSE", "main WM_DESTROY"));
}

}  // namespace
