/* Stand-in password-change service (MPR.DLL). Each call appends
 *   "<provider> <parent> <a3> <a4>"
 * to the file named by HAKOP_STANDIN_LOG, then one more line describing the
 * parent window as seen through a connection of its own:
 *   "parent-title WM_NAME=<name> _NET_WM_NAME=<name>"
 * ("-" for a name that cannot be read, "parent-title no-display" without X). */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>

static int ignore_errors(Display* display, XErrorEvent* event)
{
    (void)display;
    (void)event;
    return 0;
}

static void describe_parent(FILE* f, unsigned long parent)
{
    Display* display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(f, "parent-title no-display\n");
        return;
    }
    XErrorHandler previous = XSetErrorHandler(ignore_errors);
    char* name = NULL;
    if (XFetchName(display, (Window)parent, &name) == 0)
        name = NULL;

    Atom net_wm_name = XInternAtom(display, "_NET_WM_NAME", False);
    Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* net_name = NULL;
    if (XGetWindowProperty(display, (Window)parent, net_wm_name, 0, 256, False, utf8, &type, &format, &count,
                           &after, &net_name) != Success || type != utf8)
        net_name = NULL;
    XSync(display, False);
    XSetErrorHandler(previous);

    fprintf(f, "parent-title WM_NAME=%s _NET_WM_NAME=%s\n", name ? name : "-",
            net_name ? (const char*)net_name : "-");
    if (name)
        XFree(name);
    if (net_name)
        XFree(net_name);
    XCloseDisplay(display);
}

int PwdChangePasswordA(const char* provider, unsigned long parent, int a3, int a4)
{
    const char* log = getenv("HAKOP_STANDIN_LOG");
    if (log == NULL || *log == '\0')
        return 0;
    FILE* f = fopen(log, "a");
    if (f == NULL)
        return 0;
    fprintf(f, "%s %lu %d %d\n", provider ? provider : "(null)", parent, a3, a4);
    describe_parent(f, parent);
    fclose(f);
    return 0;
}
