/* Starts a program and reports how long it took until it mapped a window on
 * the root, and its peak resident memory a moment later:
 *   mapwatch PROGRAM [ARGS...]   ->   "<ms to map> <peak RSS KiB>"
 * The clock starts just before exec; the watch is on the root's
 * SubstructureNotify, so no window manager is needed. */
#include "footprint.h"

#include <X11/Xlib.h>

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: mapwatch PROGRAM [ARGS...]\n");
        return 2;
    }
    Display *dpy = XOpenDisplay(NULL);
    if (dpy == NULL) {
        fprintf(stderr, "mapwatch: no display\n");
        return 1;
    }
    XSelectInput(dpy, DefaultRootWindow(dpy), SubstructureNotifyMask);
    XSync(dpy, False);

    const double start = now_ms();
    pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    double mapped = -1;
    alarm(120); /* a program that never maps its window fails the watch */
    while (mapped < 0) {
        XEvent e;
        XNextEvent(dpy, &e);
        if (e.type == MapNotify)
            mapped = now_ms() - start;
    }
    /* Whatever it does just after mapping (the first frames) counts too. */
    usleep(1500 * 1000);
    const long kib = status_kib(pid, "VmHWM:");
    kill(pid, SIGKILL);
    waitpid(pid, NULL, 0);
    printf("%.1f %ld\n", mapped, kib);
    XCloseDisplay(dpy);
    return kib < 0;
}
