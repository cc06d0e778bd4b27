// Client surfaces put straight into their window on an X server from a shared-memory image (MIT-SHM): one
// small request a picture, nothing copied through the connection, no cairo or GDK drawing in between.
// [x] X11 present: the image put into the window with MIT-SHM, on a connection of its own
// [x] scaled windows (GDK_SCALE): an image N times the surface's size, each pixel an N x N block
// [ ] servers without MIT-SHM or in another IPC namespace, visuals other than 24-bit TrueColor in 32-bit
//     words: gtk_surface.cpp paints those through cairo   [ ] Wayland: gtk_wayland_image.cpp
#include "gtk/gtk_desktop.h"
#include "gtk/gtk_state.h"

#include <vector>

#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#endif

namespace w32 {

#ifdef GDK_WINDOWING_X11

// One window's picture in a segment the server reads, and what it takes to put it there.
struct X11ScreenImage {
    Display* display = nullptr;
    Window target = 0;  // the native window holding the client area
    GC gc = nullptr;
    XImage* image = nullptr;  // the window's pixels: the surface's, `scale` times as wide and high
    int scale = 1;
    XShmSegmentInfo segment{};
    unsigned long lastPut = 0;  // the request that last read the segment; 0 before the first
};

namespace {

bool allowed = true;
bool refused = false;  // the server would not attach a segment: not asked again in this run

// Puts go on a connection of their own, which no main loop watches: the completion event each put asks for
// waits there until the next picture reads it, where on GDK's connection it would wake the window's thread
// once more a picture. Errors on it (a put racing a window's destruction) reach GDK's handler, which
// ignores displays it did not open. Opened once, on the first window put; null if it cannot be (cairo then).
Display* putConnection = nullptr;
Display* PutConnection(GdkDisplay* gdkDisplay) {
    static Display* const own = XOpenDisplay(DisplayString(gdk_x11_display_get_xdisplay(gdkDisplay)));
    putConnection = own;
    return own;
}

int attachError = 0;
int NoteAttachError(Display*, XErrorEvent* error) {
    attachError = error->error_code;
    return 0;
}

// A server that cannot reach the segment (another machine, another IPC namespace) answers with an error,
// which GDK's handler would drop unseen, leaving every later put blank. The handler is the process's,
// swapped only for this round trip on the window's thread, the one thread using Xlib.
bool Attach(Display* display, XShmSegmentInfo* segment) {
    XSync(display, False);
    attachError = 0;
    XErrorHandler previous = XSetErrorHandler(NoteAttachError);
    XShmAttach(display, segment);
    XSync(display, False);
    XSetErrorHandler(previous);
    return attachError == 0;
}

// Surface words are 0x00RRGGBB in native byte order: the server must keep pixels the same way.
bool TakesSurfaceWords(GdkVisual* visual) {
    Visual* x11 = gdk_x11_visual_get_xvisual(visual);
    return gdk_visual_get_depth(visual) == 24 && x11->c_class == TrueColor && x11->red_mask == 0xFF0000 &&
           x11->green_mask == 0x00FF00 && x11->blue_mask == 0x0000FF;
}

void Destroy(X11ScreenImage* made) {
    if (made->segment.shmaddr != nullptr) {
        if (made->segment.shmseg != 0) XShmDetach(made->display, &made->segment);
        shmdt(made->segment.shmaddr);
    }
    if (made->image != nullptr) {
        made->image->data = nullptr;  // the segment, not Xlib's to free
        XDestroyImage(made->image);
    }
    if (made->gc != nullptr) XFreeGC(made->display, made->gc);
    XFlush(made->display);
    delete made;
}

// Null when the server has no MIT-SHM, keeps pixels otherwise than our words, or cannot attach the segment.
X11ScreenImage* Make(GdkDisplay* gdkDisplay, GdkWindow* native, int width, int height, int scale) {
    Display* display = PutConnection(gdkDisplay);
    if (display == nullptr || !XShmQueryExtension(display)) return nullptr;
    auto* made = new X11ScreenImage;
    made->display = display;
    made->scale = scale;
    width *= scale;
    height *= scale;
    made->target = gdk_x11_window_get_xid(native);
    made->image = XShmCreateImage(display, gdk_x11_visual_get_xvisual(gdk_window_get_visual(native)), 24, ZPixmap,
                                  nullptr, &made->segment, static_cast<unsigned>(width), static_cast<unsigned>(height));
    const int nativeOrder = G_BYTE_ORDER == G_LITTLE_ENDIAN ? LSBFirst : MSBFirst;
    if (made->image == nullptr || made->image->bits_per_pixel != 32 || made->image->byte_order != nativeOrder ||
        made->image->bytes_per_line != width * 4) {
        Destroy(made);
        return nullptr;
    }
    int id = shmget(IPC_PRIVATE, static_cast<size_t>(made->image->bytes_per_line) * static_cast<size_t>(height),
                    IPC_CREAT | 0600);
    if (id < 0) {
        Destroy(made);
        return nullptr;
    }
    made->segment.shmid = id;
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        Destroy(made);
        return nullptr;
    }
    made->segment.shmaddr = made->image->data = static_cast<char*>(address);
    made->segment.readOnly = True;
    const bool attached = Attach(display, &made->segment);
    shmctl(id, IPC_RMID, nullptr);  // freed once both sides have let go of it, even if we crash
    if (!attached) {
        made->segment.shmseg = 0;
        Destroy(made);
        return nullptr;
    }
    made->gc = XCreateGC(display, made->target, 0, nullptr);
    return made;
}

// The server reads the segment while it carries out a put, so a new picture may go in only once the last
// put is known to be done. Each put asks for the MIT-SHM completion event, long there by the next picture:
// reading it (and dropping it, nobody else wants it) tells Xlib that the put was carried out. Only without
// it is there a round trip.
void WaitUntilRead(X11ScreenImage& made) {
    if (made.lastPut == 0) return;
    XEventsQueued(made.display, QueuedAfterReading);
    if (static_cast<long>(LastKnownRequestProcessed(made.display) - made.lastPut) < 0) XSync(made.display, False);
    XEvent dropped;
    while (XQLength(made.display) > 0) XNextEvent(made.display, &dropped);
}

// GDK's region is in the window's units: a scaled window's pixels are `scale` times as many.
void ClipToVisible(X11ScreenImage& made, GdkWindow* area, int x, int y) {
    const int scale = made.scale;
    cairo_region_t* visible = gdk_window_get_visible_region(area);
    const int count = cairo_region_num_rectangles(visible);
    std::vector<XRectangle> rectangles(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        cairo_rectangle_int_t box;
        cairo_region_get_rectangle(visible, i, &box);
        rectangles[static_cast<size_t>(i)] = {static_cast<short>(box.x * scale), static_cast<short>(box.y * scale),
                                              static_cast<unsigned short>(box.width * scale),
                                              static_cast<unsigned short>(box.height * scale)};
    }
    cairo_region_destroy(visible);
    XSetClipRectangles(made.display, made.gc, x * scale, y * scale, rectangles.data(), count, YXBanded);
}

}  // namespace

