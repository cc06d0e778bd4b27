// GTK input as USER input, for the GTK display.
// [x] keys with virtual-key codes and the layout's character   [x] mouse buttons, moves   [x] the close box
// [ ] the wheel, input methods   [ ] focus among a dialog's controls (keys go to the top-level window)
#include "gtk/gtk_state.h"
#include "user/input_delivery.h"

namespace w32 {
namespace {

// Virtual-key codes beyond those the program's header names.
constexpr UINT kVkSpace = 0x20, kVkPageUp = 0x21, kVkPageDown = 0x22, kVkEnd = 0x23, kVkHome = 0x24;
constexpr UINT kVkLeft = 0x25, kVkUp = 0x26, kVkRight = 0x27, kVkDown = 0x28, kVkInsert = 0x2D;
constexpr UINT kVkDelete = 0x2E, kVkPause = 0x13, kVkCapital = 0x14, kVkNumpad0 = 0x60, kVkF1 = 0x70;
constexpr UINT kVkLeftWindows = 0x5B, kVkRightWindows = 0x5C, kVkApps = 0x5D, kVkNumLock = 0x90;
constexpr UINT kVkScroll = 0x91;

struct KeyCode {
    guint keyval;
    UINT virtualKey;
};

// Our choice for punctuation keys, whose codes Windows takes from the layout: the code of the US key that
// types the same unshifted character (so '/' is VK_OEM_2 on every layout).
constexpr KeyCode kKeyCodes[] = {
    {GDK_KEY_Return, VK_RETURN},
    {GDK_KEY_KP_Enter, VK_RETURN},
    {GDK_KEY_Escape, VK_ESCAPE},
    {GDK_KEY_Tab, VK_TAB},
    {GDK_KEY_ISO_Left_Tab, VK_TAB},
    {GDK_KEY_BackSpace, VK_BACK},
    {GDK_KEY_space, kVkSpace},
    {GDK_KEY_Shift_L, VK_SHIFT},
    {GDK_KEY_Shift_R, VK_SHIFT},
    {GDK_KEY_Control_L, VK_CONTROL},
    {GDK_KEY_Control_R, VK_CONTROL},
    {GDK_KEY_Alt_L, VK_MENU},
    {GDK_KEY_Alt_R, VK_MENU},
    {GDK_KEY_Meta_L, VK_MENU},
    {GDK_KEY_Meta_R, VK_MENU},
    {GDK_KEY_Pause, kVkPause},
    {GDK_KEY_Caps_Lock, kVkCapital},
    {GDK_KEY_Page_Up, kVkPageUp},
    {GDK_KEY_Page_Down, kVkPageDown},
    {GDK_KEY_End, kVkEnd},
    {GDK_KEY_Home, kVkHome},
    {GDK_KEY_Left, kVkLeft},
    {GDK_KEY_Up, kVkUp},
    {GDK_KEY_Right, kVkRight},
    {GDK_KEY_Down, kVkDown},
    {GDK_KEY_Insert, kVkInsert},
    {GDK_KEY_Delete, kVkDelete},
    {GDK_KEY_Super_L, kVkLeftWindows},
    {GDK_KEY_Super_R, kVkRightWindows},
    {GDK_KEY_Menu, kVkApps},
    {GDK_KEY_Num_Lock, kVkNumLock},
    {GDK_KEY_Scroll_Lock, kVkScroll},
    {GDK_KEY_KP_Multiply, 0x6A},
    {GDK_KEY_KP_Add, 0x6B},
    {GDK_KEY_KP_Subtract, 0x6D},
    {GDK_KEY_KP_Decimal, 0x6E},
    {GDK_KEY_KP_Divide, 0x6F},
    {GDK_KEY_semicolon, 0xBA},
    {GDK_KEY_colon, 0xBA},
    {GDK_KEY_equal, 0xBB},
    {GDK_KEY_comma, 0xBC},
    {GDK_KEY_minus, 0xBD},
    {GDK_KEY_period, 0xBE},
    {GDK_KEY_slash, 0xBF},
    {GDK_KEY_grave, 0xC0},
    {GDK_KEY_at, 0xC0},
    {GDK_KEY_bracketleft, 0xDB},
    {GDK_KEY_backslash, 0xDC},
    {GDK_KEY_bracketright, 0xDD},
    {GDK_KEY_apostrophe, 0xDE},
    {GDK_KEY_asciicircum, 0xDE},
};

// The key's own keyval: what it types without modifiers in the event's layout group.
guint UnmodifiedKeyval(const GdkEventKey* event) {
    guint keyval = 0;
    GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_window_get_display(event->window));
    if (!gdk_keymap_translate_keyboard_state(keymap, event->hardware_keycode, GdkModifierType(0), event->group, &keyval,
                                             nullptr, nullptr, nullptr))
        keyval = event->keyval;
    return keyval;
}

UINT VirtualKeyFor(const GdkEventKey* event) {
    guint keyval = gdk_keyval_to_upper(UnmodifiedKeyval(event));
    if ((keyval >= GDK_KEY_A && keyval <= GDK_KEY_Z) || (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9))
        return keyval;  // Windows uses the ASCII codes for letters and digits
    if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F24) return kVkF1 + (keyval - GDK_KEY_F1);
    if (keyval >= GDK_KEY_KP_0 && keyval <= GDK_KEY_KP_9) return kVkNumpad0 + (keyval - GDK_KEY_KP_0);
    for (const KeyCode& code : kKeyCodes) {
        if (code.keyval == keyval) return code.virtualKey;
    }
    return 0;
}

