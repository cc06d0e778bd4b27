// Input from the display backend turned into queued Windows messages, and the key state GetKeyState reads.
// Leaves out keyboard layouts (the backend supplies characters) and per-message key-state snapshots.
#include "user/input_delivery.h"

#include <mutex>

#include "user/message_queue.h"
#include "user/window_object.h"

namespace w32 {
namespace {

struct KeyboardAndMouseState {
    std::mutex lock;
    bool down[256] = {};
    bool toggled[256] = {};
    char32_t characters[256] = {};
    POINT cursor{};
};

KeyboardAndMouseState& State() {
    static KeyboardAndMouseState* state = new KeyboardAndMouseState;  // read by other threads until exit
    return *state;
}

// Called with the lock held.
void SetKeyDown(KeyboardAndMouseState& state, UINT key, bool pressed) {
    if (pressed && !state.down[key]) state.toggled[key] = !state.toggled[key];
    state.down[key] = pressed;
}

void ApplyModifiers(KeyboardAndMouseState& state, unsigned modifiers) {
    SetKeyDown(state, VK_SHIFT, (modifiers & kShiftHeld) != 0);
    SetKeyDown(state, VK_CONTROL, (modifiers & kControlHeld) != 0);
    SetKeyDown(state, VK_MENU, (modifiers & kAltHeld) != 0);
}

struct ButtonMessages {
    UINT down, up, doubleClick;
    UINT virtualKey;
};

ButtonMessages MessagesFor(MouseButton button) {
    switch (button) {
    case MouseButton::Right:
        return {WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK, VK_RBUTTON};
    case MouseButton::Middle:
        return {WM_MBUTTONDOWN, WM_MBUTTONUP, WM_MBUTTONDBLCLK, VK_MBUTTON};
    case MouseButton::Left:
    default:
        return {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, VK_LBUTTON};
    }
}

// Updates the shared state for a mouse event at (x, y) of `window` and returns the MK_ flags after it.
WPARAM TrackMouse(HWND window, int x, int y, unsigned modifiers, const ButtonMessages* button, bool pressed) {
    RegisteredState registered;
    bool known = FindRegisteredWindow(window, &registered);
    KeyboardAndMouseState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    if (known) state.cursor = POINT{registered.clientOrigin.x + x, registered.clientOrigin.y + y};
    ApplyModifiers(state, modifiers);
    if (button != nullptr) SetKeyDown(state, button->virtualKey, pressed);
    WPARAM flags = 0;
    if (state.down[VK_LBUTTON]) flags |= MK_LBUTTON;
    if (state.down[VK_RBUTTON]) flags |= MK_RBUTTON;
    if (state.down[VK_MBUTTON]) flags |= MK_MBUTTON;
    if (modifiers & kShiftHeld) flags |= MK_SHIFT;
    if (modifiers & kControlHeld) flags |= MK_CONTROL;
    return flags;
}

}  // namespace

bool DeliverMouseButton(HWND window, MouseButton button, bool pressed, int x, int y, unsigned modifiers,
                        bool doubleClick) {
    ButtonMessages messages = MessagesFor(button);
    WPARAM flags = TrackMouse(window, x, y, modifiers, &messages, pressed);
    UINT message = messages.up;
    if (pressed) {
        RegisteredState registered;
        bool doubleClicks =
            doubleClick && FindRegisteredWindow(window, &registered) && (registered.classStyle & CS_DBLCLKS) != 0;
        message = doubleClicks ? messages.doubleClick : messages.down;
    }
    return PostToQueue(window, message, flags, MAKELPARAM(x, y), PostKind::Input);
}

bool DeliverMouseMove(HWND window, int x, int y, unsigned modifiers) {
    WPARAM flags = TrackMouse(window, x, y, modifiers, nullptr, false);
    return PostToQueue(window, WM_MOUSEMOVE, flags, MAKELPARAM(x, y), PostKind::Input);
}

bool DeliverKey(HWND window, bool pressed, UINT virtualKey, char32_t character, unsigned modifiers) {
    UINT key = virtualKey & 0xFF;
    bool wasDown;
    {
        KeyboardAndMouseState& state = State();
        std::lock_guard<std::mutex> guard(state.lock);
        wasDown = state.down[key];  // before the modifiers: Alt's own press is not a repeat
        ApplyModifiers(state, modifiers);
        SetKeyDown(state, key, pressed);
        if (pressed) state.characters[key] = character;
    }
    bool alt = (modifiers & kAltHeld) != 0;
    // Ctrl+Alt is AltGr on Windows: those keys type characters, so they are not system keys.
    bool systemKey = (alt && !(modifiers & kControlHeld)) || key == VK_F10;
    UINT message = pressed ? (systemKey ? WM_SYSKEYDOWN : WM_KEYDOWN) : (systemKey ? WM_SYSKEYUP : WM_KEYUP);
    DWORD flags = 1;  // repeat count
    if (alt) flags |= 1u << 29;
    if (wasDown || !pressed) flags |= 1u << 30;
    if (!pressed) flags |= 1u << 31;
    return PostToQueue(window, message, key, static_cast<LPARAM>(flags), PostKind::Input);
}

bool DeliverCloseRequest(HWND window) { return PostToQueue(window, WM_SYSCOMMAND, SC_CLOSE, 0, PostKind::Input); }

bool DeliverMenuCommand(HWND window, UINT commandId) {
    return PostToQueue(window, WM_COMMAND, MAKEWPARAM(commandId, 0), 0, PostKind::Input);
}

bool DeliverClientResize(HWND window, int clientWidth, int clientHeight) {
    return QueueSentWork(window, [clientWidth, clientHeight](HWND target) {
        WindowObject* object = PeekWindowObject(target);
        // A display echoing a size USER gave it is not a resize by the user.
        if (object == nullptr || (object->ClientWidth() == clientWidth && object->ClientHeight() == clientHeight))
            return;
        FrameInsets frame = NonClientInsets(object->style, object->exStyle, object->HasMenuBar());
        SetWindowPlacement(target, 0, 0, clientWidth + frame.left + frame.right,
                           clientHeight + frame.top + frame.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    });
}

bool DeliverWindowMove(HWND window, int screenX, int screenY) {
    return QueueSentWork(window, [screenX, screenY](HWND target) {
        WindowObject* object = PeekWindowObject(target);
        if (object == nullptr || (object->windowRect.left == screenX && object->windowRect.top == screenY)) return;
        SetWindowPlacement(target, screenX, screenY, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    });
}

POINT CursorScreenPosition() {
    KeyboardAndMouseState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.cursor;
}

char32_t CharacterForKey(UINT virtualKey) {
    KeyboardAndMouseState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.characters[virtualKey & 0xFF];
}

}  // namespace w32

extern "C" SHORT WINAPI GetKeyState(int virtualKey) {
    using namespace w32;
    if (virtualKey < 0 || virtualKey > 0xFF) return 0;
    KeyboardAndMouseState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    unsigned value = (state.down[virtualKey] ? 0x8000u : 0u) | (state.toggled[virtualKey] ? 1u : 0u);
    return static_cast<SHORT>(value);
}
