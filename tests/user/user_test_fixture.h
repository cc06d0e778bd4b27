// The fixture of the USER tests: a window class whose procedure records every message its windows get,
// in order, and lets a test answer some of them itself; windows labelled so traces read as tables.
#ifndef PELOMI_TESTS_USER_TEST_FIXTURE_H
#define PELOMI_TESTS_USER_TEST_FIXTURE_H

#include <windows.h>

#include <gtest/gtest.h>

#include "conformance.h"

#include <functional>
#include <string>
#include <vector>

namespace usertest {

struct Received {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// Answers a message instead of DefWindowProcA when it returns true (with *result set).
using Hook = std::function<bool(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)>;

// The name of a message these tests pin, or the hex number of one of their own (WM_USER and up); empty for
// the others Windows sends too (WM_NCPAINT, WM_GETICON, WM_IME_SETCONTEXT, WM_SETFOCUS, ...), which traces
// leave out.
std::string MessageName(UINT message);

// The menu resource the test class names (tests/user/user_test.rc): a bar of two popups.
constexpr WORD kTestMenu = 109;

class UserTest : public ::testing::Test {
protected:
    static constexpr const char* kClassName = "PelomiUserTest";

    void SetUp() override;
    void TearDown() override;

    // Registers a class that records through this fixture (destroyed and unregistered in TearDown).
    void RegisterRecordingClass(const char* name, UINT style, HBRUSH background, LPCSTR menuName);

    // A window of the fixture's class (CS_HREDRAW | CS_VREDRAW, COLOR_WINDOW background, no menu), or of
    // `className`; labelled for traces.
    HWND Make(const char* label, DWORD style, int x, int y, int width, int height, HWND parent = nullptr,
              HMENU menu = nullptr, const char* className = kClassName, LPVOID param = nullptr);

    // "label MESSAGE" for every message received since the last ClearLog, in order; `only` restricts it
    // to the messages listed.
    std::vector<std::string> Trace(const std::vector<UINT>& only = {}) const;
    // The messages one window received, by name.
    std::vector<std::string> Names(HWND window) const;
    std::vector<Received> Messages(HWND window, UINT message) const;
    void ClearLog();

    void SetHook(Hook hook);
    void Label(HWND window, const std::string& label);

private:
    size_t handlesAtStart_ = 0;
    std::vector<std::string> classes_;
};

// Dispatches what the queue holds (WM_PAINT included) until it is empty or holds WM_QUIT; returns how many.
int DispatchUntilIdle();

// The recorded log and labels, shared by the recording procedure.
std::vector<Received>& Log();

}  // namespace usertest

#endif
