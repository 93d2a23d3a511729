#pragma once
// GNOME's idle monitor (org.gnome.Mutter.IdleMonitor on the session bus),
// open to every client of the session. An idle watch there stays armed: it
// fires each time the idle time reaches its interval, and input starts the
// count afresh, so one watch covers every idle spell of the session. A spell
// the session manager is asked to hold off (a film playing) starts nothing.
#include "IdleSource.h"

#include <QDBusConnection>

#include <memory>

namespace hakop::idle {

class MutterIdleSource : public IdleSource {
    Q_OBJECT
public:
    // The source, or null when the session bus has no GNOME idle monitor.
    // A monitor that is there but refuses the watch is a failure: 'problem'
    // says it in one line and null is returned.
    static std::unique_ptr<MutterIdleSource> find(unsigned seconds, QString& problem);
    ~MutterIdleSource() override;

private slots:
    void onWatchFired(uint id);
    void onBusDisconnected();

private:
    explicit MutterIdleSource(QDBusConnection bus, uint watch);
    // Whether the environment names a session bus: the address, or the
    // user's bus in the runtime folder, where the library looks without one.
    static bool sessionBusNamed();
    bool idleInhibited();

    QDBusConnection m_bus;
    uint m_watch;
};

} // namespace hakop::idle
