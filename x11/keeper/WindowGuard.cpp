#include "WindowGuard.h"

#include "x11/WindowTree.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>

namespace hakop::platform {


WindowGuard::WindowGuard(Display* display, unsigned long window, unsigned long parent)
    : m_dpy(display)
    , m_window(window)
    , m_parent(parent)
{
    int event = 0;
    int error = 0;
    m_hasShape = display != nullptr && XShapeQueryExtension(display, &event, &error) != 0;
}

void WindowGuard::remember()
{
    XWindowAttributes a{};
    if (m_dpy == nullptr || XGetWindowAttributes(m_dpy, m_window, &a) == 0)
        return;
    XClassHint hint{};
    if (XGetClassHint(m_dpy, m_window, &hint) != 0) {
        m_instance = hint.res_name != nullptr ? hint.res_name : "";
        m_class = hint.res_class != nullptr ? hint.res_class : "";
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    m_x = a.x;
    m_y = a.y;
    m_width = static_cast<unsigned int>(a.width);
    m_height = static_cast<unsigned int>(a.height);
    m_placeKnown = true;
}

bool WindowGuard::exists() const
{
    XWindowAttributes a{};
    return m_dpy != nullptr && XGetWindowAttributes(m_dpy, m_window, &a) != 0;
}

unsigned WindowGuard::repair()
{
    Display* dpy = m_dpy;
    if (dpy == nullptr)
        return Nothing;
    unsigned undone = Nothing;
    const auto tree = queryTree(dpy, m_window);
    if (!tree)
        return Nothing; // gone: the caller asks exists()
    if (tree->parent != m_parent) {
        // A mapped window stays mapped through a reparent.
        XReparentWindow(dpy, m_window, m_parent, m_x, m_y);
        undone |= Parent;
    }
    if (!placeKept()) {
        XMoveResizeWindow(dpy, m_window, m_x, m_y, m_width, m_height);
        undone |= Place;
    }
    if (!shapeKept()) {
        XShapeCombineMask(dpy, m_window, ShapeBounding, 0, 0, None, ShapeSet);
        XShapeCombineMask(dpy, m_window, ShapeClip, 0, 0, None, ShapeSet);
        XShapeCombineMask(dpy, m_window, ShapeInput, 0, 0, None, ShapeSet);
        undone |= Shape;
    }
    if (!classKept()) {
        XClassHint hint{m_instance->data(), m_class.data()};
        XSetClassHint(dpy, m_window, &hint);
        undone |= Class;
    }
    restoreBackground();
    if (undone != Nothing)
        XSync(dpy, False);
    return undone;
}

void WindowGuard::restoreBackground()
{
    Window root = 0;
    int i = 0;
    unsigned int u = 0;
    // Freed (the picture could not be kept), it is no background of the window's.
    if (m_background == 0 || XGetGeometry(m_dpy, m_background, &root, &i, &i, &u, &u, &u, &u) == 0)
        return;
    XSetWindowBackgroundPixmap(m_dpy, m_window, m_background);
    XClearArea(m_dpy, m_window, 0, 0, 0, 0, False);
    XFlush(m_dpy);
}

bool WindowGuard::placeKept()
{
    XWindowAttributes a{};
    if (!m_placeKnown || XGetWindowAttributes(m_dpy, m_window, &a) == 0)
        return true;
    return a.x == m_x && a.y == m_y && static_cast<unsigned int>(a.width) == m_width
        && static_cast<unsigned int>(a.height) == m_height;
}

bool WindowGuard::shapeKept()
{
    if (!m_hasShape)
        return true;
    Display* dpy = m_dpy;
    Bool boundingShaped = False;
    Bool clipShaped = False;
    int bx = 0;
    int by = 0;
    int cx = 0;
    int cy = 0;
    unsigned int bw = 0;
    unsigned int bh = 0;
    unsigned int cw = 0;
    unsigned int ch = 0;
    if (XShapeQueryExtents(dpy, m_window, &boundingShaped, &bx, &by, &bw, &bh, &clipShaped, &cx, &cy, &cw, &ch) == 0)
        return true;
    if (boundingShaped || clipShaped)
        return false;
    // The input shape has no extents query: an unshaped window reports its
    // whole area as one rectangle.
    int count = 0;
    int ordering = 0;
    XRectangle* rects = XShapeGetRectangles(dpy, m_window, ShapeInput, &count, &ordering);
    bool whole = count == 1 && rects != nullptr && rects[0].x <= 0 && rects[0].y <= 0
        && rects[0].x + rects[0].width >= static_cast<int>(m_width)
        && rects[0].y + rects[0].height >= static_cast<int>(m_height);
    if (!m_placeKnown)
        whole = count >= 1;
    if (rects != nullptr)
        XFree(rects);
    return whole;
}

bool WindowGuard::classKept()
{
    if (!m_instance)
        return true;
    XClassHint hint{};
    if (XGetClassHint(m_dpy, m_window, &hint) == 0)
        return false;
    const bool kept = hint.res_name != nullptr && hint.res_class != nullptr && *m_instance == hint.res_name
        && m_class == hint.res_class;
    XFree(hint.res_name);
    XFree(hint.res_class);
    return kept;
}

} // namespace hakop::platform
