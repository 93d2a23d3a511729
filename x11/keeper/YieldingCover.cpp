#include "YieldingCover.h"

#include "platform/Log.h"
#include "x11/ClientProcess.h"
#include "x11/WindowTree.h"

#include <X11/Xlib.h>
#include <poll.h>
#include <unistd.h>

#include <map>
#include <set>
#include <vector>

namespace hakop::platform {

YieldingCover::YieldingCover(Display* display, unsigned long window, unsigned long root, unsigned long picture)
    : m_dpy(display)
    , m_window(window)
    , m_root(root)
    , m_picture(picture)
{
    XWindowAttributes a{};
    if (XGetWindowAttributes(m_dpy, m_window, &a) != 0) {
        m_place[0] = a.x;
        m_place[1] = a.y;
        m_place[2] = a.width;
        m_place[3] = a.height;
    }
    m_thread = std::thread([this] { run(); });
}

YieldingCover::~YieldingCover()
{
    stop();
}

void YieldingCover::stop()
{
    if (!m_thread.joinable())
        return;
    m_stop = true;
    m_thread.join();
}

void YieldingCover::run()
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
    while (!m_stop) {
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
void YieldingCover::standIn()
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

void YieldingCover::coverAllBut(const std::function<bool(unsigned long)>& allowed)
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

} // namespace hakop::platform
