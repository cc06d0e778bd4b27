// The GTK backend's one state record (a GTK widget tree per layer window) and the pieces its files share.
// Leaves out threads: only the thread that runs GTK's main loop, which owns the windows, touches any of it.
#ifndef PELOMI_WIN32_GTK_STATE_H
#define PELOMI_WIN32_GTK_STATE_H

#include <gtk/gtk.h>
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/pixel_surface.h"
#include "user/display_backend.h"

namespace w32 {

struct X11ScreenImage;
struct WaylandScreenImage;

// What stands on the screen for one layer window.
struct GtkWindowEntry {
    HWND window = nullptr;
    HWND parent = nullptr;  // child windows
    HWND owner = nullptr;   // top-level windows
    DWORD style = 0;
    std::string className;
    RECT windowRect{};  // screen coordinates, as USER last said
    RECT clientRect{};

    GtkWidget* toplevel = nullptr;  // top-level windows: the GtkWindow
    GtkWidget* column = nullptr;    // top-level windows: menu bar above client, in a vertical box
    GtkWidget* menuBar = nullptr;
    GtkWidget* client = nullptr;   // a GtkLayout holding the surface and the child windows' widgets
    GtkWidget* area = nullptr;     // a GtkDrawingArea showing the client surface
    GtkWidget* control = nullptr;  // "Button" and "Static" children: the GTK widget that stands for them
    GtkWidget* placed = nullptr;   // child windows: what sits in the parent's client (control or client)

    // The last surface USER handed over, in one of three forms: put into the window by the X server from
    // shared memory, committed on a Wayland subsurface of our own, or as cairo paints it.
    X11ScreenImage* screenImage = nullptr;
    WaylandScreenImage* waylandImage = nullptr;
    cairo_surface_t* image = nullptr;
    bool imageForScreen = false;       // `image` was made for the area's screen (not a plain memory image)
    bool resizePending = false;        // we asked GTK for clientRect's size and it has not arrived yet
    bool showPending = false;          // shown by USER, to be mapped at the main loop's next turn
    bool drawnSinceMapped = false;     // GTK has drawn (and committed) the area since it was last mapped
};

// A press remembered for telling double clicks apart.
struct PressRecord {
    HWND window = nullptr;
    guint button = 0;
    guint32 time = 0;
    double x = 0, y = 0;
    bool wasDouble = false;  // the next press starts a new pair, as Windows counts
};

struct GtkBackendState {
    std::map<HWND, std::unique_ptr<GtkWindowEntry>> windows;
    PressRecord lastPress;
    GtkCssProvider* controlStyle = nullptr;
    bool defaultIconsSet = false;  // the first window's icons serve dialogs and the file chooser too
};

GtkBackendState& GtkState();
GtkWindowEntry* FindEntry(HWND window);      // null for windows this backend never saw
GtkWindowEntry* TopLevelEntry(HWND window);  // the entry of the window's top-level ancestor (or itself)

// Shows a top-level window and gives it the focus, as Windows activates a window it shows.
void PresentWindow(GtkWindow* window);

// Windows' '&' mnemonics in GTK's '_' form: "&&" is a plain '&', '_' is doubled, a lone trailing '&' dropped.
std::string MnemonicText(const std::string& windowsText);
// `text` as valid UTF-8 (the ANSI code page): bad bytes become U+FFFD rather than tripping GTK's checks.
std::string ValidUtf8(const char* text);

// gtk_surface.cpp
void CreateSurfaceArea(GtkWindowEntry& entry);
void ShowSurface(GtkWindowEntry& entry, const PixelSurface& surface);
void ReleaseSurface(GtkWindowEntry& entry);
// The native window holding `window` (GDK's client-side windows sit inside one) and where in it it lies.
GdkWindow* NativeHolder(GdkWindow* window, int* x, int* y);
// Writes the surface into rows `stride` bytes apart with every pixel an exact scale x scale block, as a
// program that knows nothing of scaling expects its pixels on a scaled screen; `fill` is or-ed into each.
void CopyScaled(void* to, size_t stride, const PixelSurface& surface, int scale, uint32_t fill);
// A cairo view of whole-pixel blocks made by CopyScaled, which paints 1:1 on a window of that scale.
cairo_surface_t* ScaledPicture(void* pixels, int width, int height, size_t stride, int scale);

// gtk_x11_image.cpp
bool PutOnX11(GtkWindowEntry& entry, const PixelSurface& surface);  // false: the server cannot, use cairo
cairo_surface_t* X11ImagePicture(const GtkWindowEntry& entry);       // a new cairo view of it, or null
void ReleaseX11Image(GtkWindowEntry& entry);

// gtk_wayland_image.cpp
bool PutOnWayland(GtkWindowEntry& entry, const PixelSurface& surface);  // false: no subsurface, use GTK's frames
void PlaceWaylandImage(GtkWindowEntry& entry);  // GTK draws the area: follow its surface and the area's place
void HideWaylandImage(GtkWindowEntry& entry);   // the area is unmapped: GTK's surface may go
cairo_surface_t* WaylandImagePicture(const GtkWindowEntry& entry);  // a new cairo view of it, or null
void ReleaseWaylandImage(GtkWindowEntry& entry);

// gtk_input.cpp
void ConnectTopLevelInput(GtkWindowEntry& entry);
void ConnectClientInput(GtkWindowEntry& entry);

// gtk_menu_bar.cpp
void ShowMenuBar(GtkWindowEntry& entry, HMENU menu);

// gtk_controls.cpp
GtkWidget* CreateControlWidget(const DisplayWindowInfo& info);
void SetControlText(GtkWindowEntry& entry, const char* text);

// gtk_icons.cpp
void ApplyWindowIcons(GtkWindowEntry& entry);
GdkPixbuf* IconPixbuf(HICON icon, int size);  // a new reference, or null

}  // namespace w32

#endif
