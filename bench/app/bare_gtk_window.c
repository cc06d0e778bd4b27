/* The memory yardstick for the program: a bare GTK 3 window of the program's size with a drawing area,
 * shown and idle until killed. */
#include <gtk/gtk.h>

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "bare GTK 3 window");
    gtk_window_set_default_size(GTK_WINDOW(window), 232, 255);
    gtk_container_add(GTK_CONTAINER(window), gtk_drawing_area_new());
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
