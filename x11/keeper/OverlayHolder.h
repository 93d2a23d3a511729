#pragma once
// Holds the Composite overlay for a window living in it, against other
// clients that unmap it, shape it away or keep a window of their own above
// ours in it, at the rate such a client can do it (every millisecond): on a
// connection and a thread of its own, so that the answer to each change goes
// out as soon as the change is heard, whatever the event loop is busy with.
// See CompositeOverlay.h for what is undone and how.
#include "x11/XHandles.h"

#include <atomic>
#include <set>
#include <thread>

namespace hakop::platform {

class OverlayHolder {
public:
    // display names the display (an Xlib Display*; the holder opens a
    // connection of its own); overlay the Composite overlay of 'root', window
    // ours in it; managerSelection the selection a compositing manager of
    // the screen owns (an Atom). Holds nothing if the display cannot be
    // opened again.
    OverlayHolder(Display* display, unsigned long root, unsigned long overlay, unsigned long window,
                  unsigned long managerSelection);
    ~OverlayHolder();
    OverlayHolder(const OverlayHolder&) = delete;
    OverlayHolder& operator=(const OverlayHolder&) = delete;

    bool works() const { return m_dpy != nullptr; }
    // Whether something another client did was undone since the last call.
    bool takeUndone() { return m_undone.exchange(false); }

private:
    void run();

    Display* m_dpy = nullptr; // own connection, the thread's
    int m_wake = -1; // an eventfd: the destructor's word to stop
    unsigned long m_overlay;
    unsigned long m_window;
    int m_shapeEvent = -1;
    int m_selectionEvent = -1;
    bool m_managerRuns = false; // when the holding began
    std::atomic<bool> m_undone{false};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Keeps the windows in 'overlay' other than 'window' below it on 'display':
// raises 'window' over one that came above it the first time, unmaps one that
// did so before (recorded in 'climbed'), adding it to 'unmapped' if given.
// True when one was unmapped.
bool keepOthersBelow(Display* display, unsigned long overlay, unsigned long window,
                     std::set<unsigned long>& climbed, std::set<unsigned long>* unmapped = nullptr);

} // namespace hakop::platform
