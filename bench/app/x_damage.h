/* What the bench's X11 helpers share: a monotonic clock, and the display with its DAMAGE extension. */
#ifndef PELOMI_BENCH_X_DAMAGE_H
#define PELOMI_BENCH_X_DAMAGE_H

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <stdio.h>
#include <time.h>

static double Now(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

/* DISPLAY's server, or null (said on stderr, in `tool`'s name) when there is none with DAMAGE. */
static Display* OpenDamageDisplay(const char* tool, int* eventBase) {
    Display* display = XOpenDisplay(NULL);
    int errorBase = 0;
    if (display == NULL || !XDamageQueryExtension(display, eventBase, &errorBase)) {
        fprintf(stderr, "%s: no display with the DAMAGE extension\n", tool);
        return NULL;
    }
    return display;
}

#endif
