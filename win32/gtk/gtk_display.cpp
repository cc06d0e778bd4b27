// The GTK 3 display: a GtkWindow per top-level window (menu bar over an exact client area), children as widgets.
// [x] X11 and Wayland; where the compositor places windows itself (Wayland), USER's rectangles follow GTK
// [ ] moves made by an X11 window manager (USER keeps the position it chose), minimised and maximised states
#include <algorithm>
#include <thread>

#include "gtk/gtk_desktop.h"
#include "gtk/gtk_state.h"
#include "user/input_delivery.h"

#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif

namespace w32 {
namespace {

// GLib sources dispatched by one PeekMessageA at most, so that a busy display cannot hold the program.
constexpr int kPollIterations = 64;

// The thread that runs GTK's main loop and owns the windows, set once before any other thread can post.
std::thread::id gtkThread;

int Width(const RECT& rect) { return rect.right - rect.left; }
int Height(const RECT& rect) { return rect.bottom - rect.top; }

bool IsResizable(const GtkWindowEntry& entry) { return (entry.style & WS_THICKFRAME) != 0; }

// Child windows sit in their parent's client area at their offset from its corner.
POINT OffsetInParent(const GtkWindowEntry& child, const GtkWindowEntry& parent) {
    return POINT{child.windowRect.left - parent.clientRect.left, child.windowRect.top - parent.clientRect.top};
}

int MenuBarHeight(const GtkWindowEntry& entry, int width) {
    if (entry.menuBar == nullptr || !gtk_widget_get_visible(entry.menuBar)) return 0;
    int minimum = 0, natural = 0;
    gtk_widget_get_preferred_height_for_width(entry.menuBar, std::max(width, 1), &minimum, &natural);
    return natural;
}

// Makes the client area of a top-level window the size USER gave it: the window is resized around it, menu
// bar included.
void ResizeAroundClient(GtkWindowEntry& entry) {
    const int width = Width(entry.clientRect), height = Height(entry.clientRect);
    bool alreadyThere = gtk_widget_get_realized(entry.client) &&
                        gtk_widget_get_allocated_width(entry.client) == width &&
                        gtk_widget_get_allocated_height(entry.client) == height;
    if (alreadyThere) {
        entry.resizePending = false;
        return;
    }
    gtk_window_resize(GTK_WINDOW(entry.toplevel), std::max(width, 1),
                      std::max(height + MenuBarHeight(entry, width), 1));
    entry.resizePending = true;
}

// The drawing area always gets the client's size. A resizable window keeps a client with no minimum so that
// the user can shrink it; a fixed one takes its size from the client's request. A hidden window is sized as
// it is shown: measuring the menu bar lays out its text, which loads fonts (some 10 ms for Japanese), and a
// program that creates its window and then starts its work (opens its microphone) need not wait for that.
void FitTopLevel(GtkWindowEntry& entry) {
    const int width = Width(entry.clientRect), height = Height(entry.clientRect);
    gtk_widget_set_size_request(entry.area, width, height);
    if (!IsResizable(entry)) gtk_widget_set_size_request(entry.client, width, height);
    if (gtk_widget_get_visible(entry.toplevel)) ResizeAroundClient(entry);
}

void FitChild(GtkWindowEntry& entry) {
    GtkWindowEntry* parent = FindEntry(entry.parent);
    if (parent == nullptr || parent->client == nullptr || entry.placed == nullptr) return;
    POINT offset = OffsetInParent(entry, *parent);
    gtk_layout_move(GTK_LAYOUT(parent->client), entry.placed, offset.x, offset.y);
    if (entry.control != nullptr) {
        gtk_widget_set_size_request(entry.control, Width(entry.windowRect), Height(entry.windowRect));
    } else {
        gtk_widget_set_size_request(entry.client, Width(entry.clientRect), Height(entry.clientRect));
        gtk_widget_set_size_request(entry.area, Width(entry.clientRect), Height(entry.clientRect));
    }
}

// The user (or the window manager) resized the window: USER hears of the new client size unless it is the
// size we asked for ourselves, or an old size still on its way out.
void OnClientAllocated(GtkWidget*, GdkRectangle* allocation, gpointer window) {
    GtkWindowEntry* entry = FindEntry(static_cast<HWND>(window));
    if (entry == nullptr) return;
    if (allocation->width == Width(entry->clientRect) && allocation->height == Height(entry->clientRect)) {
        entry->resizePending = false;
        return;
    }
    if (entry->resizePending || !IsResizable(*entry)) return;
    DeliverClientResize(entry->window, allocation->width, allocation->height);
}

// Our choice: where the compositor places windows itself and ignores the positions asked for (Wayland), the
// position GTK reports is the only one there is, and USER's rectangle follows it.
void FollowReportedPosition(GtkWindowEntry& entry) {
#ifdef GDK_WINDOWING_WAYLAND
    if (!GDK_IS_WAYLAND_DISPLAY(gtk_widget_get_display(entry.toplevel))) return;
    int x = 0, y = 0;
    gtk_window_get_position(GTK_WINDOW(entry.toplevel), &x, &y);
    if (x != entry.windowRect.left || y != entry.windowRect.top) DeliverWindowMove(entry.window, x, y);
#else
    (void)entry;
#endif
}

// After a configure the window has the size the server gave it, whatever we asked for.
gboolean OnConfigured(GtkWidget*, GdkEvent*, gpointer window) {
    GtkWindowEntry* entry = FindEntry(static_cast<HWND>(window));
    if (entry == nullptr) return FALSE;
    entry->resizePending = false;
    FollowReportedPosition(*entry);
    return FALSE;
}

void CreateTopLevel(GtkWindowEntry& entry, const DisplayWindowInfo& info) {
    entry.toplevel = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* window = GTK_WINDOW(entry.toplevel);
    gtk_window_set_title(window, ValidUtf8(info.text).c_str());
    if (GtkWindowEntry* owner = FindEntry(info.owner); owner != nullptr && owner->toplevel != nullptr) {
        gtk_window_set_transient_for(window, GTK_WINDOW(owner->toplevel));
        gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
    }
    gtk_window_set_resizable(window, IsResizable(entry));
    gtk_window_move(window, entry.windowRect.left, entry.windowRect.top);

    entry.column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    entry.client = gtk_layout_new(nullptr, nullptr);
    gtk_widget_set_hexpand(entry.client, TRUE);
    gtk_widget_set_vexpand(entry.client, TRUE);
    gtk_box_pack_end(GTK_BOX(entry.column), entry.client, TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(window), entry.column);
    CreateSurfaceArea(entry);
    gtk_layout_put(GTK_LAYOUT(entry.client), entry.area, 0, 0);
    gtk_widget_show_all(entry.column);
    gtk_widget_set_sensitive(entry.column, (info.style & WS_DISABLED) == 0);

    g_signal_connect(entry.client, "size-allocate", G_CALLBACK(OnClientAllocated), entry.window);
    g_signal_connect(entry.toplevel, "configure-event", G_CALLBACK(OnConfigured), entry.window);
    ConnectTopLevelInput(entry);
    ConnectClientInput(entry);
    ApplyWindowIcons(entry);
    FitTopLevel(entry);
}

void CreateChild(GtkWindowEntry& entry, const DisplayWindowInfo& info) {
    GtkWindowEntry* parent = FindEntry(info.parent);
    if (parent == nullptr || parent->client == nullptr) return;  // inside a window we do not show
    entry.control = CreateControlWidget(info);
    if (entry.control != nullptr) {
        entry.placed = entry.control;
    } else {
        entry.client = gtk_layout_new(nullptr, nullptr);
        CreateSurfaceArea(entry);
        gtk_layout_put(GTK_LAYOUT(entry.client), entry.area, 0, 0);
        gtk_widget_show(entry.area);
        ConnectClientInput(entry);
        entry.placed = entry.client;
    }
    gtk_widget_set_sensitive(entry.placed, (info.style & WS_DISABLED) == 0);
    POINT offset = OffsetInParent(entry, *parent);
    gtk_layout_put(GTK_LAYOUT(parent->client), entry.placed, offset.x, offset.y);
    // A dialog starts with its default push button focused, as Windows' dialog manager does.
    if (entry.control != nullptr && gtk_widget_get_can_default(entry.control)) {
        gtk_widget_grab_default(entry.control);
        gtk_widget_grab_focus(entry.control);
    }
    FitChild(entry);
}

void WindowCreated(const DisplayWindowInfo& info) {
    auto made = std::make_unique<GtkWindowEntry>();
    GtkWindowEntry& entry = *made;
    entry.window = info.window;
    entry.parent = info.parent;
    entry.owner = info.owner;
    entry.style = info.style;
    entry.className = info.className != nullptr ? info.className : "";
    entry.windowRect = info.windowRect;
    entry.clientRect = info.clientRect;
    GtkState().windows[info.window] = std::move(made);
    if (info.parent == nullptr)
        CreateTopLevel(entry, info);
    else
        CreateChild(entry, info);
}

// USER destroys children first; any still here lose their widgets with their parent's.
void ForgetDescendants(HWND window) {
    GtkBackendState& backend = GtkState();
    std::vector<HWND> children;
    for (const auto& [handle, entry] : backend.windows)
        if (entry->parent == window) children.push_back(handle);
    for (HWND child : children) {
        ForgetDescendants(child);
        ReleaseSurface(*backend.windows[child]);
        backend.windows.erase(child);
    }
}

void WindowDestroyed(HWND window) {
    GtkBackendState& backend = GtkState();
    auto found = backend.windows.find(window);
    if (found == backend.windows.end()) return;
    // Taken out of the table before GTK tears the widgets down, so that no handler finds it on the way.
    std::unique_ptr<GtkWindowEntry> entry = std::move(found->second);
    backend.windows.erase(found);
    ForgetDescendants(window);
    ReleaseSurface(*entry);
    if (entry->toplevel != nullptr) {
        gtk_widget_destroy(entry->toplevel);
        // Windows activates the owner when an owned window (a dialog) goes away.
        GtkWindowEntry* owner = FindEntry(entry->owner);
        if (owner != nullptr && owner->toplevel != nullptr && gtk_widget_get_visible(owner->toplevel))
            gtk_window_present(GTK_WINDOW(owner->toplevel));
    } else if (entry->placed != nullptr) {
        gtk_widget_destroy(entry->placed);
    }
}

gboolean ShowWhenIdle(gpointer window) {
    GtkWindowEntry* entry = FindEntry(static_cast<HWND>(window));
    if (entry == nullptr || !entry->showPending) return G_SOURCE_REMOVE;
    entry->showPending = false;
    ResizeAroundClient(*entry);
    PresentWindow(GTK_WINDOW(entry->toplevel));
    return G_SOURCE_REMOVE;
}

// A top-level window goes on the screen at the main loop's next turn, after the messages already posted:
// GTK lays out and maps it there (some 10 to 20 ms, its menu's fonts loaded), while a program that showed
// its window and then starts recording or loading is already under way, as on Windows, where the window
// manager draws a new window's frame while its program goes on.
void WindowShown(HWND window, bool visible) {
    GtkWindowEntry* entry = FindEntry(window);
    if (entry == nullptr) return;
    GtkWidget* widget = entry->toplevel != nullptr ? entry->toplevel : entry->placed;
    if (widget == nullptr) return;
    if (!visible) {
        entry->showPending = false;
        gtk_widget_hide(widget);
    } else if (entry->toplevel != nullptr) {
        if (!entry->showPending) g_idle_add_full(G_PRIORITY_DEFAULT, ShowWhenIdle, window, nullptr);
        entry->showPending = true;
    } else {
        gtk_widget_show(widget);
    }
}

void WindowMoved(HWND window, const RECT& windowRect, const RECT& clientRect) {
    GtkWindowEntry* entry = FindEntry(window);
    if (entry == nullptr) return;
    bool moved = windowRect.left != entry->windowRect.left || windowRect.top != entry->windowRect.top;
    entry->windowRect = windowRect;
    entry->clientRect = clientRect;
    if (entry->toplevel != nullptr) {
        if (moved) gtk_window_move(GTK_WINDOW(entry->toplevel), windowRect.left, windowRect.top);
        FitTopLevel(*entry);
        if (moved) FollowReportedPosition(*entry);
    } else {
        FitChild(*entry);
    }
}

void WindowTextChanged(HWND window, const char* text) {
    GtkWindowEntry* entry = FindEntry(window);
    if (entry == nullptr) return;
    if (entry->toplevel != nullptr)
        gtk_window_set_title(GTK_WINDOW(entry->toplevel), ValidUtf8(text).c_str());
    else
        SetControlText(*entry, text);
}

void WindowEnabled(HWND window, bool enabled) {
    GtkWindowEntry* entry = FindEntry(window);
    if (entry == nullptr) return;
    entry->style = enabled ? (entry->style & ~WS_DISABLED) : (entry->style | WS_DISABLED);
    // A disabled window takes no input: its menu bar and client go insensitive (USER drops the input too).
    GtkWidget* widget = entry->toplevel != nullptr ? entry->column : entry->placed;
    if (widget != nullptr) gtk_widget_set_sensitive(widget, enabled);
}

void MenuChanged(HWND window, HMENU menu) {
    GtkWindowEntry* entry = FindEntry(window);
    if (entry == nullptr || entry->toplevel == nullptr) return;
    ShowMenuBar(*entry, menu);
    FitTopLevel(*entry);
}

void SurfaceChanged(HWND window, const PixelSurface& surface) {
    if (GtkWindowEntry* entry = FindEntry(window)) ShowSurface(*entry, surface);
}

void PollEvents() {
    for (int i = 0; i < kPollIterations && g_main_context_iteration(nullptr, FALSE); ++i) {
    }
}

// GTK's input handlers post through the Deliver functions, and posting wakes `wait`, so one flag covers
// both "a message was posted" and "input arrived".
void WaitForEvents(MessageWait& wait) {
    while (!wait.TakeWake()) g_main_context_iteration(nullptr, TRUE);
}

// A post from the GTK thread itself needs no wake-up: that thread is not blocked, and every wait it makes
// looks at the flag first.
void Wake(MessageWait& wait) {
    wait.Wake();
    if (std::this_thread::get_id() != gtkThread) g_main_context_wakeup(nullptr);  // remembered if not blocked yet
}

bool ScreenSize(SIZE* size) {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr) return false;
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (monitor == nullptr && gdk_display_get_n_monitors(display) > 0) monitor = gdk_display_get_monitor(display, 0);
    if (monitor == nullptr) return false;
    GdkRectangle geometry;
    gdk_monitor_get_geometry(monitor, &geometry);
    *size = SIZE{geometry.width, geometry.height};
    return true;
}

DisplayBackend MakeGtkDisplay() {
    DisplayBackend backend{};
    backend.name = "gtk";
    backend.WindowCreated = WindowCreated;
    backend.WindowDestroyed = WindowDestroyed;
    backend.WindowShown = WindowShown;
    backend.WindowMoved = WindowMoved;
    backend.WindowTextChanged = WindowTextChanged;
    backend.WindowEnabled = WindowEnabled;
    backend.MenuChanged = MenuChanged;
    backend.SurfaceChanged = SurfaceChanged;
    backend.PollEvents = PollEvents;
    backend.WaitForEvents = WaitForEvents;
    backend.Wake = Wake;
    backend.ScreenSize = ScreenSize;
    return backend;
}

// Dialog controls get the exact pixel sizes of their templates, smaller than the theme's buttons like.
const char kControlCss[] =
    ".pelomi-control { min-height: 0; min-width: 0; padding: 0 4px; }\n"
    "label.pelomi-control { padding: 0; }\n";

}  // namespace

