// Window classes, creation and destruction: the message sequences Windows sends, the frame geometry, and
// how every window call treats a handle that is not a live window.
#include <gmock/gmock.h>

#include "user_test_fixture.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using namespace usertest;

namespace {

class WindowLifecycleTest : public UserTest {};

TEST_F(WindowLifecycleTest, OverlappedWindowCreationAndFirstShowSendDocumentedSequence) {
    int param = 0;
    CREATESTRUCTA seen = {};
    SetHook([&](HWND, UINT message, WPARAM, LPARAM lParam, LRESULT*) {
        if (message == WM_CREATE) seen = *reinterpret_cast<CREATESTRUCTA*>(lParam);
        return false;
    });
    HWND window =
        Make("main", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, 232, 255, nullptr, nullptr, kClassName, &param);
    ASSERT_NE(window, nullptr);
    EXPECT_THAT(Names(window), ElementsAre("WM_GETMINMAXINFO", "WM_NCCREATE", "WM_NCCALCSIZE", "WM_CREATE"));
    EXPECT_EQ(seen.lpCreateParams, &param);
    EXPECT_EQ(seen.cx, 232);
    EXPECT_EQ(seen.cy, 255);
    EXPECT_STREQ(seen.lpszName, "main");
    EXPECT_FALSE(IsWindowVisible(window));

    // The first showing activates the window (the first of the application: WM_ACTIVATEAPP) and brings the
    // WM_SIZE / WM_MOVE that creation held back; showing again sends nothing.
    ClearLog();
    EXPECT_FALSE(ShowWindow(window, SW_SHOWNORMAL));
    EXPECT_THAT(Trace({WM_SHOWWINDOW, WM_WINDOWPOSCHANGING, WM_ACTIVATEAPP, WM_NCACTIVATE, WM_ACTIVATE,
                       WM_WINDOWPOSCHANGED, WM_SIZE, WM_MOVE}),
                ElementsAre("main WM_SHOWWINDOW", "main WM_WINDOWPOSCHANGING", "main WM_ACTIVATEAPP",
                            "main WM_NCACTIVATE", "main WM_ACTIVATE", "main WM_WINDOWPOSCHANGED", "main WM_SIZE",
                            "main WM_MOVE"));
    EXPECT_EQ(Messages(window, WM_ACTIVATE)[0].wParam, static_cast<WPARAM>(WA_ACTIVE));
    EXPECT_EQ(GetActiveWindow(), window);
    EXPECT_EQ(Messages(window, WM_SHOWWINDOW)[0].wParam, static_cast<WPARAM>(TRUE));
    LAYER_CHOICE(EXPECT_EQ(Messages(window, WM_SIZE)[0].lParam, MAKELPARAM(216, 216)));  // Windows 10's frame
    ClearLog();
    EXPECT_TRUE(ShowWindow(window, SW_SHOW));
    EXPECT_TRUE(Names(window).empty());
    EXPECT_TRUE(IsWindowVisible(window));

    EXPECT_TRUE(ShowWindow(window, SW_HIDE));
    EXPECT_FALSE(IsWindowVisible(window));
}

TEST_F(WindowLifecycleTest, ChildWindowGetsSizeAtCreationAndShowsWithWsVisible) {
    HWND parent = Make("parent", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100);
    ClearLog();
    HWND child = Make("child", WS_CHILD | WS_VISIBLE, 10, 20, 50, 30, parent, reinterpret_cast<HMENU>(7));
    ASSERT_NE(child, nullptr);
    EXPECT_THAT(Names(child), ElementsAre("WM_NCCREATE", "WM_NCCALCSIZE", "WM_CREATE", "WM_SIZE", "WM_MOVE",
                                          "WM_SHOWWINDOW", "WM_WINDOWPOSCHANGING", "WM_WINDOWPOSCHANGED"));
    EXPECT_EQ(Messages(child, WM_MOVE)[0].lParam, MAKELPARAM(10, 20));
    // The parent hears of it before CreateWindowExA returns: WM_CREATE with the child's id, and its handle.
    ASSERT_EQ(Messages(parent, WM_PARENTNOTIFY).size(), 1u);
    EXPECT_EQ(Messages(parent, WM_PARENTNOTIFY)[0].wParam, MAKEWPARAM(WM_CREATE, 7));
    EXPECT_EQ(Messages(parent, WM_PARENTNOTIFY)[0].lParam, reinterpret_cast<LPARAM>(child));
    EXPECT_EQ(GetParent(child), parent);
    LAYER_CHOICE(EXPECT_EQ(GetMenu(child), nullptr));  // a child's hMenu is its id: GetMenu is left open
    RECT rect;
    ASSERT_TRUE(GetWindowRect(child, &rect));
    EXPECT_EQ(rect.left, 10);  // the popup parent sits at 0,0 without a frame
    EXPECT_EQ(rect.bottom, 50);
    EXPECT_TRUE(IsWindowVisible(child));
    ShowWindow(parent, SW_HIDE);
    EXPECT_FALSE(IsWindowVisible(child));  // visible only with every ancestor
}

enum class Refusal { ReturnFalse, ReturnMinusOne, DestroyThere };

struct CreateFailure {
    const char* name;
    UINT failingMessage;
    Refusal refusal;
    std::vector<std::string> expected;
};

class CreateFailureTest : public UserTest, public ::testing::WithParamInterface<CreateFailure> {};

TEST_P(CreateFailureTest, CreateWindowReturnsNullAndTheWindowIsGone) {
    const CreateFailure& failure = GetParam();
    HWND seen = nullptr;
    SetHook([&](HWND window, UINT message, WPARAM, LPARAM, LRESULT* result) {
        if (message != failure.failingMessage) return false;
        seen = window;
        *result = failure.refusal == Refusal::ReturnMinusOne ? -1 : 0;
        if (failure.refusal == Refusal::DestroyThere) {
            EXPECT_TRUE(DestroyWindow(window));
        }
        return true;
    });
    HWND window = CreateWindowExA(0, kClassName, "x", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    EXPECT_EQ(window, nullptr);
    ASSERT_NE(seen, nullptr);
    EXPECT_FALSE(IsWindow(seen));
    EXPECT_THAT(Names(seen), ElementsAreArray(failure.expected));
}

INSTANTIATE_TEST_SUITE_P(Failures, CreateFailureTest,
                         ::testing::Values(CreateFailure{"NcCreateFalse",
                                                         WM_NCCREATE,
                                                         Refusal::ReturnFalse,
                                                         {"WM_GETMINMAXINFO", "WM_NCCREATE", "WM_NCDESTROY"}},
                                           CreateFailure{"CreateMinusOne",
                                                         WM_CREATE,
                                                         Refusal::ReturnMinusOne,
                                                         {"WM_GETMINMAXINFO", "WM_NCCREATE", "WM_NCCALCSIZE",
                                                          "WM_CREATE", "WM_DESTROY", "WM_NCDESTROY"}},
                                           CreateFailure{"DestroyedInCreate",
                                                         WM_CREATE,
                                                         Refusal::DestroyThere,
                                                         {"WM_GETMINMAXINFO", "WM_NCCREATE", "WM_NCCALCSIZE",
                                                          "WM_CREATE", "WM_DESTROY", "WM_NCDESTROY"}}),
                         [](const ::testing::TestParamInfo<CreateFailure>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(WindowLifecycleTest, DestroyHidesThenDestroysParentFirstAndFinishesItLast) {
    HWND parent = Make("parent", WS_OVERLAPPEDWINDOW, 0, 0, 300, 300);
    ShowWindow(parent, SW_SHOW);
    HWND first = Make("first", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, parent);
    HWND grandchild = Make("grandchild", WS_CHILD, 0, 0, 5, 5, first);
    HWND second = Make("second", WS_CHILD, 20, 0, 10, 10, parent);
    bool childrenAliveInParentDestroy = false;
    SetHook([&](HWND window, UINT message, WPARAM, LPARAM, LRESULT*) {
        if (window == parent && message == WM_DESTROY)
            childrenAliveInParentDestroy = IsWindow(first) && IsWindow(grandchild) && IsWindow(second);
        return false;
    });
    ClearLog();
    ASSERT_TRUE(DestroyWindow(parent));
    // The active window is deactivated once hidden; with no other window the application loses activation.
    // WM_DESTROY goes to the parent, then to each child as it is destroyed; our choice: each child's
    // WM_NCDESTROY follows its own children's.
    EXPECT_THAT(Trace({WM_WINDOWPOSCHANGING, WM_WINDOWPOSCHANGED, WM_NCACTIVATE, WM_ACTIVATE, WM_ACTIVATEAPP,
                       WM_DESTROY}),
                ElementsAre("parent WM_WINDOWPOSCHANGING", "parent WM_WINDOWPOSCHANGED", "parent WM_NCACTIVATE",
                            "parent WM_ACTIVATE", "parent WM_ACTIVATEAPP", "parent WM_DESTROY", "first WM_DESTROY",
                            "grandchild WM_DESTROY", "second WM_DESTROY"));
    LAYER_CHOICE(EXPECT_THAT(Trace(), ElementsAre("parent WM_WINDOWPOSCHANGING", "parent WM_WINDOWPOSCHANGED",
                                     "parent WM_NCACTIVATE", "parent WM_ACTIVATE", "parent WM_ACTIVATEAPP",
                                     "parent WM_DESTROY", "first WM_DESTROY", "grandchild WM_DESTROY",
                                     "grandchild WM_NCDESTROY", "first WM_NCDESTROY", "second WM_DESTROY",
                                     "second WM_NCDESTROY", "parent WM_NCDESTROY")));
    EXPECT_TRUE(childrenAliveInParentDestroy);
    for (HWND gone : {parent, first, grandchild, second}) EXPECT_FALSE(IsWindow(gone));

    SetLastError(0);
    EXPECT_FALSE(DestroyWindow(parent));
    LAYER_CHOICE(EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE)));
}

TEST_F(WindowLifecycleTest, DestroyingAChildLeavesTheParentAndItsOtherChildren) {
    HWND parent = Make("parent", WS_POPUP, 0, 0, 100, 100);
    HWND first = Make("first", WS_CHILD, 0, 0, 10, 10, parent);
    HWND second = Make("second", WS_CHILD, 0, 0, 10, 10, parent);
    // WM_PARENTNOTIFY tells the parent first; only the window destroyed by the call notifies.
    ClearLog();
    ASSERT_TRUE(DestroyWindow(first));
    EXPECT_THAT(Trace(), ElementsAre("parent WM_PARENTNOTIFY", "first WM_DESTROY", "first WM_NCDESTROY"));
    const Received notify = Messages(parent, WM_PARENTNOTIFY)[0];
    EXPECT_EQ(notify.wParam, MAKEWPARAM(WM_DESTROY, 0));
    EXPECT_EQ(notify.lParam, reinterpret_cast<LPARAM>(first));
    EXPECT_TRUE(IsWindow(parent));
    EXPECT_TRUE(IsWindow(second));
    ClearLog();
    DestroyWindow(parent);
    EXPECT_THAT(Trace(), ElementsAre("parent WM_DESTROY", "second WM_DESTROY", "second WM_NCDESTROY",
                                     "parent WM_NCDESTROY"));
}

TEST_F(WindowLifecycleTest, DestroyWindowFromItsOwnWmDestroyFinishesOnce) {
    HWND window = Make("self", WS_POPUP, 0, 0, 10, 10);
    BOOL nested = FALSE;
    SetHook([&](HWND target, UINT message, WPARAM, LPARAM, LRESULT*) {
        if (message == WM_DESTROY) nested = DestroyWindow(target);
        return false;
    });
    ClearLog();
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_TRUE(nested);  // our choice: the nested call succeeds and sends nothing more
    EXPECT_THAT(Trace(), ElementsAre("self WM_DESTROY", "self WM_NCDESTROY"));
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(WindowLifecycleTest, OwnedPopupIsDestroyedBeforeItsOwner) {
    HWND owner = Make("owner", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100);
    HWND child = Make("child", WS_CHILD, 0, 0, 10, 10, owner);
    HWND popup = Make("popup", WS_POPUP, 0, 0, 50, 50, child);  // the owner is always a top-level window
    EXPECT_EQ(GetParent(popup), owner);
    ClearLog();
    DestroyWindow(owner);
    EXPECT_THAT(Trace(), ElementsAre("popup WM_DESTROY", "popup WM_NCDESTROY", "owner WM_DESTROY",
                                     "child WM_DESTROY", "child WM_NCDESTROY", "owner WM_NCDESTROY"));
}

TEST_F(WindowLifecycleTest, CloseGoesThroughDefWindowProcToDestroy) {
    HWND window = Make("main", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100);
    ClearLog();
    EXPECT_EQ(SendMessageA(window, WM_CLOSE, 0, 0), 0);
    EXPECT_THAT(Trace(), ElementsAre("main WM_CLOSE", "main WM_DESTROY", "main WM_NCDESTROY"));
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(WindowLifecycleTest, ClassesRegisterOnceByCaseInsensitiveNameAndUnregisterWhenUnused) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "pelomiusertest";
    SetLastError(0);
    EXPECT_EQ(RegisterClassExA(&windowClass), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));

    windowClass.lpszClassName = "PelomiSizeCheck";
    windowClass.cbSize = sizeof(windowClass) + 4;
    SetLastError(0);
    EXPECT_EQ(RegisterClassExA(&windowClass), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpszClassName = "PelomiByAtom";
    ATOM atom = RegisterClassExA(&windowClass);
    ASSERT_GE(atom, 0xC000);
    HWND window = CreateWindowExA(0, MAKEINTRESOURCEA(atom), "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    char name[8];
    EXPECT_EQ(GetClassNameA(window, name, sizeof name), 7);  // truncated to the buffer, NUL included
    EXPECT_STREQ(name, "PelomiB");

    SetLastError(0);
    EXPECT_FALSE(UnregisterClassA("PelomiByAtom", GetModuleHandleA(nullptr)));
    LAYER_CHOICE(EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS)));
    DestroyWindow(window);
    EXPECT_TRUE(UnregisterClassA("PelomiByAtom", GetModuleHandleA(nullptr)));
    SetLastError(0);
    EXPECT_FALSE(UnregisterClassA("PelomiByAtom", GetModuleHandleA(nullptr)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST));

    SetLastError(0);
    EXPECT_EQ(CreateWindowExA(0, "PelomiByAtom", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr),
              nullptr);
    LAYER_CHOICE(EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS)));
    SetLastError(0);
    EXPECT_EQ(CreateWindowExA(0, kClassName, "", WS_CHILD, 0, 0, 1, 1, nullptr, nullptr, GetModuleHandleA(nullptr),
                              nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TLW_WITH_WSCHILD));
}

