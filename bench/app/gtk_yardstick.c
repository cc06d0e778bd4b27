/* The yardstick the program is measured against: a plain GTK 3 program that records the default source
 * continuously (8-bit mono at 44100 Hz, as the program does) and, for each block of 1/12 s, draws the same
 * picture in a drawing area the size of the program's client area: a black canvas, the level bar in its box
 * and the sheet's cell for the level's step, drawn by GTK in its next frame as any GTK program would. Until
 * its first whole block it shows the window's background, as the program shows its own.
 *
 *   gtk_yardstick SHEET.bmp        (the window is titled "GTK yardstick"; it runs until closed or killed)
 */
#include <gtk/gtk.h>
#include <pulse/glib-mainloop.h>
#include <pulse/pulseaudio.h>

#define RATE 44100
#define BLOCK (RATE / 12)
#define WIDTH 216
#define HEIGHT 196

static const double kStepFractions[5] = {0.09, 0.18, 0.28, 0.43, 0.66};

static GtkWidget* area;
static GdkPixbuf* sheet;
static unsigned char block[BLOCK];
static size_t filled;
static int level, step;  /* of the last whole block */
static gboolean blockSeen;  /* until the first whole block, the window shows its background, as the program's */

static int StepFor(int of) {
    int result = 0;
    for (int i = 0; i < 5; i++)
        if (of > (int)(kStepFractions[i] * 255.0)) result = i + 1;
    return result;
}

static void BlockDone(void) {
    unsigned char peak = 0;
    for (size_t i = 0; i < BLOCK; i++)
        if (block[i] > peak) peak = block[i];
    level = peak < 128 ? 0 : peak - 128;
    step = StepFor(level);
    blockSeen = TRUE;
    gtk_widget_queue_draw(area);
}

static gboolean OnDraw(GtkWidget* widget, cairo_t* cairo, gpointer unused) {
    (void)widget;
    (void)unused;
    if (!blockSeen) return FALSE;
    cairo_set_source_rgb(cairo, 0, 0, 0);
    cairo_paint(cairo);
    cairo_set_source_rgb(cairo, 1, 1, 1);
    cairo_rectangle(cairo, 5, 5, level + 5, 21);
    cairo_fill(cairo);
    if (sheet != NULL) {
        int cell = gdk_pixbuf_get_width(sheet) / 5;
        cairo_rectangle(cairo, 0, 30, cell, cell);
        cairo_clip(cairo);
        gdk_cairo_set_source_pixbuf(cairo, sheet, -step * cell, 30);
        cairo_paint(cairo);
    }
    return TRUE;
}

/* Sound as it arrives, cut into blocks of 1/12 s with nothing left out between them. */
static void OnReadable(pa_stream* stream, size_t bytes, void* unused) {
    (void)bytes;
    (void)unused;
    const void* data;
    size_t length;
    while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &length) == 0) {
        if (length == 0) break;
        for (size_t i = 0; i < length; i++) {
            block[filled++] = data != NULL ? ((const unsigned char*)data)[i] : 128;
            if (filled == BLOCK) {
                BlockDone();
                filled = 0;
            }
        }
        pa_stream_drop(stream);
    }
}

static void OnContext(pa_context* context, void* unused) {
    (void)unused;
    if (pa_context_get_state(context) != PA_CONTEXT_READY) return;
    static const pa_sample_spec spec = {.format = PA_SAMPLE_U8, .rate = RATE, .channels = 1};
    pa_stream* stream = pa_stream_new(context, "yardstick", &spec, NULL);
    const pa_buffer_attr attributes = {.maxlength = (uint32_t)-1, .fragsize = RATE / 50};  /* 20 ms pieces */
    pa_stream_set_read_callback(stream, OnReadable, NULL);
    pa_stream_connect_record(stream, NULL, &attributes, PA_STREAM_ADJUST_LATENCY);
}

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    if (argc > 1) sheet = gdk_pixbuf_new_from_file(argv[1], NULL);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "GTK yardstick");
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    area = gtk_drawing_area_new();
    gtk_widget_set_size_request(area, WIDTH, HEIGHT);
    g_signal_connect(area, "draw", G_CALLBACK(OnDraw), NULL);
    gtk_container_add(GTK_CONTAINER(window), area);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
    gtk_widget_show_all(window);

    pa_glib_mainloop* loop = pa_glib_mainloop_new(NULL);
    pa_context* context = pa_context_new(pa_glib_mainloop_get_api(loop), "GTK yardstick");
    pa_context_set_state_callback(context, OnContext, NULL);
    pa_context_connect(context, NULL, PA_CONTEXT_NOFLAGS, NULL);
    gtk_main();
    return 0;
}
