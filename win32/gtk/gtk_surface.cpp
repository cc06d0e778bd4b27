// Client surfaces on the screen: put into the window from shared memory on X11 (gtk_x11_image.cpp), committed
// on a subsurface of our own on Wayland (gtk_wayland_image.cpp), else from a cairo image made for the window's
// screen: painted at once on X11, drawn in GTK's next frame elsewhere.
// [x] every display GTK has: X11 and Wayland (with or without subsurfaces), windows holding dialog controls
// [x] integer scales: every client pixel an exact N x N block (menus and controls are GTK's, drawn crisp)
// [ ] partial updates, fractional scales
#include <cstring>

#include "gtk/gtk_state.h"

#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>  // last: Xlib's macros clash with names in the headers above
#endif

namespace w32 {
namespace {

// On a scaled window cairo would smooth the picture as it enlarges it; a program's pixels stay whole blocks.
void PaintImage(cairo_t* cairo, cairo_surface_t* image) {
    cairo_set_source_surface(cairo, image, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cairo), CAIRO_FILTER_NEAREST);
    cairo_set_operator(cairo, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cairo);
}

gboolean OnDraw(GtkWidget*, cairo_t* cairo, gpointer window) {
    GtkWindowEntry* entry = FindEntry(static_cast<HWND>(window));
    if (entry == nullptr) return FALSE;
    // Under a Wayland subsurface too: it shows the same picture, and GTK's commit after this draw is what
    // puts the subsurface on a window shown again or moves it with the area.
    entry->drawnSinceMapped = true;
    PlaceWaylandImage(*entry);
    cairo_surface_t* picture = X11ImagePicture(*entry);
    if (picture == nullptr) picture = WaylandImagePicture(*entry);
    if (picture != nullptr) {
        PaintImage(cairo, picture);
        cairo_surface_destroy(picture);
        return TRUE;
    }
    if (entry->image == nullptr) return FALSE;
    PaintImage(cairo, entry->image);
    return TRUE;
}

void ReleaseCairoImage(GtkWindowEntry& entry) {
    if (entry.image != nullptr) cairo_surface_destroy(entry.image);
    entry.image = nullptr;
    entry.imageForScreen = false;
}

// Surface pixels are 0x00RRGGBB words, which is what CAIRO_FORMAT_RGB24 keeps in each native-endian word.
// Once the area has a window, the image is one made for its screen (on X11 a shared-memory image), so that
// showing it costs no copy through the X connection.
cairo_surface_t* ImageFor(GtkWindowEntry& entry, int width, int height) {
    GdkWindow* window = gtk_widget_get_realized(entry.area) ? gtk_widget_get_window(entry.area) : nullptr;
    cairo_surface_t* image = entry.image;
    if (image != nullptr && cairo_image_surface_get_width(image) == width &&
        cairo_image_surface_get_height(image) == height && (entry.imageForScreen || window == nullptr))
        return image;
    ReleaseCairoImage(entry);
    if (window != nullptr) {
        entry.image = gdk_window_create_similar_image_surface(window, CAIRO_FORMAT_RGB24, width, height, 1);
        entry.imageForScreen = true;
    } else {
        entry.image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    }
    if (cairo_surface_status(entry.image) != CAIRO_STATUS_SUCCESS ||
        cairo_image_surface_get_format(entry.image) != CAIRO_FORMAT_RGB24)
        ReleaseCairoImage(entry);
    return entry.image;
}

void CopyPixels(cairo_surface_t* image, const PixelSurface& surface) {
    cairo_surface_flush(image);  // waits until the server has read what it was last given
    CopyScaled(cairo_image_surface_get_data(image), static_cast<size_t>(cairo_image_surface_get_stride(image)),
               surface, 1, 0);
    cairo_surface_mark_dirty(image);
}

// The area can be painted straight onto the screen when nothing of GTK's is drawn over it: a client that
// holds dialog controls is repainted through GTK, which draws the controls again on top.
bool PaintsAlone(const GtkWindowEntry& entry) {
    if (!gtk_widget_is_drawable(entry.area)) return false;
    GList* children = gtk_container_get_children(GTK_CONTAINER(entry.client));
    bool alone = children != nullptr && children->next == nullptr;
    g_list_free(children);
    return alone;
}

// Only an X server draws what is painted outside GTK's frames; a Wayland window shows a committed buffer.
bool PaintsOutsideFrames(const GtkWindowEntry& entry) {
#ifdef GDK_WINDOWING_X11
    return GDK_IS_X11_DISPLAY(gdk_window_get_display(gtk_widget_get_window(entry.area)));
#else
    return false;
#endif
}

void PaintOnScreen(GtkWindowEntry& entry) {
    GdkWindow* window = gtk_widget_get_window(entry.area);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    cairo_t* cairo = gdk_cairo_create(window);
    G_GNUC_END_IGNORE_DEPRECATIONS
    PaintImage(cairo, entry.image);
    cairo_destroy(cairo);
    gdk_display_flush(gdk_window_get_display(window));
}

// Has GTK redraw the area: on X11 now, with the whole top-level window, flushed to the server; elsewhere
// in GTK's next frame, which draws and commits just the area.
void RedrawThroughGtk(GtkWindowEntry& entry) {
    gtk_widget_queue_draw(entry.area);
    if (!gtk_widget_get_realized(entry.area) || !PaintsOutsideFrames(entry)) return;
    GtkWidget* toplevel = gtk_widget_get_toplevel(entry.area);
    GdkWindow* window = gtk_widget_get_mapped(toplevel) ? gtk_widget_get_window(toplevel) : nullptr;
    if (window == nullptr) return;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gdk_window_process_updates(window, TRUE);
    G_GNUC_END_IGNORE_DEPRECATIONS
    gdk_display_flush(gdk_window_get_display(window));
}

void OnUnmap(GtkWidget*, gpointer window) {
    GtkWindowEntry* entry = FindEntry(static_cast<HWND>(window));
    if (entry == nullptr) return;
    entry->drawnSinceMapped = false;
    HideWaylandImage(*entry);
}

}  // namespace

