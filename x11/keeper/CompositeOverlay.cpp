#include "CompositeOverlay.h"

#include "x11/WindowTree.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/shape.h>

#include <string>

namespace hakop::platform {

namespace {

bool serverHasOverlay(Display* dpy)
{
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 4;
    // The overlay came with version 0.3.
    return XCompositeQueryExtension(dpy, &event, &error) != 0 && XCompositeQueryVersion(dpy, &major, &minor) != 0
        && (major > 0 || minor >= 3);
}

// An input-only child of 'root' with the WM_CLASS of 'window', mapped off
// the screen: where it is, it takes no input and hides nothing, and yet it
// counts as shown for whoever looks for visible windows of that class.
Window markerFor(Display* dpy, Window root, Window window)
{
    XClassHint hint{};
    if (XGetClassHint(dpy, window, &hint) == 0)
        return 0;
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    const Window marker = XCreateWindow(dpy, root, -1, -1, 1, 1, 0, 0, InputOnly, CopyFromParent,
                                         CWOverrideRedirect, &attributes);
    XSetClassHint(dpy, marker, &hint);
    XMapWindow(dpy, marker);
    XFree(hint.res_name);
    XFree(hint.res_class);
    return marker;
}

// The selection a compositing manager on the screen of 'root' owns.
Atom managerSelection(Display* dpy, Window root)
{
    int screen = 0;
    for (int i = 0; i < ScreenCount(dpy); ++i)
        screen = RootWindow(dpy, i) == root ? i : screen;
    const std::string name = "_NET_WM_CM_S" + std::to_string(screen);
    return XInternAtom(dpy, name.c_str(), False);
}

bool compositingManagerRuns(Display* dpy, Window root)
{
    return XGetSelectionOwner(dpy, managerSelection(dpy, root)) != None;
}

} // namespace

CompositeOverlay::CompositeOverlay(Display* display, unsigned long root)
    : m_dpy(display)
    , m_root(root)
{
}

CompositeOverlay::~CompositeOverlay()
{
    release();
    if (m_marker != 0)
        XDestroyWindow(m_dpy, m_marker);
    XFlush(m_dpy);
}

CompositeOverlay::Entry CompositeOverlay::enter(unsigned long window)
{
    if (m_inside)
        return Entry::Entered;
    if (m_managerOutside)
        return Entry::ManagerOutside;
    if (m_overlay == 0) {
        if (!serverHasOverlay(m_dpy))
            return Entry::NoComposite;
        int error = 0;
        if (m_selectionEvent == -1 && XFixesQueryExtension(m_dpy, &m_selectionEvent, &error) != 0)
            XFixesSelectSelectionInput(m_dpy, m_root, managerSelection(m_dpy, m_root),
                                       XFixesSetSelectionOwnerNotifyMask);
        const bool managerRuns = compositingManagerRuns(m_dpy, m_root);
        m_overlay = XCompositeGetOverlayWindow(m_dpy, m_root);
        if (m_overlay == 0)
            return Entry::Refused;
        // Held by nobody before, the overlay was made for us and mapped now.
        // A compositing manager that does not hold it paints onto the root,
        // over the overlay and whatever is in it, at every change: there the
        // window is better off among the root's children.
        XSync(m_dpy, False);
        XEvent mapped;
        auto isOverlayMapped = [](Display*, XEvent* event, XPointer overlay) -> Bool {
            return event->type == MapNotify && event->xmap.window == *reinterpret_cast<Window*>(overlay) ? True
                                                                                                       : False;
        };
        Window overlay = m_overlay;
        if (managerRuns
            && XCheckIfEvent(m_dpy, &mapped, isOverlayMapped, reinterpret_cast<XPointer>(&overlay)) != 0) {
            m_managerOutside = true;
            release();
            return Entry::ManagerOutside;
        }
    }
    XWindowAttributes a{};
    if (XGetWindowAttributes(m_dpy, window, &a) == 0) {
        release();
        return Entry::Gone;
    }
    // The marker is there before the window leaves the root's children, so
    // a look for the saver never misses both.
    if (m_marker == 0)
        m_marker = markerFor(m_dpy, m_root, window);
    // The overlay covers the root from its origin: the same coordinates.
    m_enteredAt = NextRequest(m_dpy);
    XReparentWindow(m_dpy, window, m_overlay, a.x, a.y);
    const auto tree = queryTree(m_dpy, window);
    m_inside = tree && tree->parent == m_overlay;
    if (m_inside) {
        m_window = window;
        m_climbed.clear(); // the overlay may be a new one each time it is taken
        watchDrawing(window);
        // What another client does in the overlay: its unmaps come with the
        // root's substructure; its shapes and its children are asked for.
        XSelectInput(m_dpy, m_overlay, SubstructureNotifyMask);
        int error = 0;
        if (XShapeQueryExtension(m_dpy, &m_shapeEvent, &error) != 0)
            XShapeSelectInput(m_dpy, m_overlay, ShapeNotifyMask);
        else
            m_shapeEvent = -1;
        XFlush(m_dpy);
        m_managerChanged = false;
        m_holder = std::make_unique<OverlayHolder>(m_dpy, m_root, m_overlay, window, managerSelection(m_dpy, m_root));
    }
    if (!m_inside)
        release();
    return m_inside ? Entry::Entered : Entry::Refused;
}

void CompositeOverlay::leave(unsigned long window, bool windowExists)
{
    XWindowAttributes a{};
    if (m_inside && windowExists && XGetWindowAttributes(m_dpy, window, &a) != 0) {
        XReparentWindow(m_dpy, window, m_root, a.x, a.y);
        XRaiseWindow(m_dpy, window);
    }
    m_inside = false;
    if (m_damage != 0 && windowExists)
        XDamageDestroy(m_dpy, m_damage);
    m_damage = 0;
    release();
    XSync(m_dpy, False);
}

void CompositeOverlay::watchDrawing(unsigned long window)
{
    int error = 0;
    if (m_damageEvent < 0 && XDamageQueryExtension(m_dpy, &m_damageEvent, &error) == 0)
        m_damageEvent = -2;
    if (m_damageEvent < 0 || !compositingManagerRuns(m_dpy, m_root))
        return;
    m_damage = XDamageCreate(m_dpy, window, XDamageReportNonEmpty);
    // Whatever the manager painted before the watch began.
    m_ownClear = NextRequest(m_dpy);
    XClearArea(m_dpy, window, 0, 0, 0, 0, False);
    XDamageSubtract(m_dpy, m_damage, None, None);
    XFlush(m_dpy);
}

CompositeOverlay::Heard CompositeOverlay::hear(const XEvent& event)
{
    if (m_selectionEvent >= 0 && event.type == m_selectionEvent + XFixesSelectionNotify) {
        m_managerOutside = false;
        m_managerChanged = true;
        return Heard::Manager;
    }
    // Mapped again by the holder, unless a compositing manager starting or
    // ending unmapped it (the window is judged afresh then).
    // (An unmap from before the window came in is an earlier letting go.)
    if (m_inside && event.type == UnmapNotify && event.xunmap.window == m_overlay
        && event.xunmap.serial >= m_enteredAt)
        return m_managerChanged ? Heard::Other : Heard::Unmapped;
    if (m_inside && m_shapeEvent >= 0 && event.type == m_shapeEvent + ShapeNotify) {
        const auto& shape = reinterpret_cast<const XShapeEvent&>(event);
        if (shape.window != m_overlay || shape.kind == ShapeInput || shape.shaped == False)
            return Heard::Other;
        return Heard::Undone; // taken off by the holder, or by hold()
    }
    if (event.type == DestroyNotify)
        m_climbed.erase(event.xdestroywindow.window);
    if (m_damage == 0 || event.type != m_damageEvent + XDamageNotify)
        return Heard::Other;
    const auto& drawn = reinterpret_cast<const XDamageNotifyEvent&>(event);
    // The window's own picture is its background, kept by the server: a
    // clear puts it back. That clear is drawing too, reported while the
    // server carries it out: such news is left alone, or the two would feed
    // each other. (A manager's drawing in that moment waits for its next.)
    if (drawn.damage != m_damage || drawn.serial == m_ownClear)
        return Heard::Drawing;
    m_ownClear = NextRequest(m_dpy);
    XClearArea(m_dpy, m_window, drawn.area.x, drawn.area.y, drawn.area.width, drawn.area.height, False);
    XDamageSubtract(m_dpy, m_damage, None, None);
    XFlush(m_dpy);
    return Heard::Drawing;
}

bool CompositeOverlay::hold(bool lookAgain)
{
    if (!m_inside)
        return false;
    bool undone = m_holder && m_holder->takeUndone();
    if (!lookAgain && m_holder && m_holder->works())
        return undone;
    XWindowAttributes overlay{};
    if (!m_managerChanged && XGetWindowAttributes(m_dpy, m_overlay, &overlay) != 0
        && overlay.map_state == IsUnmapped) {
        XMapWindow(m_dpy, m_overlay);
        undone = !compositingManagerRuns(m_dpy, m_root); // see OverlayHolder
    }
    Bool bounding = False;
    Bool clip = False;
    int i = 0;
    unsigned int u = 0;
    if (m_shapeEvent >= 0
        && XShapeQueryExtents(m_dpy, m_overlay, &bounding, &i, &i, &u, &u, &clip, &i, &i, &u, &u) != 0
        && (bounding || clip)) {
        XShapeCombineMask(m_dpy, m_overlay, ShapeBounding, 0, 0, None, ShapeSet);
        XShapeCombineMask(m_dpy, m_overlay, ShapeClip, 0, 0, None, ShapeSet);
        undone = true;
    }
    undone = keepOthersBelow(m_dpy, m_overlay, m_window, m_climbed) || undone;
    XSync(m_dpy, False);
    return undone;
}

void CompositeOverlay::release()
{
    // Before the overlay goes: the holder would map it again.
    m_holder.reset();
    // Held with nothing in it, the overlay would stay mapped over every
    // window (unless a compositing manager holds it too and paints there).
    if (m_overlay != 0)
        XCompositeReleaseOverlayWindow(m_dpy, m_root);
    m_overlay = 0;
}

} // namespace hakop::platform
