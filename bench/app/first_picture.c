/* Launch to first picture: starts a command and prints the milliseconds from just before it starts until an
 * X window first shows a picture: the black canvas with the bar's box and the cell (before it, a window
 * shows only its background, GTK's menus and title bar, and weston its grey background).
 * The window is either the first top-level window the command maps (the program on an X server), or one
 * given (the output window of a weston nested in the X server, which shows a Wayland client's picture as
 * weston composes it). Every change the server reports (DAMAGE) is read back and looked at.
 *
 *   first_picture [--window ID] -- COMMAND...     (DISPLAY names the X server; prints -1 after 10 s)
 *
 * Leaves out visuals other than 24-bit TrueColor. The command gets TERM once the picture is seen.
 */
#include "x_damage.h"

#include <X11/Xutil.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

/* More black pixels than menu text or GTK's shadows ever hold, fewer than the canvas of the smallest
 * picture (a 216 x 196 client area at scale 1). */
#define BLACK_PATCH 4000

static int ErrorIgnored(Display* display, XErrorEvent* error) {
    (void)display;
    (void)error;
    return 0;  /* a window that went away between its report and our reading */
}

/* The picture: a black canvas with the bar's white box in it, whose top-left corner is a white pixel with
 * black to its left and above; a window just mapped is all black until GTK paints it, and nothing GTK or
 * weston draw around it is pure black. */
static int ShowsPicture(Display* display, Window window) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable) return 0;
    XImage* image = XGetImage(display, window, 0, 0, (unsigned)attributes.width, (unsigned)attributes.height,
                              AllPlanes, ZPixmap);
    if (image == NULL) return 0;
    long black = 0;
    int corner = 0;
    for (int y = 0; y < image->height; y++) {
        for (int x = 0; x < image->width; x++) {
            const unsigned long pixel = XGetPixel(image, x, y) & 0xFFFFFF;
            if (pixel == 0) black++;
            if (pixel == 0xFFFFFF && x > 0 && y > 0 && !corner)
                corner = (XGetPixel(image, x - 1, y) & 0xFFFFFF) == 0 && (XGetPixel(image, x, y - 1) & 0xFFFFFF) == 0 &&
                         (XGetPixel(image, x - 1, y - 1) & 0xFFFFFF) == 0;
        }
    }
    XDestroyImage(image);
    return black >= BLACK_PATCH && corner;
}

int main(int argc, char** argv) {
    Window watched = None;
    int first = 1;
    if (argc > 2 && strcmp(argv[1], "--window") == 0) {
        watched = (Window)strtoul(argv[2], NULL, 0);
        first = 3;
    }
    if (first >= argc || strcmp(argv[first], "--") != 0 || first + 1 >= argc) {
        fprintf(stderr, "usage: first_picture [--window ID] -- COMMAND...\n");
        return 2;
    }
    int eventBase = 0;
    Display* display = OpenDamageDisplay("first_picture", &eventBase);
    if (display == NULL) return 2;
    XSetErrorHandler(ErrorIgnored);
    if (watched != None) {
        /* The last command's window may still be on weston's screen: the clock starts once it is gone. */
        Damage damage = XDamageCreate(display, watched, XDamageReportNonEmpty);
        for (int i = 0; i < 500 && ShowsPicture(display, watched); i++) usleep(10000);
        XDamageSubtract(display, damage, None, None);
    } else {
        XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    }
    XSync(display, False);
    while (XPending(display)) {
        XEvent event;
        XNextEvent(display, &event);
    }

    const double start = Now();
    pid_t child = fork();
    if (child == 0) {
        execvp(argv[first + 1], argv + first + 1);
        _exit(127);
    }
    double seen = -1;
    for (double left = 10; left > 0 && seen < 0; left = start + 10 - Now()) {
        while (XPending(display) && seen < 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && watched == None) {
                watched = event.xmap.window;
                XDamageCreate(display, watched, XDamageReportNonEmpty);
            } else if (event.type == eventBase + XDamageNotify) {
                XDamageNotifyEvent* damage = (XDamageNotifyEvent*)&event;
                XDamageSubtract(display, damage->damage, None, None);
                if (ShowsPicture(display, damage->drawable)) seen = Now();
            }
        }
        if (seen >= 0) break;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(ConnectionNumber(display), &readable);
        struct timeval wait = {(time_t)left, (suseconds_t)((left - (time_t)left) * 1e6)};
        select(ConnectionNumber(display) + 1, &readable, NULL, NULL, &wait);
    }
    printf("%.0f\n", seen < 0 ? -1.0 : (seen - start) * 1000);
    kill(child, SIGTERM);
    waitpid(child, NULL, 0);
    XCloseDisplay(display);
    return 0;
}
