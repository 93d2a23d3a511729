/* What the footprint tools share. Each tool is one file built alone (by
 * CMake, or with cc by the scripts), so these are static inline. */
#ifndef HAKOP_FOOTPRINT_H
#define HAKOP_FOOTPRINT_H

#include <X11/Xlib.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <time.h>

static inline double now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

/* A size in KiB from /proc/PID/status: the line that starts with 'field'
 * ("VmHWM:", the peak resident set; "VmRSS:", the resident set now); -1 when
 * there is none (the process is gone). */
static inline long status_kib(pid_t pid, const char *field)
{
    char path[64], line[256];
    long kib = -1;
    snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
    FILE *f = fopen(path, "r");
    if (f == NULL)
        return -1;
    while (fgets(line, sizeof line, f) != NULL)
        if (strncmp(line, field, strlen(field)) == 0)
            kib = strtol(line + strlen(field), NULL, 10);
    (void)fclose(f); /* read only: nothing to lose */
    return kib;
}

/* The display DISPLAY names, and the size of its default screen; a tool
 * without one ends there, with status 1. */
static inline Display *open_screen(unsigned *width, unsigned *height)
{
    Display *dpy = XOpenDisplay(NULL);
    if (dpy == NULL)
        exit(1);
    *width = (unsigned)DisplayWidth(dpy, DefaultScreen(dpy));
    *height = (unsigned)DisplayHeight(dpy, DefaultScreen(dpy));
    return dpy;
}

/* A window over the whole default screen that no window manager moves or
 * frames (override-redirect), not mapped yet; 'mask' and 'a' give the
 * caller's other attributes. */
static inline Window screen_cover(Display *dpy, unsigned long mask, XSetWindowAttributes *a)
{
    const int s = DefaultScreen(dpy);
    a->override_redirect = True;
    return XCreateWindow(dpy, RootWindow(dpy, s), 0, 0, (unsigned)DisplayWidth(dpy, s), (unsigned)DisplayHeight(dpy, s),
                         0, CopyFromParent, InputOutput, CopyFromParent, mask | CWOverrideRedirect, a);
}

#endif
