// The dialog manager's edge cases on the test templates: failures of DialogBoxParamA, owners of every
// kind, buttons and default handling without a default push button, nesting, and the control queries.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "conformance.h"
#include "dialog_test_support.h"
#include "test_input.h"

using namespace dlgtest;

namespace {

constexpr WORD kPlainDialog = 201;
constexpr WORD kBrokenDialog = 202;
constexpr int kIconStatic = 5;
constexpr int kOtherButton = 10;
constexpr int kTextStatic = 11;

struct Command {
    WORD id;
    WORD code;
    HWND control;
};

class DialogBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        Reset();
        owner = CreateOwner();
    }
    void TearDown() override { Reset(); }

    INT_PTR Run(WORD dialog, HWND ownerWindow, DialogScript& script) {
        return DialogBoxParamA(instance, MAKEINTRESOURCEA(dialog), ownerWindow, ScriptedDialogProc,
                               reinterpret_cast<LPARAM>(&script));
    }

    // Records every WM_COMMAND in full before the scripted procedure handles it.
    void RecordCommands(DialogScript& script) {
        script.onMessage = [this](HWND, UINT message, WPARAM wParam, LPARAM lParam) {
            if (message == WM_COMMAND)
                commands.push_back(Command{LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)});
            return false;
        };
    }

    HINSTANCE instance = GetModuleHandleA(nullptr);
    HWND owner = nullptr;
    std::vector<Command> commands;
};

TEST_F(DialogBoxTest, FailuresReturnMinusOneOrZeroAndLeaveTheOwnerAlone) {
    DialogScript script;
    SetLastError(0);
    EXPECT_EQ(Run(999, owner, script), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));

    // A control class nobody registered fails the whole dialog, before WM_INITDIALOG.
    EXPECT_EQ(Run(kBrokenDialog, owner, script), -1);
    LAYER_CHOICE(EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS)));

    HWND gone = CreateOwner();
    DestroyWindow(gone);
    SetLastError(0);
    EXPECT_EQ(Run(kPlainDialog, gone, script), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));

    EXPECT_TRUE(IsWindowEnabled(owner));
    for (const Event& event : Events()) EXPECT_NE(event.message, static_cast<UINT>(WM_INITDIALOG));
}

TEST_F(DialogBoxTest, ButtonsReportTheirOwnIdAndEnterFallsBackToIdok) {
    DialogScript script;
    RecordCommands(script);
    HWND other = nullptr, ok = nullptr;
    script.onRunning = [&](HWND dialog) {
        other = GetDlgItem(dialog, kOtherButton);
        ok = GetDlgItem(dialog, IDOK);
        testinput::Mouse(other, testinput::Button::Left, true, 3, 3);
        testinput::Mouse(other, testinput::Button::Left, false, 3, 3);
        // A double click is a second press for a push button.
        testinput::Mouse(other, testinput::Button::Left, true, 3, 3, true);
        testinput::Mouse(other, testinput::Button::Left, false, 3, 3);
        testinput::Key(dialog, VK_RETURN, U'\r');
        GiveUpAfterQueued(dialog);
    };
    EXPECT_EQ(Run(kPlainDialog, owner, script), IDOK);
    ASSERT_EQ(commands.size(), 3u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(commands[i].id, kOtherButton);
        EXPECT_EQ(commands[i].code, BN_CLICKED);
        EXPECT_EQ(commands[i].control, other);
    }
    // No BS_DEFPUSHBUTTON: Enter means IDOK, from the IDOK button.
    EXPECT_EQ(commands[2].id, IDOK);
    EXPECT_EQ(commands[2].control, ok);
    for (const Event& event : Events()) EXPECT_NE(event.message, static_cast<UINT>(WM_SETFONT)) << "no DS_SETFONT";
}

TEST_F(DialogBoxTest, CloseBoxPostsIdcancelUnlessTheProcedureOrADisabledCancelButtonSaysNo) {
    struct Case {
        const char* name;
        bool disableCancel;
        bool procedureTakesClose;
        INT_PTR expected;
    };
    const Case cases[] = {
        {"default handling", false, false, IDCANCEL},
        {"Cancel button disabled", true, false, kGaveUp},
        {"procedure handles WM_CLOSE", false, true, kGaveUp},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        commands.clear();
        DialogScript script;
        script.onMessage = [&](HWND, UINT message, WPARAM wParam, LPARAM lParam) {
            if (message == WM_COMMAND)
                commands.push_back(Command{LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)});
            return message == WM_CLOSE && test.procedureTakesClose;
        };
        HWND cancel = nullptr;
        script.onRunning = [&](HWND dialog) {
            cancel = GetDlgItem(dialog, IDCANCEL);
            testinput::CloseRequest(dialog);
            if (test.disableCancel) {
                EnableWindow(cancel, FALSE);
                // A disabled button takes no clicks either.
                testinput::Mouse(cancel, testinput::Button::Left, true, 3, 3);
                testinput::Mouse(cancel, testinput::Button::Left, false, 3, 3);
            }
            GiveUpAfterQueued(dialog);
        };
        ASSERT_EQ(Run(kPlainDialog, owner, script), test.expected);
        if (test.expected == IDCANCEL) {
            ASSERT_FALSE(commands.empty());
            EXPECT_EQ(commands[0].id, IDCANCEL);
            EXPECT_EQ(commands[0].control, cancel);
        } else {
            EXPECT_TRUE(commands.empty());
        }
    }
}

