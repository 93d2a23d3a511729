/* The floor to compare a running saver's steady cost with: a bare client
 * that maps a full-screen window and copies one 48 x 48 box from a pixmap to
 * it ten times a second, one request per tick, the box moving 8 pixels at a
 * time. Runs until killed. */
#include "footprint.h"

#include <X11/Xlib.h>

#include <time.h>

int main(void)
{
    unsigned w, h;
    Display *dpy = open_screen(&w, &h);
    const int s = DefaultScreen(dpy);
    XSetWindowAttributes a;
    a.background_pixel = BlackPixel(dpy, s);
    const Window win = screen_cover(dpy, CWBackPixel, &a);
    const Pixmap box = XCreatePixmap(dpy, win, 48, 48, DefaultDepth(dpy, s));
    XGCValues v;
    v.foreground = WhitePixel(dpy, s);
    v.graphics_exposures = False;
    const GC gc = XCreateGC(dpy, win, GCForeground | GCGraphicsExposures, &v);
    XFillRectangle(dpy, box, gc, 0, 0, 48, 48);
    XMapWindow(dpy, win);
    XFlush(dpy);
    struct timespec due;
    clock_gettime(CLOCK_MONOTONIC, &due);
    for (int x = 0;; x = (x + 8) % (int)(w - 48)) {
        XCopyArea(dpy, box, win, gc, 0, 0, 48, 48, x, (int)h / 2);
        XFlush(dpy);
        due.tv_nsec += 100000000L;
        if (due.tv_nsec >= 1000000000L) {
            due.tv_nsec -= 1000000000L;
            ++due.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, NULL);
    }
}
