#include "MutterIdleSource.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusServiceWatcher>

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace hakop::idle {

namespace {

QString service()
{
    return QStringLiteral("org.gnome.Mutter.IdleMonitor");
}

QString path()
{
    return QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core");
}

QString interface()
{
    return QStringLiteral("org.gnome.Mutter.IdleMonitor");
}

QDBusMessage monitorCall(const QString& method)
{
    return QDBusMessage::createMethodCall(service(), path(), interface(), method);
}

} // namespace

bool MutterIdleSource::sessionBusNamed()
{
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address != nullptr && *address != '\0')
        return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime != nullptr && *runtime != '\0' && ::access((std::string(runtime) + "/bus").c_str(), F_OK) == 0;
}

std::unique_ptr<MutterIdleSource> MutterIdleSource::find(unsigned seconds, QString& problem)
{
    // A session without a bus gets none: the library would start one of its
    // own for the X display ("autolaunch"), which no desktop listens on.
    if (!sessionBusNamed())
        return nullptr;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(service()).value())
        return nullptr;
    QDBusMessage add = monitorCall(QStringLiteral("AddIdleWatch"));
    add << qulonglong(seconds) * 1000u;
    const QDBusReply<uint> watch = bus.call(add);
    if (!watch.isValid()) {
        problem = "GNOME's idle monitor refused an idle watch: " + watch.error().message();
        return nullptr;
    }
    return std::unique_ptr<MutterIdleSource>(new MutterIdleSource(bus, watch.value()));
}

MutterIdleSource::MutterIdleSource(QDBusConnection bus, uint watch)
    : m_bus(std::move(bus))
    , m_watch(watch)
{
    m_bus.connect(service(), path(), interface(), QStringLiteral("WatchFired"), this, SLOT(onWatchFired(uint)));
    // The bus itself going (the session ending) comes as a signal from the
    // connection's own end.
    m_bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"), QStringLiteral("org.freedesktop.DBus.Local"),
                  QStringLiteral("Disconnected"), this, SLOT(onBusDisconnected()));
    auto* owner = new QDBusServiceWatcher(service(), m_bus, QDBusServiceWatcher::WatchForUnregistration, this);
    // A bus that goes also takes every name with it, and says that first.
    connect(owner, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        loseOnce(m_bus.isConnected() ? QStringLiteral("GNOME's idle monitor left the session bus")
                                     : QStringLiteral("lost the session bus"));
    });
}

MutterIdleSource::~MutterIdleSource()
{
    if (!m_bus.isConnected())
        return;
    QDBusMessage remove = monitorCall(QStringLiteral("RemoveWatch"));
    remove << m_watch;
    m_bus.send(remove); // no answer to wait for: the monitor drops it either way when we leave
}

void MutterIdleSource::onWatchFired(uint id)
{
    if (id == m_watch && !idleInhibited())
        emit idle();
}

// A program showing a film or a talk asks GNOME's session manager to hold off
// idleness; the idle monitor counts input only and fires all the same. No
// session manager, or one that does not answer soon: nothing holds it off.
bool MutterIdleSource::idleInhibited()
{
    constexpr uint idleFlag = 8;
    constexpr int patienceMs = 2000;
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.gnome.SessionManager"), QStringLiteral("/org/gnome/SessionManager"),
        QStringLiteral("org.gnome.SessionManager"), QStringLiteral("IsInhibited"));
    ask << idleFlag;
    const QDBusReply<bool> inhibited = m_bus.call(ask, QDBus::Block, patienceMs);
    return inhibited.isValid() && inhibited.value();
}

void MutterIdleSource::onBusDisconnected()
{
    loseOnce(QStringLiteral("lost the session bus"));
}

} // namespace hakop::idle
