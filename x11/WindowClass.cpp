#include "WindowClass.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>
#include <string>

namespace hakop::platform {

void setWindowClass(Display* display, unsigned long window, const char* instanceName,
                    const char* className)
{
    Display* dpy = display;
    if (dpy == nullptr || window == 0)
        return;
    // XClassHint wants writable strings.
    std::string name = instanceName != nullptr ? instanceName : "";
    std::string cls = className != nullptr ? className : "";
    XClassHint hint{name.data(), cls.data()};
    XSetClassHint(dpy, window, &hint);
    XSync(dpy, False);
}

void setWindowCaption(Display* display, unsigned long window, const char* utf8Caption)
{
    Display* dpy = display;
    if (dpy == nullptr || window == 0 || utf8Caption == nullptr)
        return;
    XStoreName(dpy, window, utf8Caption);
    const Atom netWmName = XInternAtom(dpy, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);
    XChangeProperty(dpy, window, netWmName, utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(utf8Caption), static_cast<int>(std::strlen(utf8Caption)));
    XFlush(dpy);
}

} // namespace hakop::platform
