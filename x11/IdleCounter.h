#pragma once
// The X server's own count of idle time (the SYNC extension's IDLETIME
// counter): an alarm wakes us when it passes the time asked, and a second
// one when input brings it back to zero, so that the next spell counts
// afresh. The server's screensaver timer is left alone: the idle time is
// the same, but its firing blanks the screen over the saver.
#include "IdleSource.h"

#include <memory>

class QSocketNotifier;
struct _XDisplay; // Xlib's Display, whose macros must not meet Qt's headers here

namespace hakop::idle {

class X11IdleSource : public IdleSource {
    Q_OBJECT
public:
    enum class Absence {
        NoDisplay, // no X display to open
        XWayland, // a Wayland compositor's X server: it sees none of the input to Wayland clients
        NoIdleCounter, // no SYNC extension or no IDLETIME counter
    };
    static std::unique_ptr<X11IdleSource> find(unsigned seconds, Absence& absence);
    ~X11IdleSource() override;

private:
    using XId = unsigned long; // XSyncCounter, XSyncAlarm
    X11IdleSource(_XDisplay* display, XId idleTime, int eventBase, unsigned seconds);
    XId makeAlarm(bool reachedOrMore, int milliseconds);
    void rearm(XId alarm);
    void onReadable();

    _XDisplay* m_display;
    int m_eventBase;
    XId m_idle;
    XId m_back = 0; // made at the first idle spell
    XId m_idleTime;
    int m_milliseconds;
    QSocketNotifier* m_readable;
};

} // namespace hakop::idle
