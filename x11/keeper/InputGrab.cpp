#include "InputGrab.h"

#include <X11/Xlib.h>

namespace hakop::platform {

InputGrab::InputGrab(Display* display, unsigned long window)
    : m_display(display)
    , m_window(window)
{
}

InputGrab::~InputGrab()
{
    release();
}

bool InputGrab::tryTake()
{
    Display* dpy = m_display;
    if (dpy == nullptr || m_window == 0)
        return false;
    m_refused = false;
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(dpy, m_window, &attributes) == 0 || attributes.map_state != IsViewable)
        return false;

    if (!m_keyboard) {
        // Focus first, so that key events between the two requests come here too.
        XSetInputFocus(dpy, m_window, RevertToParent, CurrentTime);
        m_keyboard = XGrabKeyboard(dpy, m_window, False, GrabModeAsync, GrabModeAsync, CurrentTime) == GrabSuccess;
    }
    if (!m_pointer) {
        // Owner events: the window keeps getting its pointer events as usual
        // (positions relative to it, negative when the pointer is left of or
        // above it); other clients get none.
        const unsigned int mask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask | EnterWindowMask
            | LeaveWindowMask;
        m_pointer = XGrabPointer(dpy, m_window, True, mask, GrabModeAsync, GrabModeAsync, None, None, CurrentTime)
            == GrabSuccess;
    }
    XFlush(dpy);
    m_refused = !held();
    return held();
}

void InputGrab::release()
{
    Display* dpy = m_display;
    if (dpy == nullptr || (!m_keyboard && !m_pointer))
        return;
    if (m_keyboard)
        XUngrabKeyboard(dpy, CurrentTime);
    if (m_pointer)
        XUngrabPointer(dpy, CurrentTime);
    m_keyboard = false;
    m_pointer = false;
    XSync(dpy, False);
}

} // namespace hakop::platform
