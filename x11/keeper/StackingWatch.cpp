#include "StackingWatch.h"

#include "platform/Log.h"
#include "x11/WindowTree.h"

#include <QSocketNotifier>
#include <QTimer>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>

namespace hakop::platform {


StackingWatch::StackingWatch(Display* display, unsigned long window, Listener listener)
    : m_window(window)
    , m_listener(std::move(listener))
{
    auto* shared = display;
    if (shared == nullptr || window == 0)
        return;
    Display* own = XOpenDisplay(DisplayString(shared));
    if (own == nullptr)
        return;
    Window root = 0;
    int x = 0;
    int y = 0;
    unsigned int w = 0;
    unsigned int h = 0;
    unsigned int border = 0;
    unsigned int depth = 0;
    if (XGetGeometry(own, window, &root, &x, &y, &w, &h, &border, &depth) == 0) {
        XCloseDisplay(own);
        return;
    }
    m_dpy = own;
    m_root = root;
    // Every map, unmap and restack among the root's children: the saver's
    // siblings and the saver itself.
    XSelectInput(own, root, SubstructureNotifyMask);
    // And the window's own unmaps wherever it is: reparented away, it is
    // unmapped under another parent, and its grabs go with that. Its moves,
    // properties and shapes too, so that a change another client makes to
    // it wakes the keeper, which otherwise sleeps.
    XSelectInput(own, window, StructureNotifyMask | PropertyChangeMask);
    int shapeEvent = 0;
    int shapeError = 0;
    if (XShapeQueryExtension(own, &shapeEvent, &shapeError) != 0)
        XShapeSelectInput(own, window, ShapeNotifyMask);
    XFlush(own);
    m_notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(own), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { drain(); });
}

StackingWatch::~StackingWatch()
{
    yieldToNewWindows(false);
    // Let go of with the window still in it, the overlay would take the
    // window along when it goes.
    if (m_overlay)
        m_overlay->leave(m_window, !m_gone);
    m_overlay.reset();
    m_notifier.reset();
    if (m_dpy != nullptr)
        XCloseDisplay(m_dpy);
}

void StackingWatch::check()
{
    if (m_dpy != nullptr && !yielding())
        drain(true);
}

void StackingWatch::drain(bool always)
{
    Display* dpy = m_dpy;
    // Each report may send requests whose replies bring new events into
    // Xlib's queue, where the socket notifier never sees them: go on until
    // the queue is empty, or the last of a burst would wait for some later
    // event that may never come.
    do {
        bool above = always;
        bool unmapped = false; // even if mapped again by now (a reparent): the grabs went
        bool mapped = false;
        bool destroyed = false;
        bool heard = false;
        bool compositing = false;
        while (XPending(dpy) > 0) {
            XEvent event;
            XNextEvent(dpy, &event);
            const auto news = m_overlay ? m_overlay->hear(event) : CompositeOverlay::Heard::Other;
            if (news == CompositeOverlay::Heard::Drawing)
                continue; // not a change to the window or its siblings
            heard = true;
            compositing = compositing || news == CompositeOverlay::Heard::Manager;
            // The overlay unmapped, the window with it: the grabs went.
            unmapped = unmapped || news == CompositeOverlay::Heard::Unmapped;
            switch (event.type) {
            case MapNotify:
                (event.xmap.window == m_window ? mapped : above) = true;
                break;
            case UnmapNotify:
                if (event.xunmap.window == m_window)
                    unmapped = true;
                break;
            case DestroyNotify:
                if (event.xdestroywindow.window == m_window)
                    destroyed = true;
                break;
            case ConfigureNotify:
                // A sibling restacked (or ours moved down); checked as a whole below.
                if (event.xconfigure.window != m_window || event.xconfigure.above != None)
                    above = true;
                break;
            case CirculateNotify:
            case ReparentNotify:
                above = true;
                break;
            default:
                break;
            }
        }
        if (heard && onActivity)
            onActivity();
        // What another client did to the overlay, undone (by its holder, or
        // here should that have missed it).
        const bool restored = m_overlay && (heard || always) && m_overlay->hold(always);
        XWindowAttributes attributes{};
        const bool exists = !destroyed && XGetWindowAttributes(dpy, m_window, &attributes) != 0;
        if (!exists) {
            m_gone = true;
            m_listener(Change::Destroyed); // may end this watch: nothing after it
            return;
        }
        // One report per kind and batch: a burst of events is one check.
        if (unmapped || (always && attributes.map_state != IsViewable))
            m_listener(Change::Unmapped);
        else if (mapped)
            m_listener(Change::Mapped);
        if (above)
            m_listener(Change::SomethingAbove);
        if (compositing)
            m_listener(Change::Compositing);
        if (restored)
            m_listener(Change::OverlayRestored);
        always = false;
    } while (XEventsQueued(dpy, QueuedAlready) > 0);
}

