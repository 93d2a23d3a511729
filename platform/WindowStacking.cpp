#include "WindowStacking.h"

#include <QSocketNotifier>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <set>

namespace hakop::platform {

namespace {

Display* asDisplay(void* p)
{
    return static_cast<Display*>(p);
}

} // namespace

StackingWatch::StackingWatch(void* display, unsigned long window, Listener listener)
    : m_window(window)
    , m_listener(std::move(listener))
{
    auto* shared = asDisplay(display);
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
    XFlush(own);
    m_notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(own), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { drain(); });
}

StackingWatch::~StackingWatch()
{
    yieldToNewWindows(false);
    m_notifier.reset();
    if (m_dpy != nullptr)
        XCloseDisplay(asDisplay(m_dpy));
}

void StackingWatch::drain()
{
    Display* dpy = asDisplay(m_dpy);
    bool above = false;
    bool unmapped = false;
    bool mapped = false;
    while (XPending(dpy) > 0) {
        XEvent event;
        XNextEvent(dpy, &event);
        switch (event.type) {
        case MapNotify:
            (event.xmap.window == m_window ? mapped : above) = true;
            break;
        case UnmapNotify:
            if (event.xunmap.window == m_window)
                unmapped = true;
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
    // One report per kind and batch: a burst of events is one check.
    if (unmapped && !viewable())
        m_listener(Change::Unmapped);
    else if (mapped)
        m_listener(Change::Mapped);
    if (above)
        m_listener(Change::SomethingAbove);
}

void StackingWatch::yieldToNewWindows(bool on)
{
    if (m_dpy == nullptr || on == m_yielding.joinable())
        return;
    if (on) {
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
    Display* dpy = asDisplay(m_dpy);
    std::set<Window> mapped; // since the yielding began, still mapped
    while (!m_stopYielding) {
        bool changed = false;
        while (XPending(dpy) > 0) {
            XEvent event;
            XNextEvent(dpy, &event);
            if (event.type == MapNotify && event.xmap.window != m_window)
                mapped.insert(event.xmap.window);
            else if (event.type == UnmapNotify)
                mapped.erase(event.xunmap.window);
            else if (event.type == DestroyNotify)
                mapped.erase(event.xdestroywindow.window);
            changed = true;
        }
        if (changed && !mapped.empty()) {
            // Below the lowest of them, wherever a window manager stacked them.
            Window rootReturn = 0;
            Window parent = 0;
            Window* children = nullptr;
            unsigned int count = 0;
            if (XQueryTree(dpy, m_root, &rootReturn, &parent, &children, &count) != 0) {
                Window lowest = 0;
                for (unsigned int i = 0; i < count && children[i] != m_window; ++i)
                    if (lowest == 0 && mapped.count(children[i]) != 0)
                        lowest = children[i];
                if (children != nullptr)
                    XFree(children);
                if (lowest != 0) {
                    XWindowChanges below{};
                    below.sibling = lowest;
                    below.stack_mode = Below;
                    XConfigureWindow(dpy, m_window, CWSibling | CWStackMode, &below);
                    XFlush(dpy);
                }
            }
        }
        pollfd ready{ConnectionNumber(dpy), POLLIN, 0};
        if (XPending(dpy) == 0)
            poll(&ready, 1, 50);
    }
}

bool StackingWatch::viewable() const
{
    XWindowAttributes attributes{};
    return m_dpy != nullptr && XGetWindowAttributes(asDisplay(m_dpy), m_window, &attributes) != 0
        && attributes.map_state == IsViewable;
}

bool StackingWatch::onTop() const
{
    Display* dpy = asDisplay(m_dpy);
    if (dpy == nullptr)
        return true; // nothing to compare with
    if (!viewable())
        return false;
    Window rootReturn = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(dpy, m_root, &rootReturn, &parent, &children, &count) == 0)
        return true;
    // Bottom to top: everything after ours is above it.
    bool ours = false;
    bool covered = false;
    for (unsigned int i = 0; i < count && !covered; ++i) {
        if (children[i] == m_window) {
            ours = true;
            continue;
        }
        if (!ours)
            continue;
        XWindowAttributes attributes{};
        covered = XGetWindowAttributes(dpy, children[i], &attributes) != 0 && attributes.map_state == IsViewable;
    }
    if (children != nullptr)
        XFree(children);
    return ours && !covered;
}

void StackingWatch::raise()
{
    Display* dpy = asDisplay(m_dpy);
    if (dpy == nullptr)
        return;
    XMapRaised(dpy, m_window);
    // Done once this returns, so a grab asked for next finds the window viewable.
    XSync(dpy, False);
}

bool colourScreen(int visualClass, int depth)
{
    return (visualClass == TrueColor || visualClass == DirectColor) && depth >= 15 && depth <= 32;
}

bool defaultScreenShowsColour(void* display, std::string* why)
{
    Display* dpy = asDisplay(display);
    if (dpy == nullptr)
        return true;
    const int screen = DefaultScreen(dpy);
    const Visual* visual = DefaultVisual(dpy, screen);
    const int depth = DefaultDepth(dpy, screen);
    const int visualClass = visual->c_class;
    if (colourScreen(visualClass, depth))
        return true;
    if (why != nullptr) {
        static const char* const names[] = {"StaticGray", "GrayScale", "StaticColor",
                                            "PseudoColor", "TrueColor", "DirectColor"};
        const char* name = visualClass >= 0 && visualClass <= 5 ? names[visualClass] : "unknown";
        *why = "the screen has " + std::to_string(depth) + " bits per pixel (" + name
            + "); the saver needs a true-colour screen of 15 bits or more";
    }
    return false;
}

} // namespace hakop::platform
