/* Stands in for a running saver in single-instance tests: creates a window
 * whose WM_CLASS class is THAKOPForm (or --class CLS), prints "ready <id>"
 * once it is in place, then waits until it is killed.
 *   --map          map it; with a window manager running, wait until the
 *                  manager has reparented it into a frame
 *   --watch FILE   append "created <id>" to FILE for every top-level window
 *                  anybody creates from then on */
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

static int window_manager_running(Display* display)
{
    Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = NULL;
    if (check == None)
        return 0;
    if (XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, AnyPropertyType, &type, &format,
                           &count, &after, &data) != Success)
        return 0;
    if (data)
        XFree(data);
    return count > 0;
}

int main(int argc, char** argv)
{
    const char* cls = "THAKOPForm";
    const char* watch = NULL;
    int map = 0;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--class") == 0 && i + 1 < argc)
            cls = argv[++i];
        else if (strcmp(argv[i], "--watch") == 0 && i + 1 < argc)
            watch = argv[++i];
        else if (strcmp(argv[i], "--map") == 0)
            map = 1;
    }

    Display* display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "fake_saver: no display\n");
        return 1;
    }
    Window root = DefaultRootWindow(display);
    Window window = XCreateSimpleWindow(display, root, 10, 10, 120, 80, 0, 0, 0);
    XClassHint hint = {(char*)"fake_saver", (char*)cls};
    XSetClassHint(display, window, &hint);
    XStoreName(display, window, "HAKOPForm");
    XSelectInput(display, window, StructureNotifyMask);

    if (map) {
        const int reparenting = window_manager_running(display);
        XMapWindow(display, window);
        time_t deadline = time(NULL) + 20; /* generous: a loaded machine is slow, success ends early */
        int done = 0;
        while (!done && time(NULL) < deadline) {
            while (XPending(display)) {
                XEvent event;
                XNextEvent(display, &event);
                if (event.type == (reparenting ? ReparentNotify : MapNotify))
                    done = 1;
            }
            if (!done) {
                struct timespec pause = {0, 20L * 1000 * 1000};
                nanosleep(&pause, NULL);
            }
        }
        if (!done) {
            fprintf(stderr, "fake_saver: window was not %s\n", reparenting ? "reparented" : "mapped");
            return 1;
        }
    }

    FILE* log = NULL;
    if (watch != NULL) {
        log = fopen(watch, "a");
        if (log == NULL) {
            perror(watch);
            return 1;
        }
        XSelectInput(display, root, SubstructureNotifyMask);
    }
    XSync(display, False);
    printf("ready %lu\n", (unsigned long)window);
    fflush(stdout);

    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (log != NULL && event.type == CreateNotify && event.xcreatewindow.parent == root) {
            fprintf(log, "created %lu\n", (unsigned long)event.xcreatewindow.window);
            fflush(log);
        }
    }
}
