// Client surfaces on the screen: a window's pixels in a cairo image, painted and pushed to the X server at once.
// Leaves out partial updates (every change repaints the whole client area) and scaled displays.
#include <cstring>

#include "gtk/gtk_state.h"

namespace w32 {
namespace {

gboolean OnDraw(GtkWidget*, cairo_t* cairo, gpointer window) {
    GtkWindowEntry* entry = FindEntry(static_cast<HWND>(window));
    if (entry == nullptr || entry->image == nullptr) return FALSE;
    cairo_set_source_surface(cairo, entry->image, 0, 0);
    cairo_set_operator(cairo, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cairo);
    return TRUE;
}

// Surface pixels are 0x00RRGGBB words, which is what CAIRO_FORMAT_RGB24 keeps in each native-endian word.
cairo_surface_t* ImageFor(GtkWindowEntry& entry, int width, int height) {
    cairo_surface_t* image = entry.image;
    if (image != nullptr && cairo_image_surface_get_width(image) == width &&
        cairo_image_surface_get_height(image) == height)
        return image;
    ReleaseSurface(entry);
    entry.image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    if (cairo_surface_status(entry.image) != CAIRO_STATUS_SUCCESS) ReleaseSurface(entry);
    return entry.image;
}

}  // namespace

void CreateSurfaceArea(GtkWindowEntry& entry) {
    entry.area = gtk_drawing_area_new();
    g_signal_connect(entry.area, "draw", G_CALLBACK(OnDraw), entry.window);
}

void ShowSurface(GtkWindowEntry& entry, const PixelSurface& surface) {
    if (entry.area == nullptr) return;  // shown as a GTK control instead
    if (surface.width <= 0 || surface.height <= 0 || surface.bitsPerPixel != 32 ||
        surface.pixels.size() < static_cast<size_t>(surface.width) * static_cast<size_t>(surface.height)) {
        ReleaseSurface(entry);
    } else if (cairo_surface_t* image = ImageFor(entry, surface.width, surface.height)) {
        cairo_surface_flush(image);
        unsigned char* rows = cairo_image_surface_get_data(image);
        int stride = cairo_image_surface_get_stride(image);
        for (int y = 0; y < surface.height; ++y)
            std::memcpy(rows + static_cast<size_t>(y) * static_cast<size_t>(stride), surface.Row(y),
                        static_cast<size_t>(surface.width) * sizeof(uint32_t));
        cairo_surface_mark_dirty(image);
    }
    gtk_widget_queue_draw(entry.area);

    // Windows shows a blit to the window DC at once. GTK would wait for its next frame, which never comes
    // while the program is busy outside the main loop, so the redraw is run here and flushed to the server.
    GtkWidget* toplevel = gtk_widget_get_toplevel(entry.area);
    GdkWindow* window = gtk_widget_get_mapped(toplevel) ? gtk_widget_get_window(toplevel) : nullptr;
    if (window == nullptr) return;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gdk_window_process_updates(window, TRUE);
    G_GNUC_END_IGNORE_DEPRECATIONS
    gdk_display_flush(gdk_window_get_display(window));
}

void ReleaseSurface(GtkWindowEntry& entry) {
    if (entry.image != nullptr) cairo_surface_destroy(entry.image);
    entry.image = nullptr;
}

}  // namespace w32
