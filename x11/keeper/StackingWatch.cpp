#include "StackingWatch.h"

#include "x11/ClientProcess.h"
#include "platform/Log.h"
#include "x11/WindowTree.h"

#include <QSocketNotifier>
#include <QTimer>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>
#include <poll.h>
#include <unistd.h>

#include <map>
#include <set>
#include <vector>

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
    if (m_dpy != nullptr && !m_yielding.joinable())
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
        always = false;
    } while (XEventsQueued(dpy, QueuedAlready) > 0);
}

void StackingWatch::yieldToNewWindows(bool on)
{
    if (m_dpy == nullptr || on == m_yielding.joinable())
        return;
    if (on) {
        XWindowAttributes a{};
        if (XGetWindowAttributes(m_dpy, m_window, &a) != 0) {
            m_place[0] = a.x;
            m_place[1] = a.y;
            m_place[2] = a.width;
            m_place[3] = a.height;
        }
        // The connection is the thread's alone until it is joined.
        m_notifier->setEnabled(false);
        m_stopYielding = false;
        m_yielding = std::thread([this] { yieldLoop(); });
        return;
    }
    m_stopYielding = true;
    m_yielding.join();
    m_notifier->setEnabled(true);
}

void StackingWatch::yieldLoop()
{
    Display* dpy = m_dpy;
    const bool byProcess = serverKnowsClientProcesses(dpy);
    const pid_t self = getpid();
    std::set<Window> mapped; // since the yielding began, still mapped
    std::map<Window, bool> owned; // a window's process never changes; its contents may (reparenting)
    auto allowed = [&](Window w) {
        if (!byProcess)
            return mapped.count(w) != 0;
        auto known = owned.find(w);
        if (known == owned.end())
            known = owned.emplace(w, windowOfProcessTree(dpy, w, self)).first;
        return known->second;
    };
    bool changed = true; // the windows above already are looked at once
    while (!m_stopYielding) {
        while (XPending(dpy) > 0) {
            XEvent event;
            XNextEvent(dpy, &event);
            if (event.type == MapNotify && event.xmap.window != m_window) {
                mapped.insert(event.xmap.window);
                owned.erase(event.xmap.window);
            } else if (event.type == UnmapNotify) {
                mapped.erase(event.xunmap.window);
            } else if (event.type == DestroyNotify) {
                mapped.erase(event.xdestroywindow.window);
                owned.erase(event.xdestroywindow.window);
                if (event.xdestroywindow.window == m_window && m_standIn == 0)
                    standIn();
            } else if (event.type == ReparentNotify) {
                owned.clear(); // a frame may have got its client window
            }
            changed = true;
        }
        if (changed)
            coverAllBut(allowed);
        changed = false;
        pollfd ready{ConnectionNumber(dpy), POLLIN, 0};
        if (XPending(dpy) == 0)
            poll(&ready, 1, 50);
    }
}

// The event loop is blocked while yielding, so no new saver window can be
// built before the question is answered: until then a plain window of this
// connection shows the picture in the old one's place.
void StackingWatch::standIn()
{
    if (m_place[2] <= 0 || m_place[3] <= 0)
        return;
    logLine("another program destroyed the saver window while the password was asked; its picture covers the "
            "screen until the answer");
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixmap = m_picture;
    attributes.background_pixel = BlackPixel(m_dpy, DefaultScreen(m_dpy));
    const unsigned long mask = CWOverrideRedirect | (m_picture != 0 ? CWBackPixmap : CWBackPixel);
    m_standIn = XCreateWindow(m_dpy, m_root, m_place[0], m_place[1], static_cast<unsigned int>(m_place[2]),
                              static_cast<unsigned int>(m_place[3]), 0, CopyFromParent, InputOutput, CopyFromParent,
                              mask, &attributes);
    XMapRaised(m_dpy, m_standIn);
    XFlush(m_dpy);
}