unsigned ModifiersOf(guint state) {
    unsigned held = 0;
    if (state & GDK_SHIFT_MASK) held |= kShiftHeld;
    if (state & GDK_CONTROL_MASK) held |= kControlHeld;
    if (state & GDK_MOD1_MASK) held |= kAltHeld;
    return held;
}

// The modifiers held as the key goes: GDK's state from before the event, plus a modifier key being pressed.
// Releasing Alt still counts as Alt held, as Windows sends that release as WM_SYSKEYUP.
unsigned HeldModifiers(const GdkEventKey* event) {
    unsigned held = ModifiersOf(event->state);
    if (event->type != GDK_KEY_PRESS) return held;
    switch (event->keyval) {
    case GDK_KEY_Shift_L:
    case GDK_KEY_Shift_R:
        return held | kShiftHeld;
    case GDK_KEY_Control_L:
    case GDK_KEY_Control_R:
        return held | kControlHeld;
    case GDK_KEY_Alt_L:
    case GDK_KEY_Alt_R:
    case GDK_KEY_Meta_L:
    case GDK_KEY_Meta_R:
        return held | kAltHeld;
    default:
        return held;
    }
}

// What TranslateMessage would make of the key: the layout's character (Shift and the group applied, Alt
// ignored), the control characters Windows gives Enter, Esc, Tab and Backspace, and Ctrl+letter as 1 to 26.
char32_t CharacterFor(const GdkEventKey* event, unsigned modifiers) {
    switch (event->keyval) {
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
        return (modifiers & kControlHeld) ? U'\n' : U'\r';
    case GDK_KEY_Escape:
        return 0x1B;
    case GDK_KEY_Tab:
    case GDK_KEY_ISO_Left_Tab:
        return U'\t';
    case GDK_KEY_BackSpace:
        return (modifiers & kControlHeld) ? 0x7F : 0x08;
    default:
        break;
    }
    if ((modifiers & kControlHeld) && !(modifiers & kAltHeld)) {
        guint lower = gdk_keyval_to_lower(event->keyval);
        if (lower >= GDK_KEY_a && lower <= GDK_KEY_z) return lower - GDK_KEY_a + 1;
        return 0;
    }
    return gdk_keyval_to_unicode(event->keyval);
}

