// Client surfaces shown on a Wayland compositor through a subsurface of our own over the client area, fed
// from shared-memory buffers that we attach, damage and commit ourselves: the Wayland counterpart of
// gtk_x11_image.cpp, with no GTK frame or redraw of the window in between.
// [x] Wayland present: one commit a picture, at most one a frame at 60 Hz (by time: a frame callback would
//     wake the program once more a picture)
// [x] the last picture again after the window is hidden and shown (GTK gives it a new surface)
// [x] scaled outputs: a buffer of the window's scale, each pixel an N x N block (wl_surface_set_buffer_scale)
// [x] cropped to a client area smaller than the picture (wp_viewporter; without it, GTK's frames clip)
// [ ] compositors without wl_subcompositor: gtk_surface.cpp draws those through GTK
#include "gtk/gtk_desktop.h"
#include "gtk/gtk_state.h"

#include <algorithm>
#include <cstring>

#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include "viewporter-client-protocol.h"
#endif

namespace w32 {

#ifdef GDK_WINDOWING_WAYLAND

namespace {

// Pictures on their way: one on the screen, one waiting for its commit, one the compositor may still read;
// more only while the compositor holds on to them.
constexpr int kMaxBuffers = 4;
constexpr gint64 kFrameWait = 16667;  // microseconds: a frame at 60 Hz

struct ShmBuffer {
    wl_buffer* buffer = nullptr;
    uint32_t* pixels = nullptr;
    bool busy = false;  // attached, and not yet released by the compositor
};

}  // namespace

struct WaylandScreenImage {
    wl_display* display = nullptr;
    int width = 0, height = 0;  // the surface's, which is also the subsurface's size on the window
    int scale = 1;              // the buffers' pixels are `scale` times as many each way
    int fd = -1;  // the pool's memory, kMaxBuffers pictures long
    uint32_t* memory = nullptr;
    wl_shm_pool* pool = nullptr;
    ShmBuffer buffers[kMaxBuffers];
    int bufferCount = 0;
    ShmBuffer* latest = nullptr;   // holds the newest picture, committed or not
    ShmBuffer* pending = nullptr;  // written, to be committed a frame after the last commit

    wl_surface* parent = nullptr;  // GTK's surface we sit on; null while the window is hidden
    wl_surface* surface = nullptr;
    wl_subsurface* subsurface = nullptr;
    wp_viewport* viewport = nullptr;  // null without a viewporter
    int shownWidth = 0, shownHeight = 0;  // what the viewport lets show of the picture
    guint commitLater = 0;   // a GLib timeout committing `pending` a frame after the last commit
    gint64 committedAt = 0;  // g_get_monotonic_time() of the last commit
    int x = 0, y = 0;
};

namespace {

bool allowed = true;

// What GDK does not share: wl_shm, wl_subcompositor and wp_viewporter, bound once per display.
struct Globals {
    GdkDisplay* display = nullptr;
    wl_shm* shm = nullptr;
    wl_subcompositor* subcompositor = nullptr;
    wp_viewporter* viewporter = nullptr;
};
Globals globals;

void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto* found = static_cast<Globals*>(data);
    if (std::strcmp(interface, wl_shm_interface.name) == 0 && found->shm == nullptr)
        found->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    else if (std::strcmp(interface, wl_subcompositor_interface.name) == 0 && found->subcompositor == nullptr)
        found->subcompositor =
            static_cast<wl_subcompositor*>(wl_registry_bind(registry, name, &wl_subcompositor_interface, 1));
    else if (std::strcmp(interface, wp_viewporter_interface.name) == 0 && found->viewporter == nullptr)
        found->viewporter = static_cast<wp_viewporter*>(wl_registry_bind(registry, name, &wp_viewporter_interface, 1));
}
void OnGlobalRemoved(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistryListener = {.global = OnGlobal, .global_remove = OnGlobalRemoved};

// The registry is read on a queue of our own, so that the round trip runs none of GDK's handlers; what we
// bind then moves to the default queue, which GDK's main-loop source dispatches.
Globals* GlobalsFor(GdkDisplay* display) {
    if (globals.display == display) return &globals;
    globals = Globals{display};
    wl_display* wayland = gdk_wayland_display_get_wl_display(display);
    wl_event_queue* queue = wl_display_create_queue(wayland);
    auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(wayland));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), queue);
    wl_registry* registry = wl_display_get_registry(wrapper);
    wl_proxy_wrapper_destroy(wrapper);
    wl_registry_add_listener(registry, &kRegistryListener, &globals);
    wl_display_roundtrip_queue(wayland, queue);
    wl_registry_destroy(registry);
    for (wl_proxy* bound : {reinterpret_cast<wl_proxy*>(globals.shm), reinterpret_cast<wl_proxy*>(globals.subcompositor),
                            reinterpret_cast<wl_proxy*>(globals.viewporter)})
        if (bound != nullptr) wl_proxy_set_queue(bound, nullptr);
    wl_event_queue_destroy(queue);
    return &globals;
}

