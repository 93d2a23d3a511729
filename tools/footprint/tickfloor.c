/* The floors to compare a running saver's steady cost with. A bare client
 * maps a full-screen window and, ten times a second:
 *   tickfloor            copies one 48 x 48 box from a pixmap to it, one
 *                        request a tick, the box moving 8 pixels at a time;
 *   tickfloor --figures  draws what the saver draws for five walking figures
 *                        of 85 x 75, as the saver draws it: into a
 *                        screen-sized pixmap (the window's background), for
 *                        each figure its silhouette at its old place and its
 *                        picture 8 pixels on, each through an elliptic mask
 *                        whose clip origin moves, then one copy of the old
 *                        and new place to the window; 25 requests a tick.
 * The first is what waking and one request cost; the second what the
 * figures' pixels cost the server with nothing else around them. Runs until
 * killed. */
#include "footprint.h"

#include <X11/Xlib.h>

#include <string.h>
#include <time.h>

enum { figures = 5, figureWidth = 85, figureHeight = 75, step = 8 };

struct figure {
    GC silhouette, picture;
    Pixmap silhouettePixmap, picturePixmap;
    int x, y;
};

static void next_tick(struct timespec *due)
{
    due->tv_nsec += 100000000L;
    if (due->tv_nsec >= 1000000000L) {
        due->tv_nsec -= 1000000000L;
        ++due->tv_sec;
    }
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, due, NULL);
}

static GC masked(Display *dpy, Drawable target, Pixmap mask)
{
    XGCValues v;
    v.graphics_exposures = False;
    v.clip_mask = mask;
    return XCreateGC(dpy, target, GCGraphicsExposures | GCClipMask, &v);
}

int main(int argc, char **argv)
{
    const int asFigures = argc > 1 && strcmp(argv[1], "--figures") == 0;
    unsigned w, h;
    Display *dpy = open_screen(&w, &h);
    const int s = DefaultScreen(dpy);
    const unsigned depth = (unsigned)DefaultDepth(dpy, s);
    XSetWindowAttributes a;
    a.background_pixel = BlackPixel(dpy, s);
    const Window win = screen_cover(dpy, CWBackPixel, &a);
    XGCValues v;
    v.foreground = WhitePixel(dpy, s);
    v.graphics_exposures = False;
    const GC gc = XCreateGC(dpy, win, GCForeground | GCGraphicsExposures, &v);
    struct timespec due;
    clock_gettime(CLOCK_MONOTONIC, &due);
    if (!asFigures) {
        const Pixmap box = XCreatePixmap(dpy, win, 48, 48, depth);
        XFillRectangle(dpy, box, gc, 0, 0, 48, 48);
        XMapWindow(dpy, win);
        XFlush(dpy);
        for (int x = 0;; x = (x + 8) % (int)(w - 48)) {
            XCopyArea(dpy, box, win, gc, 0, 0, 48, 48, x, (int)h / 2);
            XFlush(dpy);
            next_tick(&due);
        }
    }

    const Pixmap canvas = XCreatePixmap(dpy, win, w, h, depth);
    XSetForeground(dpy, gc, 0x3060a0);
    XFillRectangle(dpy, canvas, gc, 0, 0, w, h);
    XSetWindowBackgroundPixmap(dpy, win, canvas);
    const Pixmap mask = XCreatePixmap(dpy, win, figureWidth, figureHeight, 1);
    const GC bits = XCreateGC(dpy, mask, GCGraphicsExposures, &v);
    XSetForeground(dpy, bits, 0);
    XFillRectangle(dpy, mask, bits, 0, 0, figureWidth, figureHeight);
    XSetForeground(dpy, bits, 1);
    XFillArc(dpy, mask, bits, 0, 0, figureWidth, figureHeight, 0, 360 * 64);
    struct figure f[figures];
    for (int i = 0; i < figures; ++i) {
        f[i].silhouettePixmap = XCreatePixmap(dpy, win, figureWidth, figureHeight, depth);
        f[i].picturePixmap = XCreatePixmap(dpy, win, figureWidth, figureHeight, depth);
        XSetForeground(dpy, gc, BlackPixel(dpy, s));
        XFillRectangle(dpy, f[i].silhouettePixmap, gc, 0, 0, figureWidth, figureHeight);
        XSetForeground(dpy, gc, WhitePixel(dpy, s));
        XFillRectangle(dpy, f[i].picturePixmap, gc, 0, 0, figureWidth, figureHeight);
        f[i].silhouette = masked(dpy, canvas, mask);
        f[i].picture = masked(dpy, canvas, mask);
        f[i].x = i * 300 % (int)(w - figureWidth - step);
        f[i].y = (int)(i * (h - figureHeight) / figures);
    }
    XMapWindow(dpy, win);
    XFlush(dpy);
    for (;;) {
        for (int i = 0; i < figures; ++i) {
            struct figure *g = &f[i];
            const int to = g->x + step;
            XSetClipOrigin(dpy, g->silhouette, g->x, g->y);
            XCopyArea(dpy, g->silhouettePixmap, canvas, g->silhouette, 0, 0, figureWidth, figureHeight, g->x, g->y);
            XSetClipOrigin(dpy, g->picture, to, g->y);
            XCopyArea(dpy, g->picturePixmap, canvas, g->picture, 0, 0, figureWidth, figureHeight, to, g->y);
            XCopyArea(dpy, canvas, win, gc, g->x, g->y, figureWidth + step, figureHeight, g->x, g->y);
            g->x = to + figureWidth + step < (int)w ? to : 0;
        }
        XFlush(dpy);
        next_tick(&due);
    }
}