TEST_F(WindowLifecycleTest, WindowTextComesFromNcCreateAndTheTextMessages) {
    HWND window = Make("Pelomi2", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100);
    char text[16] = "sentinel";
    EXPECT_EQ(GetWindowTextA(window, text, sizeof text), 7);
    EXPECT_STREQ(text, "Pelomi2");
    EXPECT_EQ(GetWindowTextA(window, text, 4), 3);
    EXPECT_STREQ(text, "Pel");
    EXPECT_TRUE(SetWindowTextA(window, "\xe5\x8f\xa3\xe3\x83\x91\xe3\x82\xaf"));  // three characters
    EXPECT_EQ(GetWindowTextA(window, text, 8), 6);                                // a character is never cut in two
    EXPECT_EQ(SendMessageA(window, WM_GETTEXTLENGTH, 0, 0), 9);

    // A procedure that answers WM_NCCREATE itself keeps an empty title, as on Windows.
    SetHook([](HWND, UINT message, WPARAM, LPARAM, LRESULT* result) {
        *result = TRUE;
        return message == WM_NCCREATE;
    });
    HWND untitled = Make("ignored", WS_POPUP, 0, 0, 10, 10);
    EXPECT_EQ(GetWindowTextA(untitled, text, sizeof text), 0);
}

