#pragma once
// The idle word of a window system the watcher holds a connection of its own
// to (a Wayland compositor's idle notifier, the X server's idle counter): the
// connection is read only when the server has written to it.
#include "IdleSource.h"

#include <functional>
#include <memory>

class QSocketNotifier;

namespace hakop::platform::wayland {
class IdleNotification;
}
namespace hakop::x11 {
class IdleCounter;
}

namespace hakop::idle {

class ConnectionIdleSource : public IdleSource {
    Q_OBJECT
public:
    // 'read' handles what 'fd' holds, and is false once the connection is
    // lost, which is then said with 'lostLine'. 'connection' is kept as
    // long as the source.
    ConnectionIdleSource(std::shared_ptr<void> connection, int fd, std::function<bool()> read, QString lostLine);

private:
    void onReadable();

    std::shared_ptr<void> m_connection;
    std::function<bool()> m_read;
    QString m_lostLine;
    QSocketNotifier* m_readable;
};

std::unique_ptr<IdleSource> listenTo(std::unique_ptr<platform::wayland::IdleNotification> notification);
std::unique_ptr<IdleSource> listenTo(std::unique_ptr<x11::IdleCounter> counter);

} // namespace hakop::idle
