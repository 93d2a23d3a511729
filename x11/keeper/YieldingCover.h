#pragma once
// While the saver waits for its verifier's answer (its event loop blocked
// meanwhile), a thread of its own keeps the saver window above every other
// program's window and lets only the windows of this process's children (the
// verifier's helper and what it starts) lie above it, window-manager frames
// included: a prompt shows over the saver, every other program's window
// stays covered. Where the server cannot tell a window's process (no
// X-Resource), each window mapped since the cover began may lie above.
#include "x11/XHandles.h"

#include <atomic>
#include <functional>
#include <thread>

namespace hakop::platform {

class YieldingCover {
public:
    // display is an Xlib Display* selecting the root's substructure events,
    // the cover's alone until it stops; window a child of 'root'. 'picture'
    // is what a stand-in shows (see stoodIn). Starts at once.
    YieldingCover(Display* display, unsigned long window, unsigned long root, unsigned long picture);
    // Stops; a stand-in stays until the connection closes.
    ~YieldingCover();
    YieldingCover(const YieldingCover&) = delete;
    YieldingCover& operator=(const YieldingCover&) = delete;

    // Joins the thread; the connection is the caller's again.
    void stop();
    bool running() const { return m_thread.joinable(); }
    // Whether the window was destroyed meanwhile and a plain window of the
    // connection, showing the picture (an X pixmap of the window's size; 0:
    // black), covered its place (said so on stderr). Once stopped.
    bool stoodIn() const { return m_standIn != 0; }

private:
    void run();
    // Puts the window above every viewable sibling that is not 'allowed' and
    // below the allowed ones, raising an allowed one it cannot get below.
    void coverAllBut(const std::function<bool(unsigned long)>& allowed);
    void standIn();

    Display* m_dpy;
    unsigned long m_window;
    unsigned long m_root;
    unsigned long m_picture;
    unsigned long m_standIn = 0; // set by the thread, read after it is joined
    int m_place[4] = {}; // x, y, width, height, when the cover began
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace hakop::platform