void OnReleased(void* data, wl_buffer*) { static_cast<ShmBuffer*>(data)->busy = false; }
const wl_buffer_listener kBufferListener = {.release = OnReleased};

void Commit(WaylandScreenImage& made, ShmBuffer* buffer) {
    wl_surface_attach(made.surface, buffer->buffer, 0, 0);
    wl_surface_damage(made.surface, 0, 0, made.width, made.height);
    wl_surface_commit(made.surface);
    made.committedAt = g_get_monotonic_time();
    buffer->busy = true;
    wl_display_flush(made.display);
}

gboolean OnCommitLater(gpointer data);

// Commits the waiting picture, or has a timeout do so a frame after the last commit: pictures closer than
// that (a burst of repaints) would only be drawn over before the compositor shows them.
void CommitWhenDue(WaylandScreenImage& made) {
    if (made.pending == nullptr || made.surface == nullptr || made.commitLater != 0) return;
    const gint64 wait = made.committedAt + kFrameWait - g_get_monotonic_time();
    if (wait > 0) {
        made.commitLater = g_timeout_add(static_cast<guint>((wait + 999) / 1000), OnCommitLater, &made);
        return;
    }
    ShmBuffer* waiting = made.pending;
    made.pending = nullptr;
    Commit(made, waiting);
}

gboolean OnCommitLater(gpointer data) {
    auto& made = *static_cast<WaylandScreenImage*>(data);
    made.commitLater = 0;
    CommitWhenDue(made);
    return G_SOURCE_REMOVE;
}

void DropSubsurface(WaylandScreenImage& made) {
    if (made.viewport != nullptr) wp_viewport_destroy(made.viewport);
    made.viewport = nullptr;
    if (made.subsurface != nullptr) wl_subsurface_destroy(made.subsurface);
    if (made.surface != nullptr) wl_surface_destroy(made.surface);
    made.subsurface = nullptr;
    made.surface = nullptr;
    made.parent = nullptr;
    // The compositor lets go of a destroyed surface's buffer: none is read from now on.
    for (ShmBuffer& buffer : made.buffers) buffer.busy = false;
}

size_t BufferBytes(const WaylandScreenImage& made) {
    return static_cast<size_t>(made.width) * made.height * made.scale * made.scale * 4;
}

void Destroy(WaylandScreenImage* made) {
    if (made->commitLater != 0) g_source_remove(made->commitLater);
    DropSubsurface(*made);
    for (ShmBuffer& buffer : made->buffers)
        if (buffer.buffer != nullptr) wl_buffer_destroy(buffer.buffer);
    if (made->pool != nullptr) wl_shm_pool_destroy(made->pool);
    if (made->memory != nullptr) munmap(made->memory, BufferBytes(*made) * kMaxBuffers);
    if (made->fd >= 0) close(made->fd);
    if (made->display != nullptr) wl_display_flush(made->display);
    delete made;
}

// Null when the memory cannot be had.
WaylandScreenImage* Make(GdkDisplay* display, const Globals& bound, int width, int height, int scale) {
    auto* made = new WaylandScreenImage;
    made->display = gdk_wayland_display_get_wl_display(display);
    made->width = width;
    made->height = height;
    made->scale = scale;
    const size_t size = BufferBytes(*made) * kMaxBuffers;
    made->fd = memfd_create("pelomi-client-area", MFD_CLOEXEC);
    if (made->fd < 0 || ftruncate(made->fd, static_cast<off_t>(size)) != 0) {
        Destroy(made);
        return nullptr;
    }
    void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, made->fd, 0);
    if (memory == MAP_FAILED) {
        Destroy(made);
        return nullptr;
    }
    made->memory = static_cast<uint32_t*>(memory);
    made->pool = wl_shm_create_pool(bound.shm, made->fd, static_cast<int32_t>(size));
    return made;
}