TEST_F(DialogBoxTest, OwnerlessDialogSitsAtTheScreenOrigin) {
    RECT client{};
    RECT outer{};
    DialogScript script;
    script.onInit = [&](HWND dialog) {
        GetClientRect(dialog, &client);
        GetWindowRect(dialog, &outer);
        EXPECT_EQ(GetParent(dialog), nullptr);
        EndDialog(dialog, 5);
    };
    EXPECT_EQ(Run(kPlainDialog, nullptr, script), 5);
    EXPECT_EQ(client.right, 200);
    EXPECT_EQ(client.bottom, 100);
    int frame = (outer.right - outer.left - client.right) / 2;
    EXPECT_EQ(outer.left + frame, 20);
    EXPECT_EQ(outer.bottom - frame - client.bottom, 40);
    EXPECT_TRUE(IsWindowEnabled(owner));
}

// A child window as owner: its top-level window is disabled, the position counts from the child.
TEST_F(DialogBoxTest, ChildOwnerDisablesItsTopLevelWindow) {
    HWND child = CreateWindowExA(0, kOwnerClass, "", WS_CHILD | WS_VISIBLE, 30, 40, 50, 50, owner, nullptr,
                                 instance, nullptr);
    ASSERT_NE(child, nullptr);
    bool ownerEnabled = true, childEnabled = false;
    HWND dialogOwner = nullptr;
    RECT outer{}, client{};
    DialogScript script;
    script.onInit = [&](HWND dialog) {
        ownerEnabled = IsWindowEnabled(owner) != FALSE;
        childEnabled = IsWindowEnabled(child) != FALSE;
        dialogOwner = GetParent(dialog);
        GetWindowRect(dialog, &outer);
        GetClientRect(dialog, &client);
        EndDialog(dialog, 6);
    };
    EXPECT_EQ(Run(kPlainDialog, child, script), 6);
    EXPECT_FALSE(ownerEnabled);
    EXPECT_TRUE(childEnabled);
    EXPECT_EQ(dialogOwner, owner);
    int frame = (outer.right - outer.left - client.right) / 2;
    EXPECT_EQ(outer.left + frame, kOwnerX + 30 + 20);
    EXPECT_EQ(outer.bottom - frame - client.bottom, kOwnerY + 40 + 40);
    EXPECT_TRUE(IsWindowEnabled(owner));
}

TEST_F(DialogBoxTest, OwnerDisabledBeforeStaysDisabled) {
    EnableWindow(owner, FALSE);
    DialogScript script;
    script.onInit = [](HWND dialog) { EndDialog(dialog, IDOK); };
    EXPECT_EQ(Run(kPlainDialog, owner, script), IDOK);
    EXPECT_FALSE(IsWindowEnabled(owner));
}

// The owner closed from a posted message while the dialog runs: the dialog goes with it and
// DialogBoxParamA returns what EndDialog had set, or 0.
TEST_F(DialogBoxTest, DestroyingTheOwnerEndsTheDialog) {
    for (bool endFirst : {false, true}) {
        SCOPED_TRACE(endFirst);
        HWND dialogWindow = nullptr;
        DialogScript script;
        script.onRunning = [&](HWND dialog) {
            dialogWindow = dialog;
            if (endFirst) {
                EndDialog(dialog, 8);
                EXPECT_TRUE(IsWindow(dialog));  // EndDialog only marks the dialog
            }
            DestroyWindow(owner);
        };
        EXPECT_EQ(Run(kPlainDialog, owner, script), endFirst ? 8 : 0);
        EXPECT_FALSE(IsWindow(dialogWindow));
        owner = CreateOwner();
    }
}

