#include "OverlayHolder.h"

#include "x11/WindowTree.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/shape.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace hakop::platform {

OverlayHolder::OverlayHolder(Display* display, unsigned long root, unsigned long overlay, unsigned long window,
                             unsigned long managerSelection)
    : m_overlay(overlay)
    , m_window(window)
{
    if (display == nullptr || overlay == 0)
        return;
    m_dpy = XOpenDisplay(DisplayString(display));
    if (m_dpy == nullptr)
        return;
    // Its own unmaps and shapes, and its children's maps, moves and restacks.
    XSelectInput(m_dpy, overlay, StructureNotifyMask | SubstructureNotifyMask);
    int error = 0;
    if (XShapeQueryExtension(m_dpy, &m_shapeEvent, &error) != 0)
        XShapeSelectInput(m_dpy, overlay, ShapeNotifyMask);
    else
        m_shapeEvent = -1;
    // A compositing manager starting or ending unmaps the overlay itself,
    // after taking or before giving up its selection: that unmap is its own.
    m_managerRuns = XGetSelectionOwner(m_dpy, managerSelection) != None;
    if (XFixesQueryExtension(m_dpy, &m_selectionEvent, &error) != 0)
        XFixesSelectSelectionInput(m_dpy, root, managerSelection, XFixesSetSelectionOwnerNotifyMask);
    else
        m_selectionEvent = -1;
    XSync(m_dpy, False);
    // The thread sleeps until the server or the destructor has something for
    // it: a saver at rest costs no wake-ups beyond its ticks.
    m_wake = eventfd(0, EFD_CLOEXEC);
    m_thread = std::thread([this] { run(); });
}

OverlayHolder::~OverlayHolder()
{
    if (m_thread.joinable()) {
        m_stop = true;
        if (m_wake >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = write(m_wake, &one, sizeof one);
        }
        m_thread.join();
    }
    if (m_wake >= 0)
        close(m_wake);
    if (m_dpy != nullptr)
        XCloseDisplay(m_dpy);
}

void OverlayHolder::run()
{
    Display* dpy = m_dpy;
    std::set<unsigned long> climbed;
    std::set<unsigned long> kept; // unmapped by us, for good
    bool managerChanged = false; // from then on the keeper judges the overlay afresh
    while (!m_stop) {
        bool children = false;
        bool undone = false;
        while (XPending(dpy) > 0) {
            XEvent event;
            XNextEvent(dpy, &event);
            if (m_selectionEvent >= 0 && event.type == m_selectionEvent + XFixesSelectionNotify) {
                managerChanged = true;
            } else if (event.type == UnmapNotify && event.xunmap.window == m_overlay) {
                // A running manager may unmap it too (as it stops painting
                // there): mapped again, but no one's fault.
                if (!managerChanged) {
                    XMapWindow(dpy, m_overlay);
                    undone = !m_managerRuns;
                }
            } else if (m_shapeEvent >= 0 && event.type == m_shapeEvent + ShapeNotify) {
                // The input shape is a compositing manager's to empty.
                const auto& shape = reinterpret_cast<const XShapeEvent&>(event);
                if (shape.window == m_overlay && shape.kind != ShapeInput && shape.shaped != False) {
                    XShapeCombineMask(dpy, m_overlay, shape.kind, 0, 0, None, ShapeSet);
                    undone = true;
                }
            } else if (event.type == MapNotify && kept.count(event.xmap.window) != 0) {
                // Mapped again by the program that fought for the top: no
                // need to look where it is.
                XUnmapWindow(dpy, event.xmap.window);
                undone = true;
            } else if (event.type == DestroyNotify) {
                climbed.erase(event.xdestroywindow.window);
                kept.erase(event.xdestroywindow.window);
            } else if ((event.type == ConfigureNotify && kept.count(event.xconfigure.window) != 0)
                       || (event.type == ReparentNotify && kept.count(event.xreparent.window) != 0)) {
                // Moved, restacked or reparented while kept unmapped: nothing
                // shows until it is mapped again.
            } else if (event.type != UnmapNotify) {
                children = true; // made, mapped, moved, restacked or reparented in the overlay
            }
            XFlush(dpy);
        }
        if (children)
            undone = keepOthersBelow(dpy, m_overlay, m_window, climbed, &kept) || undone;
        if (undone) {
            XFlush(dpy);
            m_undone = true;
        }
        // Without the destructor's word (no eventfd), m_stop is looked at
        // every 50 ms instead.
        pollfd ready[2] = {{ConnectionNumber(dpy), POLLIN, 0}, {m_wake, POLLIN, 0}};
        if (XPending(dpy) == 0 && !m_stop)
            poll(ready, m_wake >= 0 ? 2 : 1, m_wake >= 0 ? -1 : 50);
    }
}

bool keepOthersBelow(Display* dpy, unsigned long overlay, unsigned long window, std::set<unsigned long>& climbed,
                     std::set<unsigned long>* unmapped)
{
    const auto tree = queryTree(dpy, overlay);
    if (!tree)
        return false;
    bool ours = false;
    bool raise = false;
    bool unmappedOne = false;
    // Bottom to top: everything after ours is above it.
    for (const Window child : tree->children) {
        XWindowAttributes a{};
        if (child == window) {
            ours = true;
        } else if (ours && XGetWindowAttributes(dpy, child, &a) != 0 && a.map_state != IsUnmapped) {
            // Once may be a window placed there before ours came; twice is a
            // program fighting for the top of the overlay.
            if (climbed.insert(child).second) {
                raise = true;
            } else {
                XUnmapWindow(dpy, child);
                unmappedOne = true;
                if (unmapped != nullptr)
                    unmapped->insert(child);
            }
        }
    }
    if (raise)
        XRaiseWindow(dpy, window);
    return unmappedOne;
}

} // namespace hakop::platform
