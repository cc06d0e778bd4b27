// The program's version dialog as DialogBoxParamA builds it from the compiled resources: its window and
// controls read back through public calls, the ways it closes, and its modal loop's effect on the owner.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialog_test_support.h"
#include "resource.h"
#include "test_window.h"
#include "test_input.h"
#ifndef _WIN32
#include "user/window_object.h"
#endif

using namespace dlgtest;

namespace {

struct ControlView {
    std::string className;
    int id;
    std::string text;
    DWORD style;
    RECT rect;  // in the dialog's client coordinates
};

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string TextOf(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// Where the client area starts on the screen, from public calls only: the frame is as wide on the left as
// on the right and at the bottom.
POINT ClientOrigin(HWND window) {
    RECT outer, client;
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    int frame = (outer.right - outer.left - client.right) / 2;
    return POINT{outer.left + frame, outer.bottom - frame - client.bottom};
}

std::vector<ControlView> Controls(HWND dialog, const std::vector<HWND>& controls) {
    POINT origin = ClientOrigin(dialog);
    std::vector<ControlView> views;
    for (HWND control : controls) {
        RECT rect;
        GetWindowRect(control, &rect);
        views.push_back(ControlView{ClassOf(control), GetDlgCtrlID(control), TextOf(control),
                                    static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE)),
                                    RECT{rect.left - origin.x, rect.top - origin.y, rect.right - origin.x,
                                         rect.bottom - origin.y}});
    }
    return views;
}

// The dialog's controls in creation order (EnumChildWindows and GetWindow are not in the layer).
std::vector<HWND> ChildrenOf(HWND dialog) {
#ifdef _WIN32
    std::vector<HWND> children;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
#else
    w32::WindowObject* object = w32::PeekWindowObject(dialog);
    return object != nullptr ? object->children : std::vector<HWND>{};
#endif
}

class VersionDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        Reset();
        owner = CreateOwner();
    }
    void TearDown() override { Reset(); }

    INT_PTR Run(DialogScript& script) {
        return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_VERSION), owner, ScriptedDialogProc,
                               reinterpret_cast<LPARAM>(&script));
    }

    HINSTANCE instance = GetModuleHandleA(nullptr);
    HWND owner = nullptr;
};

TEST_F(VersionDialogTest, WindowAndControlsFollowTheTemplateAtTwoPixelsPerDialogUnit) {
    std::string className, title;
    DWORD style = 0;
    RECT windowRect{}, clientRect{};
    HWND parent = nullptr;
    std::vector<HWND> children;
    std::vector<ControlView> controls;
    HICON icon = nullptr;
    DialogScript script;
    script.onInit = [&](HWND dialog) {
        className = ClassOf(dialog);
        title = TextOf(dialog);
        style = static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE));
        GetWindowRect(dialog, &windowRect);
        GetClientRect(dialog, &clientRect);
        parent = GetParent(dialog);
        children = ChildrenOf(dialog);
        controls = Controls(dialog, children);
        // The two text statics share IDC_STATIC, stored as 0xFFFF; GetDlgItem finds the first.
        EXPECT_EQ(GetDlgItem(dialog, 0xFFFF), children.size() > 1 ? children[1] : nullptr);
        EXPECT_EQ(GetDlgItem(dialog, IDOK), children.back());
        icon = reinterpret_cast<HICON>(SendMessageA(GetDlgItem(dialog, 2), STM_GETICON, 0, 0));
        EndDialog(dialog, IDOK);
    };
    EXPECT_EQ(Run(script), IDOK);

    EXPECT_EQ(className, "#32770");
    EXPECT_EQ(title, u8"ﾊﾞｰｼﾞｮﾝ情報");
    EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_CHILD),
              static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME));
    EXPECT_EQ(parent, owner);  // a pop-up's GetParent is its owner
    // The client area is 230 x 75 units at (22, 17) units from the owner's client origin.
    EXPECT_EQ(clientRect.right, 460);
    EXPECT_EQ(clientRect.bottom, 150);
    POINT origin = ClientOrigin(owner);
    int frame = (windowRect.right - windowRect.left - 460) / 2;
    EXPECT_EQ(windowRect.left + frame, origin.x + 44);
    EXPECT_EQ(windowRect.bottom - frame - 150, origin.y + 34);

    const DWORD child = WS_CHILD | WS_VISIBLE;
    const ControlView expected[] = {
        // An icon static takes the size of its icon (32 x 32), whatever the template says.
        {"Static", 2, "", child | SS_ICON, {28, 18, 60, 50}},
        {"Static", 0xFFFF, "Pelomi Ver2.0", child | WS_GROUP | SS_NOPREFIX, {98, 20, 336, 36}},
        {"Static", 0xFFFF, u8"マイクの音に合わせて顔が動きます", child | WS_GROUP, {98, 40, 386, 56}},
        {"Button", IDOK, "OK", child | WS_TABSTOP | BS_DEFPUSHBUTTON, {390, 12, 450, 34}},
    };
    ASSERT_EQ(controls.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(expected[i].text);
        EXPECT_EQ(controls[i].className, expected[i].className);
        EXPECT_EQ(controls[i].id, expected[i].id);
        EXPECT_EQ(controls[i].text, expected[i].text);
        EXPECT_EQ(controls[i].style, expected[i].style);
        EXPECT_EQ(controls[i].rect.left, expected[i].rect.left);
        EXPECT_EQ(controls[i].rect.top, expected[i].rect.top);
        EXPECT_EQ(controls[i].rect.right, expected[i].rect.right);
        EXPECT_EQ(controls[i].rect.bottom, expected[i].rect.bottom);
    }
    EXPECT_NE(icon, nullptr);
    EXPECT_EQ(icon, LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN)));  // the program's shared icon
    EXPECT_FALSE(IsWindow(children[0]));  // the controls went with the dialog
}