GdkWindow* NativeHolder(GdkWindow* window, int* x, int* y) {
    *x = *y = 0;
    while (window != nullptr && !gdk_window_has_native(window)) {
        int dx = 0, dy = 0;
        gdk_window_get_position(window, &dx, &dy);
        *x += dx;
        *y += dy;
        window = gdk_window_get_parent(window);
    }
    return window;
}

void CopyScaled(void* to, size_t stride, const PixelSurface& surface, int scale, uint32_t fill) {
    auto* rows = static_cast<unsigned char*>(to);
    for (int y = 0; y < surface.height; ++y) {
        auto* first = reinterpret_cast<uint32_t*>(rows + static_cast<size_t>(y) * scale * stride);
        const uint32_t* from = surface.Row(y);
        for (int x = 0; x < surface.width; ++x)
            for (int i = 0; i < scale; ++i) *first++ = from[x] | fill;
        const auto* row = rows + static_cast<size_t>(y) * scale * stride;
        for (int i = 1; i < scale; ++i)
            std::memcpy(rows + (static_cast<size_t>(y) * scale + i) * stride, row,
                        static_cast<size_t>(surface.width) * scale * sizeof(uint32_t));
    }
}

cairo_surface_t* ScaledPicture(void* pixels, int width, int height, size_t stride, int scale) {
    cairo_surface_t* picture = cairo_image_surface_create_for_data(
        static_cast<unsigned char*>(pixels), CAIRO_FORMAT_RGB24, width, height, static_cast<int>(stride));
    cairo_surface_set_device_scale(picture, scale, scale);
    return picture;
}

void CreateSurfaceArea(GtkWindowEntry& entry) {
    entry.area = gtk_drawing_area_new();
    g_signal_connect(entry.area, "draw", G_CALLBACK(OnDraw), entry.window);
    g_signal_connect(entry.area, "unmap", G_CALLBACK(OnUnmap), entry.window);
}

// Windows shows a blit to the window DC at once. GTK would wait for its next frame, which never comes while
// the program is busy outside the main loop, so the picture goes to the X server or the compositor here,
// and only where neither can take it is GTK's frame awaited.
void ShowSurface(GtkWindowEntry& entry, const PixelSurface& surface) {
    if (entry.area == nullptr) return;  // shown as a GTK control instead
    if (surface.width <= 0 || surface.height <= 0 || surface.bitsPerPixel != 32 ||
        surface.pixels.size() < static_cast<size_t>(surface.width) * static_cast<size_t>(surface.height)) {
        ReleaseSurface(entry);
        RedrawThroughGtk(entry);
        return;
    }
    const bool alone = PaintsAlone(entry);
    if (alone && (PutOnX11(entry, surface) || PutOnWayland(entry, surface))) {
        ReleaseCairoImage(entry);
        return;
    }
    ReleaseX11Image(entry);
    ReleaseWaylandImage(entry);
    cairo_surface_t* image = ImageFor(entry, surface.width, surface.height);
    if (image != nullptr) CopyPixels(image, surface);
    if (image != nullptr && alone && PaintsOutsideFrames(entry))
        PaintOnScreen(entry);
    else
        RedrawThroughGtk(entry);
}

void ReleaseSurface(GtkWindowEntry& entry) {
    ReleaseX11Image(entry);
    ReleaseWaylandImage(entry);
    ReleaseCairoImage(entry);
}

}  // namespace w32
