// Installs the GTK 3 backends: the display USER shows its windows on, and GetOpenFileNameA's file chooser.
// Leaves out starting GTK: the caller runs gtk_init_check first, on the thread that will own every window.
#ifndef PELOMI_WIN32_GTK_DESKTOP_H
#define PELOMI_WIN32_GTK_DESKTOP_H

namespace w32 {

// Windows created from now on appear on GTK's default display; false (nothing installed) without one.
bool UseGtkDisplay();

// GetOpenFileNameA shows a GtkFileChooserDialog from now on.
void UseGtkFileChooser();

// On an X server with MIT-SHM, windows are shown from shared memory (the default); false paints them
// through cairo instead, as on other displays.
void UseX11SharedMemory(bool allow);

// Returns once the X server has carried out every picture put so far: from then on, any client reading the
// screen sees them. Puts go on a connection of their own, with no order against another client's requests.
void FinishX11Puts();

// On a Wayland compositor with subsurfaces, windows are shown from buffers of their own (the default);
// false has GTK draw them in its frames instead, as where there are none.
void UseWaylandSubsurface(bool allow);

}  // namespace w32

#endif
