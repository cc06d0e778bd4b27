// Icons on the screen, for the GTK display: HICON images as GdkPixbufs.
// [x] a window class's icon and small icon as the window's icon list
// [ ] WM_SETICON (the program never sends it)   [ ] cursors (GTK's default arrow is IDC_ARROW)
#include "gtk/gtk_state.h"
#include "resources/icon_object.h"
#include "user/window_object.h"

namespace w32 {
namespace {

constexpr int kLargeIconSize = 32;  // SM_CXICON
constexpr int kSmallIconSize = 16;  // SM_CXSMICON

GdkPixbuf* PixbufFromImage(const IconImage& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() < static_cast<size_t>(image.width) * static_cast<size_t>(image.height))
        return nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, image.width, image.height);
    if (pixbuf == nullptr) return nullptr;
    guchar* rows = gdk_pixbuf_get_pixels(pixbuf);
    int stride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < image.height; ++y) {
        guchar* out = rows + static_cast<size_t>(y) * static_cast<size_t>(stride);
        const uint32_t* in = image.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(image.width);
        for (int x = 0; x < image.width; ++x) {
            uint32_t argb = in[x];
            *out++ = static_cast<guchar>(argb >> 16);
            *out++ = static_cast<guchar>(argb >> 8);
            *out++ = static_cast<guchar>(argb);
            *out++ = static_cast<guchar>(argb >> 24);
        }
    }
    return pixbuf;
}

}  // namespace

GdkPixbuf* IconPixbuf(HICON icon, int size) {
    IconImage image;
    if (icon == nullptr || !GetIconImage(icon, size, &image)) return nullptr;
    GdkPixbuf* pixbuf = PixbufFromImage(image);
    if (pixbuf == nullptr || (image.width == size && image.height == size)) return pixbuf;
    GdkPixbuf* scaled = gdk_pixbuf_scale_simple(pixbuf, size, size, GDK_INTERP_BILINEAR);
    g_object_unref(pixbuf);
    return scaled;
}

void ApplyWindowIcons(GtkWindowEntry& entry) {
    WindowObject* object = PeekWindowObject(entry.window);
    if (object == nullptr || entry.toplevel == nullptr) return;
    HICON large = object->windowClass->icon;
    // Windows shrinks the large icon for the caption when the class has no small one.
    HICON small = object->windowClass->smallIcon != nullptr ? object->windowClass->smallIcon : large;
    GList* icons = nullptr;
    if (GdkPixbuf* pixbuf = IconPixbuf(large, kLargeIconSize)) icons = g_list_append(icons, pixbuf);
    if (GdkPixbuf* pixbuf = IconPixbuf(small, kSmallIconSize)) icons = g_list_append(icons, pixbuf);
    if (icons == nullptr) return;
    gtk_window_set_icon_list(GTK_WINDOW(entry.toplevel), icons);
    GtkBackendState& backend = GtkState();
    if (!backend.defaultIconsSet) {
        gtk_window_set_default_icon_list(icons);
        backend.defaultIconsSet = true;
    }
    g_list_free_full(icons, g_object_unref);
}

}  // namespace w32
