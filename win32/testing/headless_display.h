// The tests' headless display: what it was told about each window and a copy of each shown surface.
// Leaves out a screen and input of its own (tests use user/input_delivery.h).
#ifndef PELOMI_WIN32_TESTING_HEADLESS_DISPLAY_H
#define PELOMI_WIN32_TESTING_HEADLESS_DISPLAY_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "user/display_backend.h"

namespace w32 {

// Windows created from now on are shown on the headless display.
void UseHeadlessDisplay();
// The same, with message waits (GetMessageA, PeekMessageA) running GLib's default main context meanwhile,
// as the GTK display's do: for a sound backend served there.
void UseHeadlessDisplayOnMainContext();
// Its table, for a test that wraps one of its members before installing a copy.
DisplayBackend& HeadlessDisplayBackend();

// One window as the headless screen shows it.
struct HeadlessWindowView {
    HWND parent = nullptr;
    HWND owner = nullptr;
    std::string text;
    std::string className;
    bool visible = false;
    bool enabled = true;
    HMENU menu = nullptr;
    RECT windowRect{};  // screen coordinates
    RECT clientRect{};
    int surfaceUpdates = 0;  // how many times the client surface was handed over
    int shownWidth = 0;      // the last surface handed over, as the screen shows it
    int shownHeight = 0;
    std::vector<uint32_t> shownPixels;  // 0x00RRGGBB, top row first
};

// False when the headless display holds no such window (never created, or destroyed since).
bool GetHeadlessWindowView(HWND window, HeadlessWindowView* view);

// Runs the calling thread's message loop until nothing is ready: PeekMessageA, TranslateMessage,
// DispatchMessageA, WM_PAINT included. Stops at WM_QUIT without taking it, or after `limit` messages.
// Returns how many messages it dispatched.
int DispatchUntilIdle(int limit = 10000);

}  // namespace w32

#endif