void StackingWatch::yieldToNewWindows(bool on)
{
    if (m_dpy == nullptr || on == yielding())
        return;
    if (on) {
        // The connection is the cover's alone until it stops.
        m_notifier->setEnabled(false);
        m_cover = std::make_unique<YieldingCover>(m_dpy, m_window, m_root, m_picture);
        return;
    }
    m_cover->stop();
    m_notifier->setEnabled(true);
}

bool StackingWatch::yielding() const
{
    return m_cover && m_cover->running();
}

bool StackingWatch::stoodIn() const
{
    return m_cover && m_cover->stoodIn();
}

bool StackingWatch::viewable() const
{
    XWindowAttributes attributes{};
    return m_dpy != nullptr && XGetWindowAttributes(m_dpy, m_window, &attributes) != 0
        && attributes.map_state == IsViewable;
}

bool StackingWatch::onTop()
{
    Display* dpy = m_dpy;
    if (dpy == nullptr)
        return true; // nothing to compare with
    if (!viewable()) {
        drainLater();
        return false;
    }
    const auto tree = queryTree(dpy, home());
    if (!tree)
        return true;
    // Bottom to top: everything after ours is above it.
    bool ours = false;
    bool covered = false;
    for (const Window child : tree->children) {
        if (child == m_window) {
            ours = true;
            continue;
        }
        if (!ours)
            continue;
        XWindowAttributes attributes{};
        covered = XGetWindowAttributes(dpy, child, &attributes) != 0 && attributes.map_state == IsViewable;
        if (covered)
            break;
    }
    drainLater();
    return ours && !covered;
}

void StackingWatch::drainLater()
{
    // Called outside drain (a raise put off to a timer): the replies waited
    // for may have brought events along, which no socket read announces.
    if (!yielding() && XEventsQueued(m_dpy, QueuedAlready) > 0)
        QTimer::singleShot(0, m_notifier.get(), [this] { drain(); });
}

void StackingWatch::raise()
{
    Display* dpy = m_dpy;
    if (dpy == nullptr)
        return;
    if (home() != m_root)
        XMapWindow(dpy, home()); // any client may unmap the overlay
    XMapRaised(dpy, m_window);
    // Done once this returns, so a grab asked for next finds the window viewable.
    XSync(dpy, False);
    drainLater();
}

CompositeOverlay::Entry StackingWatch::enterOverlay()
{
    if (m_dpy == nullptr || yielding())
        return CompositeOverlay::Entry::Refused;
    if (!m_overlay)
        m_overlay = std::make_unique<CompositeOverlay>(m_dpy, m_root);
    const CompositeOverlay::Entry entry = m_overlay->enter(m_window);
    drainLater();
    return entry;
}

void StackingWatch::leaveOverlay()
{
    if (m_dpy == nullptr || yielding() || !m_overlay || m_overlay->window() == 0)
        return;
    m_overlay->leave(m_window, !m_gone);
    drainLater();
}

unsigned long StackingWatch::home() const
{
    const unsigned long overlay = m_overlay ? m_overlay->window() : 0;
    return overlay != 0 ? overlay : m_root;
}

} // namespace hakop::platform
