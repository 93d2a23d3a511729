#include "ConnectionIdleSource.h"

#include "wayland/IdleNotification.h"
#include "x11/IdleCounter.h"

#include <QSocketNotifier>

namespace hakop::idle {

ConnectionIdleSource::ConnectionIdleSource(std::shared_ptr<void> connection, int fd, std::function<bool()> read,
                                           QString lostLine)
    : m_connection(std::move(connection))
    , m_read(std::move(read))
    , m_lostLine(std::move(lostLine))
    , m_readable(new QSocketNotifier(fd, QSocketNotifier::Read, this))
{
    connect(m_readable, &QSocketNotifier::activated, this, &ConnectionIdleSource::onReadable);
}

void ConnectionIdleSource::onReadable()
{
    if (!m_read()) {
        m_readable->setEnabled(false);
        loseOnce(m_lostLine);
    }
}

std::unique_ptr<IdleSource> listenTo(std::unique_ptr<platform::wayland::IdleNotification> notification)
{
    auto* raw = notification.get();
    auto source = std::make_unique<ConnectionIdleSource>(std::move(notification), raw->fd(),
                                                         [raw] { return raw->dispatch(); },
                                                         QStringLiteral("lost the connection to the Wayland compositor"));
    raw->onIdled = [sender = source.get()] { emit sender->idle(); };
    return source;
}

std::unique_ptr<IdleSource> listenTo(std::unique_ptr<x11::IdleCounter> counter)
{
    auto* raw = counter.get();
    // A lost X connection ends the program in Xlib: nothing comes back to say.
    auto source = std::make_unique<ConnectionIdleSource>(std::move(counter), raw->fd(), [raw] {
        raw->dispatch();
        return true;
    }, QString());
    raw->onIdle = [sender = source.get()] { emit sender->idle(); };
    return source;
}

} // namespace hakop::idle