TEST_F(DialogBoxTest, NestedDialogDisablesTheOuterOneAndReturnsSeparately) {
    INT_PTR innerResult = 0;
    bool outerEnabledInInner = true, outerEnabledAfter = false;
    DialogScript inner;
    inner.onInit = [&](HWND dialog) {
        outerEnabledInInner = IsWindowEnabled(GetParent(dialog)) != FALSE;
        EndDialog(dialog, 21);
    };
    DialogScript outer;
    outer.onRunning = [&](HWND dialog) {
        innerResult = Run(kPlainDialog, dialog, inner);
        outerEnabledAfter = IsWindowEnabled(dialog) != FALSE;
        EndDialog(dialog, 22);
    };
    EXPECT_EQ(Run(kPlainDialog, owner, outer), 22);
    EXPECT_EQ(innerResult, 21);
    EXPECT_FALSE(outerEnabledInInner);
    EXPECT_TRUE(outerEnabledAfter);
    EXPECT_TRUE(IsWindowEnabled(owner));
}

TEST_F(DialogBoxTest, QueriesFailAsWindowsDocuments) {
    HWND iconStatic = nullptr, text = nullptr;
    DialogScript script;
    script.onInit = [&](HWND dialog) {
        iconStatic = GetDlgItem(dialog, kIconStatic);
        text = GetDlgItem(dialog, kTextStatic);
        SetLastError(0);
        EXPECT_EQ(GetDlgItem(dialog, 77), nullptr);
        LAYER_CHOICE(EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CONTROL_ID_NOT_FOUND)));
        EXPECT_EQ(GetDlgItem(dialog, -1), nullptr) << "identifiers compare whole";
        EXPECT_EQ(GetDlgCtrlID(dialog), 0);
        EXPECT_EQ(GetWindowLongA(text, GWL_ID), kTextStatic);
        SetLastError(0);
        EXPECT_EQ(GetWindowLongA(text, 12345), 0);
        LAYER_CHOICE(EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX)));
        EndDialog(dialog, IDOK);
    };
    EXPECT_EQ(Run(kPlainDialog, owner, script), IDOK);

    // Everything on handles that are gone, or that are no dialog.
    SetLastError(0);
    EXPECT_EQ(GetDlgItem(iconStatic, 1), nullptr);
    LAYER_CHOICE(EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE)));
    EXPECT_EQ(GetDlgCtrlID(text), 0);
    EXPECT_FALSE(EndDialog(nullptr, 1));
    LAYER_CHOICE(EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE)));
    SetLastError(0);
    EXPECT_FALSE(EndDialog(owner, 1));
    LAYER_CHOICE(EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINDOW_NOT_DIALOG)));
    MSG msg{owner, WM_KEYDOWN, VK_RETURN, 0, 0, {0, 0}};
    EXPECT_FALSE(IsDialogMessageA(iconStatic, &msg));
    LAYER_CHOICE(EXPECT_FALSE(IsDialogMessageA(owner, nullptr)));  // our choice: no message is refused
}

// An icon static named by a string loads that icon; STM_SETICON takes icons only, and text statics have
// no icon at all.
TEST_F(DialogBoxTest, IconStaticsAndTheirMessages) {
    DialogScript script;
    script.onInit = [&](HWND dialog) {
        HWND iconStatic = GetDlgItem(dialog, kIconStatic);
        HWND text = GetDlgItem(dialog, kTextStatic);
        HICON icon = LoadIconA(instance, "APPICON");
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(iconStatic, STM_GETICON, 0, 0)), icon);
        RECT rect;
        GetClientRect(iconStatic, &rect);
        EXPECT_EQ(rect.right, 32);
        EXPECT_EQ(rect.bottom, 32);

        EXPECT_EQ(SendMessageA(iconStatic, STM_SETICON, reinterpret_cast<WPARAM>(owner), 0), 0);
        EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(iconStatic, STM_GETICON, 0, 0)), icon);
        HICON stock = LoadIconA(nullptr, IDI_APPLICATION);
        EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(iconStatic, STM_SETICON, reinterpret_cast<WPARAM>(stock), 0)),
                  icon);
        EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(iconStatic, STM_GETICON, 0, 0)), stock);

        EXPECT_EQ(SendMessageA(text, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0), 0);
        EXPECT_EQ(SendMessageA(text, STM_GETICON, 0, 0), 0);
        GetClientRect(text, &rect);
        LAYER_CHOICE(EXPECT_EQ(rect.right, 80));  // a text static keeps its template size, at our base units
        LAYER_CHOICE(EXPECT_EQ(rect.bottom, 16));
        EndDialog(dialog, IDOK);
    };
    EXPECT_EQ(Run(kPlainDialog, owner, script), IDOK);
}

}  // namespace