GtkBackendState& GtkState() {
    static GtkBackendState* state = new GtkBackendState;  // widgets may outlive static destructors
    return *state;
}

GtkWindowEntry* FindEntry(HWND window) {
    if (window == nullptr) return nullptr;
    GtkBackendState& backend = GtkState();
    auto found = backend.windows.find(window);
    return found != backend.windows.end() ? found->second.get() : nullptr;
}

GtkWindowEntry* TopLevelEntry(HWND window) {
    GtkWindowEntry* entry = FindEntry(window);
    while (entry != nullptr && entry->toplevel == nullptr) entry = FindEntry(entry->parent);
    return entry;
}

std::string ValidUtf8(const char* text) {
    if (text == nullptr) return std::string();
    gchar* valid = g_utf8_make_valid(text, -1);
    std::string result(valid);
    g_free(valid);
    return result;
}

// The first present only maps a hidden window; the second asks for the focus, which without a window
// manager nobody else would give it.
void PresentWindow(GtkWindow* window) {
    gtk_window_present(window);
    gtk_window_present(window);
}

bool UseGtkDisplay() {
    GdkScreen* screen = gdk_screen_get_default();
    if (screen == nullptr) return false;
    GtkBackendState& backend = GtkState();
    if (backend.controlStyle == nullptr) {
        backend.controlStyle = gtk_css_provider_new();
        gtk_css_provider_load_from_data(backend.controlStyle, kControlCss, -1, nullptr);
        gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(backend.controlStyle),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    }
    gtkThread = std::this_thread::get_id();
    static DisplayBackend gtkDisplay = MakeGtkDisplay();
    return InstallDisplayBackend(gtkDisplay);
}

}  // namespace w32