struct FrameCase {
    const char* name;
    DWORD style;
    bool classMenu;
    SIZE client;
};

class FrameGeometryTest : public UserTest, public ::testing::WithParamInterface<FrameCase> {};

// Windows 10 at 96 dpi: sizing frame 8, dialog frame 3, border 1, caption 23, menu bar 20.
TEST_P(FrameGeometryTest, OuterSize232x255GivesTheClientSizeOfItsFrame) {
    const FrameCase& frame = GetParam();
    const char* className = kClassName;
    if (frame.classMenu) {
        RegisterRecordingClass("PelomiMenuClass", CS_HREDRAW | CS_VREDRAW,
                               reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), MAKEINTRESOURCEA(kTestMenu));
        className = "PelomiMenuClass";
    }
    HWND window = Make("framed", frame.style, CW_USEDEFAULT, 0, 232, 255, nullptr, nullptr, className);
    ASSERT_NE(window, nullptr);
    RECT client, outer;
    ASSERT_TRUE(GetClientRect(window, &client));
    ASSERT_TRUE(GetWindowRect(window, &outer));
    EXPECT_EQ(client.right, frame.client.cx);
    EXPECT_EQ(client.bottom, frame.client.cy);
    EXPECT_EQ(outer.right - outer.left, 232);
    EXPECT_EQ(outer.bottom - outer.top, 255);
    EXPECT_EQ(GetMenu(window) != nullptr, frame.classMenu);
    if (frame.classMenu) {
        EXPECT_EQ(GetMenuItemCount(GetMenu(window)), 2);
    }
}

