// Input for tests, as a screen would give it: on the layer through its input delivery (what a display
// backend calls), on Windows as the posted messages the system would queue for the window. Leaves out
// modifier keys and mouse moves.
#ifndef PELOMI_TESTS_TEST_INPUT_H
#define PELOMI_TESTS_TEST_INPUT_H

#include <windows.h>

namespace testinput {

enum class Button { Left, Right };

// A button pressed (a double click's second press when doubleClick) or released at (x, y) of the window's
// client area. False when the window takes no input (on the layer: disabled; on Windows: not a window).
bool Mouse(HWND window, Button button, bool pressed, int x, int y, bool doubleClick = false);

// A key pressed (with the character it types; 0 for none) on the window.
bool Key(HWND window, UINT virtualKey, char32_t character);

// The window manager's close box.
bool CloseRequest(HWND window);

}  // namespace testinput

#endif
