// Client surfaces shown on a Wayland compositor through a subsurface of our own over the client area, fed
// from shared-memory buffers that we attach, damage and commit ourselves: the Wayland counterpart of
// gtk_x11_image.cpp, with no GTK frame or redraw of the window in between.
// [x] Wayland present: one commit a picture, throttled by the subsurface's own frame callbacks
// [x] the last picture again after the window is hidden and shown (GTK gives it a new surface)
// [ ] scaled outputs, and compositors without wl_subcompositor: gtk_surface.cpp draws those through GTK
// [ ] cropping the subsurface to a client area smaller than the picture
#include "gtk/gtk_desktop.h"
#include "gtk/gtk_state.h"

#include <cstring>

#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#endif

namespace w32 {

#ifdef GDK_WINDOWING_WAYLAND

namespace {

// Pictures on their way: one on the screen, one waiting for the compositor's next frame, one it may still
// read; more only while the compositor holds on to them.
constexpr int kMaxBuffers = 4;
constexpr gint64 kFrameWait = 34000;  // microseconds

struct ShmBuffer {
    wl_buffer* buffer = nullptr;
    uint32_t* pixels = nullptr;
    bool busy = false;  // attached, and not yet released by the compositor
};

}  // namespace

struct WaylandScreenImage {
    wl_display* display = nullptr;
    int width = 0, height = 0;
    int fd = -1;  // the pool's memory, kMaxBuffers pictures long
    uint32_t* memory = nullptr;
    wl_shm_pool* pool = nullptr;
    ShmBuffer buffers[kMaxBuffers];
    int bufferCount = 0;
    ShmBuffer* latest = nullptr;   // holds the newest picture, committed or not
    ShmBuffer* pending = nullptr;  // written, to be committed when the frame callback comes