// Whatever the metrics: the frame AdjustWindowRectEx puts around a window's client area is its window.
TEST_P(FrameGeometryTest, AdjustWindowRectExOfTheClientAreaIsTheWindow) {
    const FrameCase& frame = GetParam();
    if (frame.classMenu) {
        RegisterRecordingClass("PelomiMenuClass", CS_HREDRAW | CS_VREDRAW,
                               reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), MAKEINTRESOURCEA(kTestMenu));
    }
    HWND window = Make("framed", frame.style, CW_USEDEFAULT, 0, 232, 255, nullptr, nullptr,
                       frame.classMenu ? "PelomiMenuClass" : kClassName);
    ASSERT_NE(window, nullptr);
    RECT client, outer;
    ASSERT_TRUE(GetClientRect(window, &client));
    ASSERT_TRUE(GetWindowRect(window, &outer));
    // The style the window has: an overlapped one has a caption, which AdjustWindowRectEx is told of.
    const DWORD style = static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
    ASSERT_TRUE(AdjustWindowRectEx(&client, style, GetMenu(window) != nullptr, 0));
    EXPECT_EQ(client.right - client.left, outer.right - outer.left);
    EXPECT_EQ(client.bottom - client.top, outer.bottom - outer.top);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, FrameGeometryTest,
    ::testing::Values(FrameCase{"OverlappedWithClassMenu", WS_OVERLAPPEDWINDOW, true, {216, 196}},
                      FrameCase{"OverlappedWithoutMenu", WS_OVERLAPPEDWINDOW, false, {216, 216}},
                      FrameCase{"PlainOverlappedGetsACaption", WS_OVERLAPPED, false, {226, 226}},
                      FrameCase{"PopupWithCaption", WS_POPUP | WS_CAPTION, false, {226, 226}},
                      FrameCase{"PopupWithBorder", WS_POPUP | WS_BORDER, false, {230, 253}},
                      FrameCase{"PopupIgnoresTheClassMenu", WS_POPUP, false, {232, 255}}),
    [](const ::testing::TestParamInfo<FrameCase>& info) { return std::string(info.param.name); });

