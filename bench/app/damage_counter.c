/* Counts how often an X window's contents change (XDamage reports) over some seconds and prints the
 * count. Leaves out what changed: every report counts as one update. */
#include "x_damage.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/select.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: damage_counter WINDOW_ID SECONDS\n");
        return 2;
    }
    int eventBase = 0;
    Display* display = OpenDamageDisplay("damage_counter", &eventBase);
    if (display == NULL) return 2;
    Window window = (Window)strtoul(argv[1], NULL, 0);
    double seconds = atof(argv[2]);
    /* Non-empty reports, each answered by emptying the damage again: one report per update. */
    Damage damage = XDamageCreate(display, window, XDamageReportNonEmpty);
    XSync(display, False);
    long updates = 0;
    double end = Now() + seconds;
    for (double left = seconds; left > 0; left = end - Now()) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == eventBase + XDamageNotify) {
                updates++;
                XDamageSubtract(display, damage, None, None);
            }
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(ConnectionNumber(display), &readable);
        struct timeval wait = {(time_t)left, (suseconds_t)((left - (time_t)left) * 1e6)};
        select(ConnectionNumber(display) + 1, &readable, NULL, NULL, &wait);
    }
    printf("%ld\n", updates);
    XDamageDestroy(display, damage);
    XCloseDisplay(display);
    return 0;
}