bool PutOnX11(GtkWindowEntry& entry, const PixelSurface& surface) {
    if (!allowed || refused) return false;
    GdkWindow* area = gtk_widget_get_window(entry.area);
    GdkDisplay* gdkDisplay = area != nullptr ? gdk_window_get_display(area) : nullptr;
    if (gdkDisplay == nullptr || !GDK_IS_X11_DISPLAY(gdkDisplay)) return false;
    int x = 0, y = 0;
    GdkWindow* native = NativeHolder(area, &x, &y);
    if (native == nullptr || !TakesSurfaceWords(gdk_window_get_visual(native))) return false;
    const int scale = gdk_window_get_scale_factor(native);

    X11ScreenImage* made = entry.screenImage;
    if (made != nullptr && (made->scale != scale || made->image->width != surface.width * scale ||
                            made->image->height != surface.height * scale ||
                            made->target != gdk_x11_window_get_xid(native)))
        ReleaseX11Image(entry);
    if (entry.screenImage == nullptr) {
        entry.screenImage = Make(gdkDisplay, native, surface.width, surface.height, scale);
        if (entry.screenImage == nullptr) {
            refused = true;
            return false;
        }
    }
    made = entry.screenImage;
    WaitUntilRead(*made);
    CopyScaled(made->image->data, static_cast<size_t>(made->image->bytes_per_line), surface, scale, 0);
    ClipToVisible(*made, area, x, y);
    gdk_display_flush(gdkDisplay);  // what GDK asked of the window (a new size, a map) goes first
    made->lastPut = NextRequest(made->display);
    XShmPutImage(made->display, made->target, made->gc, made->image, 0, 0, x * scale, y * scale,
                 static_cast<unsigned>(made->image->width), static_cast<unsigned>(made->image->height), True);
    XFlush(made->display);
    return true;
}

cairo_surface_t* X11ImagePicture(const GtkWindowEntry& entry) {
    const X11ScreenImage* made = entry.screenImage;
    if (made == nullptr) return nullptr;
    return ScaledPicture(made->image->data, made->image->width, made->image->height,
                         static_cast<size_t>(made->image->bytes_per_line), made->scale);
}

void ReleaseX11Image(GtkWindowEntry& entry) {
    if (entry.screenImage == nullptr) return;
    Destroy(entry.screenImage);
    entry.screenImage = nullptr;
}

void UseX11SharedMemory(bool allow) { allowed = allow; }

void FinishX11Puts() {
    if (putConnection != nullptr) XSync(putConnection, False);
}

#else

bool PutOnX11(GtkWindowEntry&, const PixelSurface&) { return false; }
cairo_surface_t* X11ImagePicture(const GtkWindowEntry&) { return nullptr; }
void ReleaseX11Image(GtkWindowEntry&) {}
void UseX11SharedMemory(bool) {}
void FinishX11Puts() {}

#endif

}  // namespace w32