TEST_F(VersionDialogTest, IconStaticPaintsItsIconOverTheDialogFace) {
    std::vector<uint32_t> withIcon, withoutIcon;
    HICON previous = nullptr;
    DialogScript script;
    script.onRunning = [&](HWND dialog) {
        HWND iconStatic = GetDlgItem(dialog, 2);
        UpdateWindow(iconStatic);
        withIcon = testwin::ReadClient(iconStatic);
        previous = reinterpret_cast<HICON>(SendMessageA(iconStatic, STM_SETICON, 0, 0));
        UpdateWindow(iconStatic);
        withoutIcon = testwin::ReadClient(iconStatic);
        EndDialog(dialog, IDOK);
    };
    EXPECT_EQ(Run(script), IDOK);

    const uint32_t face = 0xF0F0F0;  // COLOR_BTNFACE
    ASSERT_EQ(withIcon.size(), 32u * 32u);
    size_t iconPixels = 0;
    for (uint32_t pixel : withIcon) iconPixels += pixel != face;
    EXPECT_GT(iconPixels, 32u * 32u / 4) << "the icon's opaque part is drawn";
    EXPECT_LT(iconPixels, 32u * 32u) << "its transparent part shows the face colour";
    EXPECT_EQ(previous, LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN)));
    EXPECT_EQ(withoutIcon, std::vector<uint32_t>(32 * 32, face));
}

// Each way of closing the dialog, as input would come from a screen.
TEST_F(VersionDialogTest, ClosesWithOkClickEnterEscapeAndCloseBox) {
    struct Case {
        const char* name;
        std::function<void(HWND dialog)> act;
        INT_PTR expected;
    };
    const Case cases[] = {
        {"click on OK",
         [](HWND dialog) {
             HWND ok = GetDlgItem(dialog, IDOK);
             testinput::Mouse(ok, testinput::Button::Left, true, 10, 10);
             testinput::Mouse(ok, testinput::Button::Left, false, 12, 11);
         },
         IDOK},
        {"Enter", [](HWND dialog) { testinput::Key(dialog, VK_RETURN, U'\r'); }, IDOK},
        {"Enter on the button", [](HWND dialog) { testinput::Key(GetDlgItem(dialog, IDOK), VK_RETURN, U'\r'); },
         IDOK},
        {"Esc", [](HWND dialog) { testinput::Key(dialog, VK_ESCAPE, 0x1B); }, IDCANCEL},
        {"close box", [](HWND dialog) { testinput::CloseRequest(dialog); }, IDCANCEL},
        {"press on OK, release outside it",
         [](HWND dialog) {
             HWND ok = GetDlgItem(dialog, IDOK);
             testinput::Mouse(ok, testinput::Button::Left, true, 10, 10);
             testinput::Mouse(ok, testinput::Button::Left, false, 70, 10);
         },
         kGaveUp},
        {"release without a press",
         [](HWND dialog) { testinput::Mouse(GetDlgItem(dialog, IDOK), testinput::Button::Left, false, 10, 10); },
         kGaveUp},
        {"right click on OK",
         [](HWND dialog) {
             HWND ok = GetDlgItem(dialog, IDOK);
             testinput::Mouse(ok, testinput::Button::Right, true, 10, 10);
             testinput::Mouse(ok, testinput::Button::Right, false, 10, 10);
         },
         kGaveUp},
        {"another key", [](HWND dialog) { testinput::Key(dialog, 'A', U'a'); }, kGaveUp},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Events().clear();
        DialogScript script;
        script.onRunning = [&](HWND dialog) {
            test.act(dialog);
            GiveUpAfterQueued(dialog);
        };
        EXPECT_EQ(Run(script), test.expected);
        EXPECT_TRUE(IsWindowEnabled(owner));
        size_t commands = 0;
        for (const Event& event : Events()) commands += event.message == WM_COMMAND;
        EXPECT_EQ(commands, test.expected == kGaveUp ? 0u : 1u);
    }
}