gboolean OnKey(GtkWidget* widget, GdkEventKey* event, gpointer window) {
    bool pressed = event->type == GDK_KEY_PRESS;
    unsigned modifiers = HeldModifiers(event);
    // Alt+letter opens a menu-bar menu or presses a dialog button through GTK's mnemonics; every other key,
    // Alt+? and Alt+/ included, goes to USER (GTK's own key handling never runs).
    if (pressed && (modifiers & kAltHeld) && !(modifiers & kControlHeld) &&
        gtk_window_mnemonic_activate(GTK_WINDOW(widget), gdk_keyval_to_lower(event->keyval), GDK_MOD1_MASK))
        return TRUE;
    DeliverKey(static_cast<HWND>(window), pressed, VirtualKeyFor(event), pressed ? CharacterFor(event, modifiers) : 0,
               modifiers);
    return TRUE;
}

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer window) {
    DeliverCloseRequest(static_cast<HWND>(window));  // DefWindowProcA decides; GTK never destroys on its own
    return TRUE;
}

bool ButtonFor(guint number, MouseButton* button) {
    switch (number) {
    case 1:
        *button = MouseButton::Left;
        return true;
    case 2:
        *button = MouseButton::Middle;
        return true;
    case 3:
        *button = MouseButton::Right;
        return true;
    default:
        return false;
    }
}

// Windows counts a press as the second of a double click when it follows the first press of the same
// button on the same window within the double-click time and distance; a third press starts again.
bool IsSecondPress(HWND window, const GdkEventButton* event) {
    gint time = 400, distance = 5;
    g_object_get(gtk_settings_get_default(), "gtk-double-click-time", &time, "gtk-double-click-distance", &distance,
                 nullptr);
    PressRecord& last = GtkState().lastPress;
    bool second = !last.wasDouble && last.window == window && last.button == event->button &&
                  event->time - last.time <= static_cast<guint32>(time) && event->x - last.x <= distance &&
                  last.x - event->x <= distance && event->y - last.y <= distance && last.y - event->y <= distance;
    last = PressRecord{window, event->button, event->time, event->x, event->y, second};
    return second;
}

gboolean OnButton(GtkWidget* widget, GdkEventButton* event, gpointer window) {
    MouseButton button;
    // GDK's own double and triple press events come on top of the plain presses: counted above instead.
    if (event->type != GDK_BUTTON_PRESS && event->type != GDK_BUTTON_RELEASE) return TRUE;
    if (!ButtonFor(event->button, &button)) return FALSE;
    HWND target = static_cast<HWND>(window);
    bool pressed = event->type == GDK_BUTTON_PRESS;
    int x = static_cast<int>(event->x), y = static_cast<int>(event->y);
    // Without SetCapture a release outside the window belongs to whatever is under the pointer there.
    if (!pressed &&
        (x < 0 || y < 0 || x >= gtk_widget_get_allocated_width(widget) || y >= gtk_widget_get_allocated_height(widget)))
        return TRUE;
    bool doubleClick = pressed && IsSecondPress(target, event);
    DeliverMouseButton(target, button, pressed, x, y, ModifiersOf(event->state), doubleClick);
    return TRUE;
}

gboolean OnMotion(GtkWidget*, GdkEventMotion* event, gpointer window) {
    DeliverMouseMove(static_cast<HWND>(window), static_cast<int>(event->x), static_cast<int>(event->y),
                     ModifiersOf(event->state));
    return TRUE;
}

}  // namespace

void ConnectTopLevelInput(GtkWindowEntry& entry) {
    g_signal_connect(entry.toplevel, "key-press-event", G_CALLBACK(OnKey), entry.window);
    g_signal_connect(entry.toplevel, "key-release-event", G_CALLBACK(OnKey), entry.window);
    g_signal_connect(entry.toplevel, "delete-event", G_CALLBACK(OnDelete), entry.window);
}

void ConnectClientInput(GtkWindowEntry& entry) {
    gtk_widget_add_events(entry.area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK);
    g_signal_connect(entry.area, "button-press-event", G_CALLBACK(OnButton), entry.window);
    g_signal_connect(entry.area, "button-release-event", G_CALLBACK(OnButton), entry.window);
    g_signal_connect(entry.area, "motion-notify-event", G_CALLBACK(OnMotion), entry.window);
}

}  // namespace w32