// Surface words are 0x00RRGGBB; the buffer's are ARGB8888 with an opaque alpha. Our choice: ARGB with no
// opaque region rather than XRGB, which weston's pixman renderer leaves off the screen on a subsurface.
constexpr uint32_t kOpaque = 0xFF000000u;

// A buffer the compositor does not read and that does not hold the newest picture; null when all are taken.
ShmBuffer* FreeBuffer(WaylandScreenImage& made) {
    if (made.pending != nullptr) return made.pending;  // never shown: overwritten by the newer picture
    for (int i = 0; i < made.bufferCount; ++i)
        if (!made.buffers[i].busy && &made.buffers[i] != made.latest) return &made.buffers[i];
    if (made.bufferCount == kMaxBuffers) return nullptr;
    ShmBuffer& added = made.buffers[made.bufferCount];
    const int32_t width = made.width * made.scale, height = made.height * made.scale;
    added.buffer = wl_shm_pool_create_buffer(made.pool, made.bufferCount * width * height * 4, width, height,
                                             width * 4, WL_SHM_FORMAT_ARGB8888);
    added.pixels = made.memory + static_cast<size_t>(made.bufferCount) * width * height;
    wl_buffer_add_listener(added.buffer, &kBufferListener, &added);
    ++made.bufferCount;
    return &added;
}

// Where the picture goes: GTK's surface under the area, the area's place on it, the window's scale, and
// how much of the picture the client area shows (all of it but while the window is being made smaller).
struct Spot {
    wl_surface* parent = nullptr;
    int x = 0, y = 0;
    int scale = 1;
    int shownWidth = 0, shownHeight = 0;
};

// The viewport shows the picture's top-left part the client area has room for; unset, the whole picture.
bool Crop(WaylandScreenImage& made, int width, int height) {
    if (made.viewport == nullptr || (made.shownWidth == width && made.shownHeight == height)) return false;
    const bool whole = width == made.width && height == made.height;
    wp_viewport_set_source(made.viewport, wl_fixed_from_int(whole ? -1 : 0), wl_fixed_from_int(whole ? -1 : 0),
                           wl_fixed_from_int(whole ? -1 : width), wl_fixed_from_int(whole ? -1 : height));
    wp_viewport_set_destination(made.viewport, whole ? -1 : width, whole ? -1 : height);
    made.shownWidth = width;
    made.shownHeight = height;
    return true;
}

// Puts the subsurface on GTK's current surface of the window at the area's place. A new subsurface and a new
// place take effect with a commit of GTK's surface: GTK's own when it is drawing, else ours at once (GTK
// leaves nothing pending between its frames, so that commit carries only our change).
void Place(WaylandScreenImage& made, const Spot& spot, bool gtkCommits) {
    bool changed = false;
    if (made.parent != spot.parent) {
        DropSubsurface(made);
        wl_compositor* compositor = gdk_wayland_display_get_wl_compositor(globals.display);
        made.surface = wl_compositor_create_surface(compositor);
        made.subsurface = wl_subcompositor_get_subsurface(globals.subcompositor, made.surface, spot.parent);
        wl_subsurface_set_desync(made.subsurface);
        wl_subsurface_place_above(made.subsurface, spot.parent);  // compositors differ on where a new one goes
        // Clicks go through to GTK's surface underneath, where the area takes them.
        wl_region* nothing = wl_compositor_create_region(compositor);
        wl_surface_set_input_region(made.surface, nothing);
        wl_region_destroy(nothing);
        wl_surface_set_buffer_scale(made.surface, made.scale);
        if (globals.viewporter != nullptr) made.viewport = wp_viewporter_get_viewport(globals.viewporter, made.surface);
        made.shownWidth = made.width;
        made.shownHeight = made.height;
        made.parent = spot.parent;
        made.x = made.y = -1;
        if (made.latest != nullptr && made.pending == nullptr) made.pending = made.latest;
        changed = true;
    }
    if (made.x != spot.x || made.y != spot.y) {
        wl_subsurface_set_position(made.subsurface, spot.x, spot.y);
        made.x = spot.x;
        made.y = spot.y;
        changed = true;
    }
    // A desynchronized subsurface takes its own state with its own commit, new picture or not.
    if (Crop(made, std::min(spot.shownWidth, made.width), std::min(spot.shownHeight, made.height)) &&
        made.pending == nullptr && made.latest != nullptr) {
        wl_surface_commit(made.surface);
        wl_display_flush(made.display);
    }
    CommitWhenDue(made);
    if (changed && !gtkCommits) {
        wl_surface_commit(spot.parent);
        wl_display_flush(made.display);
    }
}

