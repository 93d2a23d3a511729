/* Starts a program and reports how long it took until it mapped a window on
 * the root, and its peak resident memory a moment later:
 *   mapwatch PROGRAM [ARGS...]   ->   "<ms to map> <peak RSS KiB>"
 * The clock starts just before exec; the watch is on the root's
 * SubstructureNotify, so no window manager is needed. */
#include <X11/Xlib.h>

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static long peak_kib(pid_t pid)
{
    char path[64], line[256];
    long kib = -1;
    snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
    FILE *f = fopen(path, "r");
    if (f == NULL)
        return -1;
    while (fgets(line, sizeof line, f) != NULL)
        if (strncmp(line, "VmHWM:", 6) == 0)
            kib = strtol(line + 6, NULL, 10);
    (void)fclose(f); /* read only: nothing to lose */
    return kib;
}

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
    const long kib = peak_kib(pid);
    kill(pid, SIGKILL);
    waitpid(pid, NULL, 0);
    printf("%.1f %ld\n", mapped, kib);
    XCloseDisplay(dpy);
    return kib < 0;
}