TEST_F(WindowLifecycleTest, DefaultPositionAndSizeAreOurChoice) {
    HWND window = Make("default", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 500, CW_USEDEFAULT, 7);
    RECT outer;
    ASSERT_TRUE(GetWindowRect(window, &outer));
    EXPECT_EQ(outer.left, 26);  // y and the height are ignored with CW_USEDEFAULT
    EXPECT_EQ(outer.top, 26);
    EXPECT_EQ(outer.right - outer.left, 1440);  // three quarters of our 1920 x 1080 screen
    EXPECT_EQ(outer.bottom - outer.top, 810);
    HWND popup = Make("popup", WS_POPUP, CW_USEDEFAULT, 500, CW_USEDEFAULT, 7);
    ASSERT_TRUE(GetWindowRect(popup, &outer));
    EXPECT_EQ(outer.left, 0);  // CW_USEDEFAULT means 0 for pop-up windows
    EXPECT_EQ(outer.right, 0);
}

// Every window call refuses null, destroyed and foreign handles without touching anything.
TEST_F(WindowLifecycleTest, EveryCallRefusesHandlesThatAreNotLiveWindows) {
    HWND destroyed = Make("gone", WS_POPUP, 0, 0, 10, 10);
    DestroyWindow(destroyed);
    HWND foreign = reinterpret_cast<HWND>(GetModuleHandleA(nullptr));
    struct Call {
        const char* name;
        std::function<LONG_PTR(HWND)> call;
        bool nullAllowed;
    };
    RECT rect = {1, 2, 3, 4};
    PAINTSTRUCT paint;
    char text[8];
    MSG msg;
    const std::vector<Call> calls = {
        {"DestroyWindow", [](HWND w) { return DestroyWindow(w); }, false},
        {"ShowWindow", [](HWND w) { return ShowWindow(w, SW_SHOW); }, false},
        {"EnableWindow", [](HWND w) { return EnableWindow(w, FALSE); }, false},
        {"IsWindowEnabled", [](HWND w) { return IsWindowEnabled(w); }, false},
        {"IsWindowVisible", [](HWND w) { return IsWindowVisible(w); }, false},
        {"UpdateWindow", [](HWND w) { return UpdateWindow(w); }, false},
        {"InvalidateRect", [](HWND w) { return InvalidateRect(w, nullptr, TRUE); }, true},
        {"GetClientRect", [&](HWND w) { return GetClientRect(w, &rect); }, false},
        {"GetWindowRect", [&](HWND w) { return GetWindowRect(w, &rect); }, false},
        {"MoveWindow", [](HWND w) { return MoveWindow(w, 0, 0, 5, 5, TRUE); }, false},
        {"GetParent", [](HWND w) { return reinterpret_cast<LONG_PTR>(GetParent(w)); }, false},
        {"GetMenu", [](HWND w) { return reinterpret_cast<LONG_PTR>(GetMenu(w)); }, false},
        {"GetWindowTextA", [&](HWND w) { return GetWindowTextA(w, text, sizeof text); }, false},
        {"SetWindowTextA", [](HWND w) { return SetWindowTextA(w, "x"); }, false},
        {"GetClassNameA", [&](HWND w) { return GetClassNameA(w, text, sizeof text); }, false},
        {"SendMessageA", [](HWND w) { return SendMessageA(w, WM_USER, 1, 2); }, false},
        {"PostMessageA", [](HWND w) { return PostMessageA(w, WM_USER, 1, 2); }, true},
        {"GetDC", [](HWND w) { return reinterpret_cast<LONG_PTR>(GetDC(w)); }, true},  // null: the screen
        {"BeginPaint", [&](HWND w) { return reinterpret_cast<LONG_PTR>(BeginPaint(w, &paint)); }, false},
        {"PeekMessageA", [&](HWND w) { return PeekMessageA(&msg, w, 0, 0, PM_NOREMOVE); }, true},
    };
    for (HWND bad : {static_cast<HWND>(nullptr), destroyed, foreign}) {
        for (const Call& call : calls) {
            if (bad == nullptr && call.nullAllowed) continue;
            SetLastError(0);
            EXPECT_EQ(call.call(bad), 0) << call.name << " with " << bad;
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE))
                << call.name << " with " << bad;
        }
        EXPECT_FALSE(IsWindow(bad));
        SetLastError(0);
        EXPECT_EQ(GetMessageA(&msg, bad == nullptr ? destroyed : bad, 0, 0), -1);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    }
    EXPECT_EQ(rect.left, 1);   // nothing was written
    EXPECT_EQ(text[0], '\0');  // GetWindowTextA empties the buffer it was given
}

}  // namespace
