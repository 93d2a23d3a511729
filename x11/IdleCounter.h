#pragma once
// The X server's own count of idle time (the SYNC extension's IDLETIME
// counter): an alarm tells when it passes the time asked, and a second one
// when input brings it back to zero, so that the next spell counts afresh.
// The server's screensaver timer is left alone: the idle time is the same,
// but its firing blanks the screen over the saver. A connection of its own;
// read it when its descriptor is readable.
#include <functional>
#include <memory>

struct _XDisplay; // Xlib's Display, whose macros must not meet Qt's headers in the callers

namespace hakop::x11 {

class IdleCounter {
public:
    enum class Absence {
        NoDisplay, // no X display to open
        XWayland, // a Wayland compositor's X server: it sees none of the input to Wayland clients
        NoIdleCounter, // no SYNC extension or no IDLETIME counter
    };
    // The counter's alarms for idle spells of 'seconds', or null with the
    // reason in 'absence'. A connection lost later ends the program with one
    // line (Xlib ends it anyway).
    static std::unique_ptr<IdleCounter> open(unsigned seconds, Absence& absence);
    ~IdleCounter();
    IdleCounter(const IdleCounter&) = delete;
    IdleCounter& operator=(const IdleCounter&) = delete;

    // The user has touched nothing for the time asked: once per idle spell.
    std::function<void()> onIdle;

    int fd() const;
    // Handles the events the connection holds (call when it is readable).
    void dispatch();

private:
    using XId = unsigned long; // XSyncCounter, XSyncAlarm
    IdleCounter(_XDisplay* display, XId idleTime, int eventBase, unsigned seconds);
    XId makeAlarm(bool reachedOrMore, int milliseconds);
    void rearm(XId alarm);

    _XDisplay* m_display;
    int m_eventBase;
    XId m_idle;
    XId m_back = 0; // made at the first idle spell
    XId m_idleTime;
    int m_milliseconds;
};

} // namespace hakop::x11