    wl_surface* parent = nullptr;  // GTK's surface we sit on; null while the window is hidden
    wl_surface* surface = nullptr;
    wl_subsurface* subsurface = nullptr;
    wl_callback* frame = nullptr;
    gint64 committedAt = 0;  // g_get_monotonic_time() of the last commit
    int x = 0, y = 0;
};

namespace {

bool allowed = true;

// What GDK does not share: wl_shm and wl_subcompositor, bound once per display.
struct Globals {
    GdkDisplay* display = nullptr;
    wl_shm* shm = nullptr;
    wl_subcompositor* subcompositor = nullptr;
};
Globals globals;

void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto* found = static_cast<Globals*>(data);
    if (std::strcmp(interface, wl_shm_interface.name) == 0 && found->shm == nullptr)
        found->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    else if (std::strcmp(interface, wl_subcompositor_interface.name) == 0 && found->subcompositor == nullptr)
        found->subcompositor =
            static_cast<wl_subcompositor*>(wl_registry_bind(registry, name, &wl_subcompositor_interface, 1));
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
    for (wl_proxy* bound : {reinterpret_cast<wl_proxy*>(globals.shm), reinterpret_cast<wl_proxy*>(globals.subcompositor)})
        if (bound != nullptr) wl_proxy_set_queue(bound, nullptr);
    wl_event_queue_destroy(queue);
    return &globals;
}

void OnReleased(void* data, wl_buffer*) { static_cast<ShmBuffer*>(data)->busy = false; }
const wl_buffer_listener kBufferListener = {.release = OnReleased};

void CommitWhenDue(WaylandScreenImage& made);

void OnFrameDone(void* data, wl_callback* callback, uint32_t) {
    auto& made = *static_cast<WaylandScreenImage*>(data);
    wl_callback_destroy(callback);
    made.frame = nullptr;
    CommitWhenDue(made);
}
const wl_callback_listener kFrameListener = {.done = OnFrameDone};

void Commit(WaylandScreenImage& made, ShmBuffer* buffer) {
    wl_surface_attach(made.surface, buffer->buffer, 0, 0);
    wl_surface_damage(made.surface, 0, 0, made.width, made.height);
    made.frame = wl_surface_frame(made.surface);
    wl_callback_add_listener(made.frame, &kFrameListener, &made);
    wl_surface_commit(made.surface);
    made.committedAt = g_get_monotonic_time();
    buffer->busy = true;
    wl_display_flush(made.display);
}

// Commits the picture waiting for the compositor's frame callback. A callback that has not come within two
// frames at 60 Hz is not awaited: the compositor is not drawing us, or its answer waits unread in the
// connection while the program keeps GTK's main loop from running (we never read the connection ourselves:
// GDK's event source may be half-way through a read of its own).
void CommitWhenDue(WaylandScreenImage& made) {
    if (made.pending == nullptr || made.surface == nullptr) return;
    if (made.frame != nullptr) {
        if (g_get_monotonic_time() - made.committedAt < kFrameWait) return;
        wl_callback_destroy(made.frame);
        made.frame = nullptr;
    }
    ShmBuffer* waiting = made.pending;
    made.pending = nullptr;
    Commit(made, waiting);
}

void DropSubsurface(WaylandScreenImage& made) {
    if (made.frame != nullptr) wl_callback_destroy(made.frame);
    if (made.subsurface != nullptr) wl_subsurface_destroy(made.subsurface);
    if (made.surface != nullptr) wl_surface_destroy(made.surface);
    made.frame = nullptr;
    made.subsurface = nullptr;
    made.surface = nullptr;
    made.parent = nullptr;
    // The compositor lets go of a destroyed surface's buffer: none is read from now on.
    for (ShmBuffer& buffer : made.buffers) buffer.busy = false;
}

void Destroy(WaylandScreenImage* made) {
    DropSubsurface(*made);
    for (ShmBuffer& buffer : made->buffers)
        if (buffer.buffer != nullptr) wl_buffer_destroy(buffer.buffer);
    if (made->pool != nullptr) wl_shm_pool_destroy(made->pool);
    if (made->memory != nullptr)
        munmap(made->memory, static_cast<size_t>(made->width) * made->height * 4 * kMaxBuffers);
    if (made->fd >= 0) close(made->fd);
    if (made->display != nullptr) wl_display_flush(made->display);
    delete made;
}

// Null when the memory cannot be had.
WaylandScreenImage* Make(GdkDisplay* display, const Globals& bound, int width, int height) {
    auto* made = new WaylandScreenImage;
    made->display = gdk_wayland_display_get_wl_display(display);
    made->width = width;
    made->height = height;
    const size_t size = static_cast<size_t>(width) * height * 4 * kMaxBuffers;
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
void CopyOpaque(uint32_t* to, const PixelSurface& surface) {
    const size_t count = static_cast<size_t>(surface.width) * static_cast<size_t>(surface.height);
    const uint32_t* from = surface.pixels.data();
    for (size_t i = 0; i < count; ++i) to[i] = from[i] | 0xFF000000u;
}

// A buffer the compositor does not read and that does not hold the newest picture; null when all are taken.
ShmBuffer* FreeBuffer(WaylandScreenImage& made) {
    if (made.pending != nullptr) return made.pending;  // never shown: overwritten by the newer picture
    for (int i = 0; i < made.bufferCount; ++i)
        if (!made.buffers[i].busy && &made.buffers[i] != made.latest) return &made.buffers[i];
    if (made.bufferCount == kMaxBuffers) return nullptr;
    ShmBuffer& added = made.buffers[made.bufferCount];
    const int32_t stride = made.width * 4;
    added.buffer = wl_shm_pool_create_buffer(made.pool, made.bufferCount * stride * made.height, made.width,
                                             made.height, stride, WL_SHM_FORMAT_ARGB8888);
    added.pixels = made.memory + static_cast<size_t>(made.bufferCount) * made.width * made.height;
    wl_buffer_add_listener(added.buffer, &kBufferListener, &added);
    ++made.bufferCount;
    return &added;
}

// Puts the subsurface on GTK's current surface of the window at the area's place. A new subsurface and a new
// place take effect with a commit of GTK's surface: GTK's own when it is drawing, else ours at once (GTK
// leaves nothing pending between its frames, so that commit carries only our change).
void Place(WaylandScreenImage& made, wl_surface* parent, int x, int y, bool gtkCommits) {
    bool changed = false;
    if (made.parent != parent) {
        DropSubsurface(made);
        wl_compositor* compositor = gdk_wayland_display_get_wl_compositor(globals.display);
        made.surface = wl_compositor_create_surface(compositor);
        made.subsurface = wl_subcompositor_get_subsurface(globals.subcompositor, made.surface, parent);
        wl_subsurface_set_desync(made.subsurface);
        wl_subsurface_place_above(made.subsurface, parent);  // compositors differ on where a new one goes
        // Clicks go through to GTK's surface underneath, where the area takes them.
        wl_region* nothing = wl_compositor_create_region(compositor);
        wl_surface_set_input_region(made.surface, nothing);
        wl_region_destroy(nothing);
        made.parent = parent;
        made.x = made.y = -1;
        if (made.latest != nullptr && made.pending == nullptr) made.pending = made.latest;
        changed = true;
    }
    if (made.x != x || made.y != y) {
        wl_subsurface_set_position(made.subsurface, x, y);
        made.x = x;
        made.y = y;
        changed = true;
    }
    CommitWhenDue(made);
    if (changed && !gtkCommits) {
        wl_surface_commit(parent);
        wl_display_flush(made.display);
    }
}

// GTK's surface under the area and the area's place on it; null when there is none to sit on yet. Only a
// surface GTK has drawn and committed since it was shown will do: before that, a commit of ours could
// come ahead of GTK's answer to the compositor's first configure, which the protocol forbids.
wl_surface* ParentOf(GtkWindowEntry& entry, int* x, int* y) {
    GdkWindow* area = gtk_widget_get_window(entry.area);
    GdkWindow* native = area != nullptr ? NativeHolder(area, x, y) : nullptr;
    if (native == nullptr || gdk_window_get_scale_factor(native) != 1 || !entry.drawnSinceMapped) return nullptr;
    return gdk_wayland_window_get_wl_surface(native);
}

}  // namespace

bool PutOnWayland(GtkWindowEntry& entry, const PixelSurface& surface) {
    if (!allowed) return false;
    GdkWindow* area = gtk_widget_get_window(entry.area);
    GdkDisplay* display = area != nullptr ? gdk_window_get_display(area) : nullptr;
    if (display == nullptr || !GDK_IS_WAYLAND_DISPLAY(display)) return false;
    const Globals* bound = GlobalsFor(display);
    if (bound->shm == nullptr || bound->subcompositor == nullptr) return false;
    int x = 0, y = 0;
    wl_surface* parent = ParentOf(entry, &x, &y);
    if (parent == nullptr) return false;

    WaylandScreenImage* made = entry.waylandImage;
    if (made != nullptr && (made->width != surface.width || made->height != surface.height))
        ReleaseWaylandImage(entry);
    if (entry.waylandImage == nullptr) entry.waylandImage = Make(display, *bound, surface.width, surface.height);
    made = entry.waylandImage;
    if (made == nullptr) return false;
    wl_display_dispatch_pending(made->display);  // frame callbacks and releases GDK has read already
    ShmBuffer* buffer = FreeBuffer(*made);
    if (buffer == nullptr) return false;
    CopyOpaque(buffer->pixels, surface);
    made->latest = buffer;
    made->pending = buffer;
    Place(*made, parent, x, y, false);
    return true;
}

void PlaceWaylandImage(GtkWindowEntry& entry) {
    WaylandScreenImage* made = entry.waylandImage;
    if (made == nullptr) return;
    int x = 0, y = 0;
    if (wl_surface* parent = ParentOf(entry, &x, &y)) Place(*made, parent, x, y, true);
}

void HideWaylandImage(GtkWindowEntry& entry) {
    if (entry.waylandImage != nullptr) DropSubsurface(*entry.waylandImage);
}

cairo_surface_t* WaylandImagePicture(const GtkWindowEntry& entry) {
    const WaylandScreenImage* made = entry.waylandImage;
    if (made == nullptr || made->latest == nullptr) return nullptr;
    return cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(made->latest->pixels),
                                               CAIRO_FORMAT_RGB24, made->width, made->height, made->width * 4);
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
