// The recording window procedure and the fixture every USER test runs in.
#include "user_test_fixture.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "test_window.h"
#ifndef _WIN32
#include "base/handle_table.h"
#include "testing/headless_display.h"
#endif

namespace usertest {
namespace {

Hook& CurrentHook() {
    static Hook hook;
    return hook;
}

std::map<HWND, std::string>& Labels() {
    static std::map<HWND, std::string> labels;
    return labels;
}

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Log().push_back({window, message, wParam, lParam});
    LRESULT result = 0;
    Hook hook = CurrentHook();  // a copy: the hook may replace itself
    if (hook && hook(window, message, wParam, lParam, &result)) return result;
    return DefWindowProcA(window, message, wParam, lParam);
}

size_t LiveWindowsAndMenus() {
#ifdef _WIN32
    return testwin::LiveHandleCount();
#else
    return w32::LiveHandleCount(w32::HandleKind::Window) + w32::LiveHandleCount(w32::HandleKind::Menu);
#endif
}

std::string LabelOf(HWND window) {
    auto found = Labels().find(window);
    return found != Labels().end() ? found->second : "?";
}

}  // namespace

std::vector<Received>& Log() {
    static std::vector<Received> log;
    return log;
}

std::string MessageName(UINT message) {
    static const std::map<UINT, const char*> names = {
        {WM_CREATE, "WM_CREATE"},
        {WM_DESTROY, "WM_DESTROY"},
        {WM_MOVE, "WM_MOVE"},
        {WM_SIZE, "WM_SIZE"},
        {WM_ENABLE, "WM_ENABLE"},
        {WM_SETTEXT, "WM_SETTEXT"},
        {WM_GETTEXT, "WM_GETTEXT"},
        {WM_PAINT, "WM_PAINT"},
        {WM_CLOSE, "WM_CLOSE"},
        {WM_QUIT, "WM_QUIT"},
        {WM_ERASEBKGND, "WM_ERASEBKGND"},
        {WM_SHOWWINDOW, "WM_SHOWWINDOW"},
        {WM_GETMINMAXINFO, "WM_GETMINMAXINFO"},
        {WM_WINDOWPOSCHANGING, "WM_WINDOWPOSCHANGING"},
        {WM_WINDOWPOSCHANGED, "WM_WINDOWPOSCHANGED"},
        {WM_NCCREATE, "WM_NCCREATE"},
        {WM_NCDESTROY, "WM_NCDESTROY"},
        {WM_NCCALCSIZE, "WM_NCCALCSIZE"},
        {WM_KEYDOWN, "WM_KEYDOWN"},
        {WM_KEYUP, "WM_KEYUP"},
        {WM_CHAR, "WM_CHAR"},
        {WM_SYSKEYDOWN, "WM_SYSKEYDOWN"},
        {WM_SYSKEYUP, "WM_SYSKEYUP"},
        {WM_SYSCHAR, "WM_SYSCHAR"},
        {WM_COMMAND, "WM_COMMAND"},
        {WM_SYSCOMMAND, "WM_SYSCOMMAND"},
        {WM_MOUSEMOVE, "WM_MOUSEMOVE"},
        {WM_LBUTTONDOWN, "WM_LBUTTONDOWN"},
        {WM_LBUTTONUP, "WM_LBUTTONUP"},
        {WM_LBUTTONDBLCLK, "WM_LBUTTONDBLCLK"},
        {WM_RBUTTONDOWN, "WM_RBUTTONDOWN"},
        {WM_RBUTTONUP, "WM_RBUTTONUP"},
        {WM_ACTIVATEAPP, "WM_ACTIVATEAPP"},
        {WM_NCACTIVATE, "WM_NCACTIVATE"},
        {WM_ACTIVATE, "WM_ACTIVATE"},
        {WM_PARENTNOTIFY, "WM_PARENTNOTIFY"},
    };
    auto found = names.find(message);
    if (found != names.end()) return found->second;
    if (message < WM_USER) return std::string();
    char text[16];  // the tests' own messages
    std::snprintf(text, sizeof text, "0x%04X", message);
    return text;
}

int DispatchUntilIdle() {
#ifdef _WIN32
    int dispatched = 0;
    MSG msg;
    while (dispatched < 10000 && PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE) && msg.message != WM_QUIT &&
           PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        ++dispatched;
    }
    return dispatched;
#else
    return w32::DispatchUntilIdle();
#endif
}

void UserTest::SetUp() {
    ClearLog();
    CurrentHook() = nullptr;
    Labels().clear();
    handlesAtStart_ = LiveWindowsAndMenus();
    RegisterRecordingClass(kClassName, CS_HREDRAW | CS_VREDRAW, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1),
                           nullptr);
}

void UserTest::TearDown() {
    CurrentHook() = nullptr;
    for (auto& entry : Labels())
        if (IsWindow(entry.first)) DestroyWindow(entry.first);
    // Drain what the test left queued, WM_QUIT included, so the next test starts with an empty queue.
    MSG msg;
    for (int i = 0; i < 20000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    }
    for (const std::string& name : classes_) EXPECT_TRUE(UnregisterClassA(name.c_str(), GetModuleHandleA(nullptr)));
    classes_.clear();
    EXPECT_EQ(LiveWindowsAndMenus(), handlesAtStart_) << "windows or menus left alive";
}

void UserTest::RegisterRecordingClass(const char* name, UINT style, HBRUSH background, LPCSTR menuName) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = style;
    windowClass.lpfnWndProc = RecordingProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = background;
    windowClass.lpszMenuName = menuName;
    windowClass.lpszClassName = name;
    ASSERT_NE(RegisterClassExA(&windowClass), 0) << name;
    classes_.push_back(name);
}

HWND UserTest::Make(const char* label, DWORD style, int x, int y, int width, int height, HWND parent, HMENU menu,
                    const char* className, LPVOID param) {
    HWND window = CreateWindowExA(0, className, label, style, x, y, width, height, parent, menu,
                                  GetModuleHandleA(nullptr), param);
    if (window != nullptr) Label(window, label);
    return window;
}

void UserTest::Label(HWND window, const std::string& label) { Labels()[window] = label; }

std::vector<std::string> UserTest::Trace(const std::vector<UINT>& only) const {
    std::vector<std::string> trace;
    for (const Received& received : Log()) {
        if (!only.empty() && std::find(only.begin(), only.end(), received.message) == only.end()) continue;
        if (MessageName(received.message).empty()) continue;
        trace.push_back(LabelOf(received.window) + " " + MessageName(received.message));
    }
    return trace;
}

std::vector<std::string> UserTest::Names(HWND window) const {
    std::vector<std::string> names;
    for (const Received& received : Log())
        if (received.window == window && !MessageName(received.message).empty())
            names.push_back(MessageName(received.message));
    return names;
}

std::vector<Received> UserTest::Messages(HWND window, UINT message) const {
    std::vector<Received> found;
    for (const Received& received : Log())
        if (received.window == window && received.message == message) found.push_back(received);
    return found;
}

void UserTest::ClearLog() { Log().clear(); }

void UserTest::SetHook(Hook hook) { CurrentHook() = std::move(hook); }

}  // namespace usertest
