// The user's hand on a headless mutter, for the idle tests: moves the pointer
// through mutter's remote desktop service and reports the test's own idle
// watch. The remote desktop session lives as long as this program (mutter
// ends a session whose client leaves), so one runs for a whole test.
// Reads commands on stdin, one a line, and answers on stdout:
//   "move"        -> "moved" once the pointer moved
//   "watch MS"    -> "watching"; then "fired" each time that watch fires
//   "inhibit" / "allow" -> "inhibited" / "allowed": a session manager that
//                    holds idleness off, as for a film playing, or not
// Starts with "ready", or one line on stderr and exit 1.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QSocketNotifier>

#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

QString remoteDesktop()
{
    return QStringLiteral("org.gnome.Mutter.RemoteDesktop");
}

QString idleMonitor()
{
    return QStringLiteral("org.gnome.Mutter.IdleMonitor");
}

QString monitorPath()
{
    return QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core");
}

void say(const char* line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

// GNOME's session manager, as far as idleness goes.
class SessionManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.SessionManager")
public:
    bool idleHeldOff = false;

public slots:
    bool IsInhibited(uint flags) { return idleHeldOff && (flags & 8u) != 0; }
};

class Hand : public QObject {
    Q_OBJECT
public:
    bool begin()
    {
        QDBusReply<QDBusObjectPath> session = bus.call(QDBusMessage::createMethodCall(
            remoteDesktop(), QStringLiteral("/org/gnome/Mutter/RemoteDesktop"), remoteDesktop(),
            QStringLiteral("CreateSession")));
        if (!session.isValid())
            return fail("CreateSession", session.error().message());
        path = session.value().path();
        QDBusReply<void> started = bus.call(sessionCall(QStringLiteral("Start")));
        if (!started.isValid())
            return fail("Start", started.error().message());
        bus.connect(idleMonitor(), monitorPath(), idleMonitor(), QStringLiteral("WatchFired"), this,
                    SLOT(onWatchFired(uint)));
        return true;
    }

    void command(const std::string& line)
    {
        if (line == "move") {
            QDBusMessage move = sessionCall(QStringLiteral("NotifyPointerMotionRelative"));
            move << 3.0 << 2.0;
            QDBusReply<void> moved = bus.call(move);
            if (!moved.isValid())
                fail("NotifyPointerMotionRelative", moved.error().message());
            say("moved");
        } else if (line.rfind("watch ", 0) == 0) {
            QDBusMessage add = QDBusMessage::createMethodCall(idleMonitor(), monitorPath(), idleMonitor(),
                                                              QStringLiteral("AddIdleWatch"));
            add << qulonglong(std::stoull(line.substr(6)));
            QDBusReply<uint> id = bus.call(add);
            if (!id.isValid())
                fail("AddIdleWatch", id.error().message());
            watch = id.value();
            say("watching");
        } else if (line == "inhibit" || line == "allow") {
            if (!sessionManager.parent()) {
                sessionManager.setParent(this);
                if (!bus.registerObject(QStringLiteral("/org/gnome/SessionManager"), &sessionManager,
                                        QDBusConnection::ExportAllSlots)
                    || !bus.registerService(QStringLiteral("org.gnome.SessionManager")))
                    fail("registerService", bus.lastError().message());
            }
            sessionManager.idleHeldOff = line == "inhibit";
            say(line == "inhibit" ? "inhibited" : "allowed");
        }
    }

private slots:
    void onWatchFired(uint id)
    {
        if (id == watch)
            say("fired");
    }

private:
    QDBusMessage sessionCall(const QString& method)
    {
        return QDBusMessage::createMethodCall(remoteDesktop(), path, remoteDesktop() + ".Session", method);
    }
    bool fail(const char* what, const QString& why)
    {
        std::fprintf(stderr, "mutter_hand: %s: %s\n", what, qPrintable(why));
        std::exit(1);
        return false;
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    QString path;
    uint watch = 0;
    SessionManager sessionManager;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    Hand hand;
    if (!hand.begin())
        return 1;
    std::string pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, std::size_t(got));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
            hand.command(pending.substr(0, end));
    });
    say("ready");
    return QCoreApplication::exec();
}

#include "mutter_hand.moc"
