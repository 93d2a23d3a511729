#include "ApplicationWindow.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>

namespace hakop::platform {

namespace {
ApplicationWindow* theInstance = nullptr;
constexpr const char* title = "HAKOP";
} // namespace

ApplicationWindow::ApplicationWindow(Display* display)
    : m_display(display)
{
    Display* dpy = m_display;
    if (dpy == nullptr)
        return;
    // X has no zero-size windows; 1x1 and never mapped is the nearest thing.
    const Window window = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0);
    m_window = static_cast<std::uint32_t>(window);

    XStoreName(dpy, window, title);
    const Atom netWmName = XInternAtom(dpy, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);
    XChangeProperty(dpy, window, netWmName, utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title), static_cast<int>(std::strlen(title)));
    // Its own class, never the saver's: the single-instance check looks only
    // for the saver window.
    char name[] = "hakop";
    char cls[] = "Hakop";
    XClassHint hint{name, cls};
    XSetClassHint(dpy, window, &hint);
    XSync(dpy, False);

    theInstance = this;
}

ApplicationWindow::~ApplicationWindow()
{
    if (theInstance == this)
        theInstance = nullptr;
    if (m_display != nullptr && m_window != 0) {
        Display* dpy = m_display;
        XDestroyWindow(dpy, m_window);
        XFlush(dpy);
    }
}

void ApplicationWindow::hide()
{
    if (m_display != nullptr && m_window != 0) {
        Display* dpy = m_display;
        XUnmapWindow(dpy, m_window);
        XFlush(dpy);
    }
}

ApplicationWindow* ApplicationWindow::instance()
{
    return theInstance;
}

} // namespace hakop::platform
