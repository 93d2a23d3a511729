#include "FrameExtents.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace hakop::platform {

std::optional<QMargins> announcedFrameExtents(Display* display, unsigned long window)
{
    Display* dpy = display;
    if (dpy == nullptr || window == 0)
        return std::nullopt;
    const Atom extentsAtom = XInternAtom(dpy, "_NET_FRAME_EXTENTS", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(dpy, static_cast<Window>(window), extentsAtom, 0, 4, False, XA_CARDINAL,
                                          &type, &format, &count, &remaining, &data);
    std::optional<QMargins> frame;
    if (status == Success && type == XA_CARDINAL && format == 32 && count == 4 && data != nullptr) {
        // Format-32 properties come back as longs, ordered left, right, top, bottom.
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        frame = QMargins(int(values[0]), int(values[2]), int(values[1]), int(values[3]));
    }
    if (data != nullptr)
        XFree(data);
    return frame;
}

bool frameExtentsSupported(Display* display)
{
    Display* dpy = display;
    if (dpy == nullptr)
        return false;
    const Atom supportedAtom = XInternAtom(dpy, "_NET_SUPPORTED", False);
    const Atom extentsAtom = XInternAtom(dpy, "_NET_FRAME_EXTENTS", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(dpy, DefaultRootWindow(dpy), supportedAtom, 0, 4096, False, XA_ATOM, &type,
                                          &format, &count, &remaining, &data);
    bool supported = false;
    if (status == Success && type == XA_ATOM && format == 32 && data != nullptr) {
        const auto* atoms = reinterpret_cast<const Atom*>(data);
        for (unsigned long i = 0; i < count && !supported; ++i)
            supported = atoms[i] == extentsAtom;
    }
    if (data != nullptr)
        XFree(data);
    return supported;
}

} // namespace hakop::platform
