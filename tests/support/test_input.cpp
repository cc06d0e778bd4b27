// Input for tests: the layer's input delivery, or on Windows the messages the system posts for it.
#include "test_input.h"

#ifndef _WIN32
#include "user/input_delivery.h"
#endif

namespace testinput {

#ifdef _WIN32
bool Mouse(HWND window, Button button, bool pressed, int x, int y, bool doubleClick) {
    const bool left = button == Button::Left;
    const UINT down = left ? (doubleClick ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN) : WM_RBUTTONDOWN;
    const UINT message = pressed ? down : left ? WM_LBUTTONUP : WM_RBUTTONUP;
    const WPARAM held = pressed ? (left ? MK_LBUTTON : MK_RBUTTON) : 0;
    return PostMessageA(window, message, held, MAKELPARAM(x, y)) != FALSE;
}

bool Key(HWND window, UINT virtualKey, char32_t) {
    // TranslateMessage in the loop that reads it makes the character from the key, as on a keyboard.
    return PostMessageA(window, WM_KEYDOWN, virtualKey, 1) != FALSE;
}

bool CloseRequest(HWND window) { return PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0) != FALSE; }
#else
bool Mouse(HWND window, Button button, bool pressed, int x, int y, bool doubleClick) {
    return w32::DeliverMouseButton(window, button == Button::Left ? w32::MouseButton::Left : w32::MouseButton::Right,
                                   pressed, x, y, 0, doubleClick);
}

bool Key(HWND window, UINT virtualKey, char32_t character) {
    return w32::DeliverKey(window, true, virtualKey, character, 0);
}

bool CloseRequest(HWND window) { return w32::DeliverCloseRequest(window); }
#endif

}  // namespace testinput
