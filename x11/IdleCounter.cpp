#include "IdleCounter.h"

#include "XWayland.h"
#include "platform/Log.h"

#include <X11/Xlib.h>
#include <X11/extensions/sync.h>

#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace hakop::x11 {

namespace {

// Xlib ends the program when the connection breaks; say so in our words first.
int onDisplayLost(Display*)
{
    logLine("lost the connection to the X display");
    ::_exit(1);
}

} // namespace

std::unique_ptr<IdleCounter> IdleCounter::open(unsigned seconds, Absence& absence)
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        absence = Absence::NoDisplay;
        return nullptr;
    }
    if (platform::isXWayland(display)) {
        XCloseDisplay(display);
        absence = Absence::XWayland;
        return nullptr;
    }
    int event = 0, error = 0, major = 0, minor = 0;
    XSyncCounter idleTime = None;
    if (XSyncQueryExtension(display, &event, &error) && XSyncInitialize(display, &major, &minor)) {
        int count = 0;
        XSyncSystemCounter* counters = XSyncListSystemCounters(display, &count);
        for (int i = 0; i < count; ++i)
            if (std::strcmp(counters[i].name, "IDLETIME") == 0)
                idleTime = counters[i].counter;
        if (counters != nullptr)
            XSyncFreeSystemCounterList(counters);
    }
    if (idleTime == None) {
        XCloseDisplay(display);
        absence = Absence::NoIdleCounter;
        return nullptr;
    }
    XSetIOErrorHandler(onDisplayLost);
    return std::unique_ptr<IdleCounter>(new IdleCounter(display, idleTime, event, seconds));
}

IdleCounter::IdleCounter(Display* display, XId idleTime, int eventBase, unsigned seconds)
    : m_display(display)
    , m_eventBase(eventBase)
    , m_idleTime(idleTime)
    , m_milliseconds(int(seconds * 1000u))
{
    m_idle = makeAlarm(true, m_milliseconds);
    XFlush(m_display);
}

IdleCounter::~IdleCounter()
{
    XCloseDisplay(m_display); // the server drops our alarms with the connection
}

// An alarm that fires once when the idle time reaches 'milliseconds' (or is
// back at or below it); changing it later arms it again.
IdleCounter::XId IdleCounter::makeAlarm(bool reachedOrMore, int milliseconds)
{
    XSyncAlarmAttributes attributes {};
    attributes.trigger.counter = m_idleTime;
    attributes.trigger.value_type = XSyncAbsolute;
    attributes.trigger.test_type = reachedOrMore ? XSyncPositiveComparison : XSyncNegativeComparison;
    XSyncIntToValue(&attributes.trigger.wait_value, milliseconds);
    XSyncIntToValue(&attributes.delta, 0);
    attributes.events = True;
    return XSyncCreateAlarm(m_display,
                            XSyncCACounter | XSyncCAValueType | XSyncCATestType | XSyncCAValue | XSyncCADelta
                                | XSyncCAEvents,
                            &attributes);
}

void IdleCounter::rearm(XId alarm)
{
    XSyncAlarmAttributes attributes {};
    attributes.events = True;
    XSyncChangeAlarm(m_display, alarm, XSyncCAEvents, &attributes);
}

int IdleCounter::fd() const
{
    return ConnectionNumber(m_display);
}

void IdleCounter::dispatch()
{
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type != m_eventBase + XSyncAlarmNotify)
            continue;
        const auto& alarm = reinterpret_cast<const XSyncAlarmNotifyEvent&>(event);
        if (alarm.alarm == m_idle) {
            // Input brings the count back below the time asked: that is the
            // user's return, and the next spell is armed then.
            if (m_back == None)
                m_back = makeAlarm(false, m_milliseconds - 1);
            else
                rearm(m_back);
            if (onIdle)
                onIdle();
        } else if (alarm.alarm == m_back) {
            rearm(m_idle);
        }
    }
    XFlush(m_display);
}

} // namespace hakop::x11