void StackingWatch::coverAllBut(const std::function<bool(unsigned long)>& allowed)
{
    Display* dpy = m_dpy;
    const Window covering = m_standIn != 0 ? m_standIn : m_window;
    const auto tree = queryTree(dpy, m_root);
    XWindowAttributes mine{};
    if (!tree || XGetWindowAttributes(dpy, covering, &mine) == 0)
        return;
    // The siblings that show on the saver's area, bottom to top, and whether
    // each may lie above. (A window manager keeps viewable windows of its own
    // off the screen; nothing needs covering there.)
    auto shows = [&](const XWindowAttributes& a) {
        return a.map_state == IsViewable && a.c_class == InputOutput && a.x < mine.x + mine.width
            && mine.x < a.x + a.width + 2 * a.border_width && a.y < mine.y + mine.height
            && mine.y < a.y + a.height + 2 * a.border_width;
    };
    std::vector<std::pair<Window, bool>> stack;
    std::ptrdiff_t ours = -1;
    for (const Window child : tree->children) {
        XWindowAttributes a{};
        if (child == covering) {
            ours = static_cast<std::ptrdiff_t>(stack.size());
        } else if (XGetWindowAttributes(dpy, child, &a) != 0 && shows(a)) {
            const bool mayLieAbove = allowed(child);
            if (ours >= 0 && !mayLieAbove && a.override_redirect) {
                // No window manager stands between: it goes under the saver
                // itself, and nothing allowed has to move.
                XWindowChanges below{};
                below.sibling = covering;
                below.stack_mode = Below;
                XConfigureWindow(dpy, child, CWSibling | CWStackMode, &below);
                stack.insert(stack.begin() + ours++, {child, false});
                continue;
            }
            stack.emplace_back(child, mayLieAbove);
        }
    }
    if (ours < 0)
        return;
    // ours sits between stack[ours - 1] and stack[ours].
    std::ptrdiff_t topForeign = -1;
    for (std::ptrdiff_t i = 0; i < static_cast<std::ptrdiff_t>(stack.size()); ++i)
        if (!stack[i].second)
            topForeign = i;
    bool misplaced = false;
    for (std::ptrdiff_t i = 0; i < static_cast<std::ptrdiff_t>(stack.size()); ++i)
        misplaced = misplaced || (i >= ours ? !stack[i].second : stack[i].second && i > topForeign);
    if (misplaced) {
        XWindowChanges changes{};
        if (topForeign >= 0) {
            changes.sibling = stack[topForeign].first;
            changes.stack_mode = Above;
        } else {
            changes.sibling = stack.front().first; // all allowed: the lowest of them
            changes.stack_mode = Below;
        }
        XConfigureWindow(dpy, covering, CWSibling | CWStackMode, &changes);
    }
    // An allowed window under a foreign one: only raising it gets it above
    // the saver (a window manager may decline for a window it frames).
    for (std::ptrdiff_t i = 0; i < topForeign; ++i)
        if (stack[i].second)
            XRaiseWindow(dpy, stack[i].first);
    XFlush(dpy);
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
    if (!m_yielding.joinable() && XEventsQueued(m_dpy, QueuedAlready) > 0)
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
    if (m_dpy == nullptr || m_yielding.joinable())
        return CompositeOverlay::Entry::Refused;
    if (!m_overlay)
        m_overlay = std::make_unique<CompositeOverlay>(m_dpy, m_root);
    const CompositeOverlay::Entry entry = m_overlay->enter(m_window);
    if (entry == CompositeOverlay::Entry::Entered) {
        // Another client holding the overlay may map its own windows there:
        // those are the siblings to stay above now. (The overlay may be a
        // new one each time it is taken.)
        XSelectInput(m_dpy, m_overlay->window(), SubstructureNotifyMask);
        XFlush(m_dpy);
    }
    drainLater();
    return entry;
}

void StackingWatch::leaveOverlay()
{
    if (m_dpy == nullptr || m_yielding.joinable() || !m_overlay || m_overlay->window() == 0)
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