// While the dialog runs, the owner is disabled and gets no input, but every message posted to it is still
// dispatched, in order, by the dialog's loop.
TEST_F(VersionDialogTest, OwnerIsDisabledButItsPostedMessagesKeepFlowing) {
    bool clickTaken = true;
    PostMessageA(owner, kOwnerNote, 1, 0);
    DialogScript script;
    script.onRunning = [&](HWND dialog) {
        PostMessageA(owner, kOwnerNote, 2, 0);
#ifndef _WIN32  // the layer's input path refuses it; on Windows the system never routes it there to post
        clickTaken = testinput::Mouse(owner, testinput::Button::Left, false, 5, 5);
#else
        clickTaken = false;
#endif
        testinput::Key(dialog, VK_ESCAPE, 0x1B);
        PostMessageA(owner, kOwnerNote, 3, 0);
    };
    EXPECT_EQ(Run(script), IDCANCEL);
    EXPECT_TRUE(IsWindowEnabled(owner));
    testwin::PumpMessages();

    const std::vector<Event> expected = {
        {"owner", WM_ENABLE, FALSE},
        {"dialog", WM_SETFONT, 0},
        {"dialog", WM_INITDIALOG, 0},
        {"owner", kOwnerNote, 1},
        {"dialog", kRunning, 0},
        {"owner", kOwnerNote, 2},
        {"dialog", WM_COMMAND, IDCANCEL},
        {"owner", WM_ENABLE, TRUE},
        {"owner", kOwnerNote, 3},  // after the dialog: the program's own loop
    };
    EXPECT_EQ(Events(), expected);
    EXPECT_FALSE(clickTaken);
    EXPECT_EQ(OwnerEnabledAtUserMessages(), (std::vector<bool>{false, false, true}));
}

TEST_F(VersionDialogTest, QuitInsideTheDialogEndsItAndReachesTheOuterLoop) {
    DialogScript script;
    script.onRunning = [&](HWND dialog) {
        PostQuitMessage(7);
        PostMessageA(owner, kOwnerNote, 1, 0);  // posted after the quit, still read before it
        (void)dialog;
    };
    EXPECT_EQ(Run(script), 0);
    EXPECT_TRUE(IsWindowEnabled(owner));
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 7u);
    const std::vector<Event> tail(Events().end() - 2, Events().end());
    EXPECT_EQ(tail, (std::vector<Event>{{"owner", kOwnerNote, 1}, {"owner", WM_ENABLE, TRUE}}));
}

TEST_F(VersionDialogTest, EndDialogInsideInitDialogNeverShowsIt) {
    HWND made = nullptr;
    bool ownerEnabledInInit = true;
    DialogScript script;
    script.onInit = [&](HWND dialog) {
        made = dialog;
        ownerEnabledInInit = IsWindowEnabled(owner) != FALSE;
        EXPECT_TRUE(EndDialog(dialog, 42));
    };
    EXPECT_EQ(Run(script), 42);
    EXPECT_FALSE(ownerEnabledInInit);
    EXPECT_FALSE(IsWindow(made));
    EXPECT_TRUE(IsWindowEnabled(owner));
    for (const Event& event : Events()) EXPECT_NE(event.message, kRunning) << "the modal loop never ran";
}

}  // namespace
