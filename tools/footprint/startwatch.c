/* How fast a screen saver takes over the screen, from exec:
 *   startwatch [-s SERVER_PID] PROGRAM [ARGS...]
 *     -> "<map ms> <held ms> <figures ms> <peak RSS KiB> <server RSS growth KiB>"
 * map:     a window of it is mapped on the root (the screen is covered);
 * held:    the keyboard is held: another client tries to grab it every
 *          millisecond, each try followed at once by a release, and this is
 *          when the first refused try was sent. The server may answer it only
 *          later (after a long copy, say), but keys pressed from then on
 *          already go to the saver;
 * figures: the first screen change that is not the desktop as it was: the
 *          screen is read where the Damage extension reports drawing;
 * memory:  the program's peak resident set (VmHWM) 1.5 s after the map, and
 *          how much the server's resident set grew meanwhile (with -s).
 * -1 for what did not happen within 20 s. */
#include "footprint.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h> /* xcb_poll_for_reply: the tries are read without waiting */

#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

/* Whether the screen in 'area' differs from 'before' there; read in bands so a
 * screen-sized damage costs no screen-sized image. */
static int differs(Display *dpy, Window root, XImage *before, XRectangle area)
{
    const int band = 64;
    for (int top = area.y; top < area.y + area.height; top += band) {
        const int rows = top + band <= area.y + area.height ? band : area.y + area.height - top;
        XImage *now = XGetImage(dpy, root, area.x, top, area.width, (unsigned)rows, AllPlanes, ZPixmap);
        if (now == NULL)
            return 0;
        int found = 0;
        for (int y = 0; y < rows && !found; ++y)
            for (int x = 0; x < area.width && !found; ++x)
                found = (XGetPixel(now, x, y) & 0xffffff)
                    != (XGetPixel(before, area.x + x, top + y) & 0xffffff);
        XDestroyImage(now);
        if (found)
            return 1;
    }
    return 0;
}

int main(int argc, char **argv)
{
    pid_t server = 0;
    int first = 1;
    if (argc > 2 && strcmp(argv[1], "-s") == 0) {
        server = (pid_t)strtol(argv[2], NULL, 10);
        first = 3;
    }
    if (argc <= first) {
        fprintf(stderr, "usage: startwatch [-s SERVER_PID] PROGRAM [ARGS...]\n");
        return 2;
    }
    Display *dpy = XOpenDisplay(NULL);
    xcb_connection_t *poller = xcb_connect(NULL, NULL);
    int damageEvent = 0, damageError = 0;
    if (dpy == NULL || xcb_connection_has_error(poller) || !XDamageQueryExtension(dpy, &damageEvent, &damageError)) {
        fprintf(stderr, "startwatch: no display, or no Damage extension\n");
        return 1;
    }
    const Window root = DefaultRootWindow(dpy);
    const int width = DisplayWidth(dpy, DefaultScreen(dpy)), height = DisplayHeight(dpy, DefaultScreen(dpy));
    XSelectInput(dpy, root, SubstructureNotifyMask);
    XDamageCreate(dpy, root, XDamageReportRawRectangles);
    /* The desktop as it was is read once whatever an earlier program left
     * has been repainted: after 300 ms without drawing. */
    for (;;) {
        XSync(dpy, False);
        struct pollfd quiet = {ConnectionNumber(dpy), POLLIN, 0};
        if (XPending(dpy) == 0 && poll(&quiet, 1, 300) == 0)
            break;
        while (XPending(dpy) > 0) {
            XEvent e;
            XNextEvent(dpy, &e);
        }
    }
    XImage *before = XGetImage(dpy, root, 0, 0, (unsigned)width, (unsigned)height, AllPlanes, ZPixmap);
    if (before == NULL)
        return 1;
    const xcb_window_t pollRoot = xcb_setup_roots_iterator(xcb_get_setup(poller)).data->root;
    const long serverBefore = server > 0 ? status_kib(server, "VmRSS:") : -1;

    const double start = now_ms();
    pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[first], argv + first);
        _exit(127);
    }
    double mapped = -1, held = -1, figures = -1;
    /* Tries in flight: their cookies and when each was sent. */
    enum { inFlight = 4096 };
    static xcb_grab_keyboard_cookie_t tries[inFlight];
    static double sent[inFlight];
    int head = 0, tail = 0;
    double nextTry = start;
    while ((mapped < 0 || held < 0 || figures < 0) && now_ms() - start < 20000) {
        const double t = now_ms();
        if (held < 0 && t >= nextTry && tail - head < inFlight) {
            tries[tail % inFlight] = xcb_grab_keyboard(poller, 0, pollRoot, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC,
                                                       XCB_GRAB_MODE_ASYNC);
            sent[tail % inFlight] = t - start;
            ++tail;
            xcb_ungrab_keyboard(poller, XCB_CURRENT_TIME);
            xcb_flush(poller);
            nextTry = t + 1;
        }
        while (held < 0 && head < tail) {
            void *reply = NULL;
            if (!xcb_poll_for_reply(poller, tries[head % inFlight].sequence, &reply, NULL))
                break;
            xcb_grab_keyboard_reply_t *r = reply;
            if (r != NULL && r->status != XCB_GRAB_STATUS_SUCCESS)
                held = sent[head % inFlight];
            free(r);
            ++head;
        }
        while (XPending(dpy) > 0) {
            XEvent e;
            XNextEvent(dpy, &e);
            if (e.type == MapNotify && mapped < 0)
                mapped = now_ms() - start;
            if (e.type == damageEvent + XDamageNotify && figures < 0) {
                const XDamageNotifyEvent *d = (const XDamageNotifyEvent *)&e;
                const double at = now_ms() - start;
                if (differs(dpy, root, before, d->area))
                    figures = at;
            }
        }
        struct pollfd fds[2] = {{ConnectionNumber(dpy), POLLIN, 0}, {xcb_get_file_descriptor(poller), POLLIN, 0}};
        (void)poll(fds, 2, held < 0 ? 1 : 20);
    }
    /* Whatever it does just after mapping (the first frames) counts too. */
    usleep(1500 * 1000);
    const long kib = status_kib(pid, "VmHWM:");
    const long serverGrowth = server > 0 ? status_kib(server, "VmRSS:") - serverBefore : -1;
    kill(pid, SIGKILL);
    waitpid(pid, NULL, 0);
    printf("%.1f %.1f %.1f %ld %ld\n", mapped, held, figures, kib, serverGrowth);
    XDestroyImage(before);
    xcb_disconnect(poller);
    XCloseDisplay(dpy);
    return kib < 0;
}
