/* The floor to compare a saver's start-up with: grab the root with one
 * XGetImage, map a full-screen window and show the picture on it. */
#include "footprint.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <stdio.h>

int main(void)
{
    unsigned w, h;
    Display *dpy = open_screen(&w, &h);
    XImage *image = XGetImage(dpy, DefaultRootWindow(dpy), 0, 0, w, h, AllPlanes, ZPixmap);
    if (image == NULL)
        return 1;
    XSetWindowAttributes a;
    a.event_mask = ExposureMask;
    const Window win = screen_cover(dpy, CWEventMask, &a);
    const GC gc = XCreateGC(dpy, win, 0, NULL);
    XMapWindow(dpy, win);
    for (;;) {
        XEvent e;
        XNextEvent(dpy, &e);
        if (e.type == Expose && e.xexpose.count == 0)
            XPutImage(dpy, win, gc, image, 0, 0, 0, 0, w, h);
    }
}