// GTK's surface under the area and the rest of the spot; false when there is none to sit on yet. Only a
// surface GTK has drawn and committed since it was shown will do: before that, a commit of ours could
// come ahead of GTK's answer to the compositor's first configure, which the protocol forbids.
bool SpotOf(GtkWindowEntry& entry, Spot* spot) {
    GdkWindow* area = gtk_widget_get_window(entry.area);
    GdkWindow* native = area != nullptr ? NativeHolder(area, &spot->x, &spot->y) : nullptr;
    if (native == nullptr || !entry.drawnSinceMapped) return false;
    spot->parent = gdk_wayland_window_get_wl_surface(native);
    spot->scale = gdk_window_get_scale_factor(native);
    spot->shownWidth = gtk_widget_get_allocated_width(entry.client);
    spot->shownHeight = gtk_widget_get_allocated_height(entry.client);
    return spot->parent != nullptr;
}

// Without a viewporter the subsurface cannot be cropped: a client area smaller than the picture is drawn in
// GTK's frames, which clip it.
bool Fits(const WaylandScreenImage& made, const Spot& spot) {
    return made.scale == spot.scale &&
           (globals.viewporter != nullptr || (made.width <= spot.shownWidth && made.height <= spot.shownHeight));
}

}  // namespace

bool PutOnWayland(GtkWindowEntry& entry, const PixelSurface& surface) {
    if (!allowed) return false;
    GdkWindow* area = gtk_widget_get_window(entry.area);
    GdkDisplay* display = area != nullptr ? gdk_window_get_display(area) : nullptr;
    if (display == nullptr || !GDK_IS_WAYLAND_DISPLAY(display)) return false;
    const Globals* bound = GlobalsFor(display);
    if (bound->shm == nullptr || bound->subcompositor == nullptr) return false;
    Spot spot;
    if (!SpotOf(entry, &spot)) return false;

    WaylandScreenImage* made = entry.waylandImage;
    if (made != nullptr && (made->width != surface.width || made->height != surface.height || made->scale != spot.scale))
        ReleaseWaylandImage(entry);
    if (entry.waylandImage == nullptr)
        entry.waylandImage = Make(display, *bound, surface.width, surface.height, spot.scale);
    made = entry.waylandImage;
    if (made == nullptr || !Fits(*made, spot)) return false;
    wl_display_dispatch_pending(made->display);  // releases GDK has read already
    ShmBuffer* buffer = FreeBuffer(*made);
    if (buffer == nullptr) return false;
    CopyScaled(buffer->pixels, static_cast<size_t>(made->width) * made->scale * 4, surface, made->scale, kOpaque);
    made->latest = buffer;
    made->pending = buffer;
    Place(*made, spot, false);
    return true;
}

void PlaceWaylandImage(GtkWindowEntry& entry) {
    WaylandScreenImage* made = entry.waylandImage;
    if (made == nullptr) return;
    Spot spot;
    if (!SpotOf(entry, &spot)) return;
    // Moved to an output of another scale, or made smaller with no viewporter: GTK's frame shows it until
    // the next picture.
    if (Fits(*made, spot))
        Place(*made, spot, true);
    else
        DropSubsurface(*made);
}

void HideWaylandImage(GtkWindowEntry& entry) {
    if (entry.waylandImage != nullptr) DropSubsurface(*entry.waylandImage);
}

cairo_surface_t* WaylandImagePicture(const GtkWindowEntry& entry) {
    const WaylandScreenImage* made = entry.waylandImage;
    if (made == nullptr || made->latest == nullptr) return nullptr;
    return ScaledPicture(made->latest->pixels, made->width * made->scale, made->height * made->scale,
                         static_cast<size_t>(made->width) * made->scale * 4, made->scale);
}

void ReleaseWaylandImage(GtkWindowEntry& entry) {
    if (entry.waylandImage == nullptr) return;
    Destroy(entry.waylandImage);
    entry.waylandImage = nullptr;
}

void UseWaylandSubsurface(bool allow) { allowed = allow; }

#else

bool PutOnWayland(GtkWindowEntry&, const PixelSurface&) { return false; }
void PlaceWaylandImage(GtkWindowEntry&) {}
void HideWaylandImage(GtkWindowEntry&) {}
cairo_surface_t* WaylandImagePicture(const GtkWindowEntry&) { return nullptr; }
void ReleaseWaylandImage(GtkWindowEntry&) {}
void UseWaylandSubsurface(bool) {}

#endif

}  // namespace w32
