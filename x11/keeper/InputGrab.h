#pragma once
#include "x11/XHandles.h"
// The keyboard and the pointer held by one window, as an X11 screen saver holds
// them while it runs: no key press or pointer event reaches another program.
// Taking them can fail while another client holds a grab; callers retry.

namespace hakop::platform {

class InputGrab {
public:
    // display is an Xlib Display*; window the X11 id of a window that will be
    // mapped. Takes nothing yet.
    InputGrab(Display* display, unsigned long window);
    // Releases what is held.
    ~InputGrab();
    InputGrab(const InputGrab&) = delete;
    InputGrab& operator=(const InputGrab&) = delete;

    // Takes the input focus and whatever of the keyboard and the pointer is not
    // held yet. The window must be viewable; if it is not, nothing is tried.
    // Returns true once both are held.
    bool tryTake();
    // Gives back both grabs (so another client, such as a password prompt,
    // can take them) and makes sure the server has done so before returning.
    void release();

    bool held() const { return m_keyboard && m_pointer; }
    // True when the last tryTake found a grab held by another client (as
    // opposed to a window not viewable yet).
    bool refused() const { return m_refused; }
    // The server has dropped both grabs by itself (the window was unmapped):
    // forget them without asking it.
    void lost() { m_keyboard = m_pointer = false; }

private:
    Display* m_display;
    unsigned long m_window;
    bool m_keyboard = false;
    bool m_pointer = false;
    bool m_refused = false;
};

} // namespace hakop::platform
