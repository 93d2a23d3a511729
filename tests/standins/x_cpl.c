/* Password verifiers that use the X server as a real prompt would, on a
 * connection of their own (STANDIN_KIND):
 *   1  "grab": grabs keyboard and pointer, holds them for a second, logs
 *      "grab keyboard=<status> pointer=<status>" (0 = success) and lets the
 *      saver close only if both grabs succeeded
 *   2  "event loop": maps a window of its own, runs an event loop on it for
 *      1.5 s (more input may arrive meanwhile), logs "done" and lets the
 *      saver close
 * Both log "verify <window>" first. */
#include "standin_log.h"

#include <X11/Xlib.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

static inline long long nowMs(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

int VerifyScreenSavePwd(unsigned long window)
{
    standin_log("verify %lu", window);
    Display* dpy = XOpenDisplay(NULL);
    if (dpy == NULL) {
        standin_log("no display");
        return 0;
    }
    int result = 1;
#if STANDIN_KIND == 1
    const Window root = DefaultRootWindow(dpy);
    const int keyboard = XGrabKeyboard(dpy, root, False, GrabModeAsync, GrabModeAsync, CurrentTime);
    const int pointer = XGrabPointer(dpy, root, False, ButtonPressMask, GrabModeAsync, GrabModeAsync, None, None,
                                     CurrentTime);
    XSync(dpy, False);
    standin_log("grab keyboard=%d pointer=%d", keyboard, pointer);
    sleep(1);
    XUngrabKeyboard(dpy, CurrentTime);
    XUngrabPointer(dpy, CurrentTime);
    result = keyboard == GrabSuccess && pointer == GrabSuccess;
#else
    const Window prompt = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 10, 10, 200, 80, 1, 0, 0xffffff);
    XSelectInput(dpy, prompt, KeyPressMask | ExposureMask);
    XMapRaised(dpy, prompt);
    XFlush(dpy);
    const long long end = nowMs() + 1500;
    for (long long left; (left = end - nowMs()) > 0;) {
        while (XPending(dpy) > 0) {
            XEvent event;
            XNextEvent(dpy, &event);
        }
        struct pollfd p = {ConnectionNumber(dpy), POLLIN, 0};
        poll(&p, 1, (int)left);
    }
    XDestroyWindow(dpy, prompt);
    XSync(dpy, False);
    standin_log("done");
#endif
    XCloseDisplay(dpy);
    return result;
}
