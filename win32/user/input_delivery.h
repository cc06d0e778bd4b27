// The Deliver functions a display backend (or a test) calls to turn mouse, key, close-box, menu and frame
// events into the messages Windows queues. Leaves out capture, hover, wheel, IME and double-click timing.
#ifndef PELOMI_WIN32_INPUT_DELIVERY_H
#define PELOMI_WIN32_INPUT_DELIVERY_H

#include <windows.h>

namespace w32 {

// Modifier keys held while an event happened.
enum InputModifier : unsigned {
    kShiftHeld = 1u << 0,
    kControlHeld = 1u << 1,
    kAltHeld = 1u << 2,
};

enum class MouseButton { Left, Right, Middle };

// Every Deliver function may be called from any thread; all but the last two only post. They return false
// when nothing was queued: the window is gone, or it (or an ancestor) is disabled, as Windows gives a
// disabled window no input. Coordinates are in the window's client area.

// WM_xBUTTONDOWN / WM_xBUTTONUP (WM_xBUTTONDBLCLK for a second press when the class has CS_DBLCLKS), with
// the MK_ flags of the buttons and modifiers held after the event, and the point in lParam.
bool DeliverMouseButton(HWND window, MouseButton button, bool pressed, int x, int y, unsigned modifiers,
                        bool doubleClick = false);
// WM_MOUSEMOVE; moves nobody has read yet are merged into one.
bool DeliverMouseMove(HWND window, int x, int y, unsigned modifiers);

// WM_KEYDOWN / WM_KEYUP, or WM_SYSKEYDOWN / WM_SYSKEYUP while Alt is held (and for F10), lParam with repeat
// count 1, the Alt context bit 29, the previous-state bit 30 and the transition bit 31. `character` is what
// the key types with these modifiers (0 for none, a Unicode code point otherwise); TranslateMessage turns
// the key-down into WM_CHAR / WM_SYSCHAR with it, one message per byte of its UTF-8 (ANSI) form.
bool DeliverKey(HWND window, bool pressed, UINT virtualKey, char32_t character, unsigned modifiers);

// The close box: WM_SYSCOMMAND with SC_CLOSE, which DefWindowProcA turns into WM_CLOSE. (On Windows the
// caption click reaches the same WM_SYSCOMMAND through the non-client mouse messages.)
bool DeliverCloseRequest(HWND window);

// A menu bar command: WM_COMMAND with the item's id in the low word and 0 in the high word.
bool DeliverMenuCommand(HWND window, UINT commandId);

// The user resized the frame so that the client area is now this big, or moved the window so that its
// outer top-left corner is at this screen point. Queued like sent messages: the owner thread applies them
// (WM_WINDOWPOSCHANGING ... WM_SIZE / WM_MOVE) at its next GetMessageA or PeekMessageA.
bool DeliverClientResize(HWND window, int clientWidth, int clientHeight);
bool DeliverWindowMove(HWND window, int screenX, int screenY);

// Where the cursor was last reported, in screen coordinates (MSG.pt).
POINT CursorScreenPosition();

// What the latest key-down of this virtual key types (0 when nothing): TranslateMessage's character.
char32_t CharacterForKey(UINT virtualKey);

}  // namespace w32

#endif
