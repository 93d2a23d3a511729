#include "WaylandIdleSource.h"

#include <QSocketNotifier>

#include <wayland-client.h>

#include "ext-idle-notify-v1-client-protocol.h"

#include <cstdlib>
#include <cstring>

namespace hakop::idle {

namespace {

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    static_cast<WaylandIdleSource*>(data)->announce(registry, name, interface, version);
}

void onGlobalRemove(void*, wl_registry*, uint32_t) { }

const wl_registry_listener registryListener = {onGlobal, onGlobalRemove};

void onIdled(void* data, ext_idle_notification_v1*)
{
    static_cast<WaylandIdleSource*>(data)->idled();
}

void onResumed(void*, ext_idle_notification_v1*) { }

const ext_idle_notification_v1_listener notificationListener = {onIdled, onResumed};

} // namespace

std::unique_ptr<WaylandIdleSource> WaylandIdleSource::find(unsigned seconds, Absence& absence)
{
    // Without a runtime folder only an absolute socket path can name a
    // compositor (and the library would complain on stderr in its own words).
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const char* socket = std::getenv("WAYLAND_DISPLAY");
    if ((runtime == nullptr || *runtime == '\0') && (socket == nullptr || *socket != '/')) {
        absence = Absence::NoCompositor;
        return nullptr;
    }
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        absence = Absence::NoCompositor;
        return nullptr;
    }
    std::unique_ptr<WaylandIdleSource> source(new WaylandIdleSource(display));
    source->m_registry = wl_display_get_registry(display);
    wl_registry_add_listener(source->m_registry, &registryListener, source.get());
    if (wl_display_roundtrip(display) < 0) {
        absence = Absence::NoCompositor;
        return nullptr;
    }
    if (source->m_notifier == nullptr || source->m_seat == nullptr) {
        absence = Absence::NoNotifier;
        return nullptr;
    }
    source->m_notification
        = ext_idle_notifier_v1_get_idle_notification(source->m_notifier, seconds * 1000u, source->m_seat);
    ext_idle_notification_v1_add_listener(source->m_notification, &notificationListener, source.get());
    if (wl_display_flush(display) < 0) {
        absence = Absence::NoCompositor;
        return nullptr;
    }
    source->m_readable = new QSocketNotifier(wl_display_get_fd(display), QSocketNotifier::Read, source.get());
    connect(source->m_readable, &QSocketNotifier::activated, source.get(), &WaylandIdleSource::onReadable);
    return source;
}

WaylandIdleSource::WaylandIdleSource(wl_display* display)
    : m_display(display)
{
}

WaylandIdleSource::~WaylandIdleSource()
{
    if (m_notification != nullptr)
        ext_idle_notification_v1_destroy(m_notification);
    if (m_notifier != nullptr)
        ext_idle_notifier_v1_destroy(m_notifier);
    if (m_seat != nullptr)
        wl_seat_destroy(m_seat);
    if (m_registry != nullptr)
        wl_registry_destroy(m_registry);
    wl_display_disconnect(m_display);
}

void WaylandIdleSource::announce(wl_registry* registry, uint32_t name, const char* interface, uint32_t)
{
    if (m_notifier == nullptr && std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0) {
        m_notifier = static_cast<ext_idle_notifier_v1*>(
            wl_registry_bind(registry, name, &ext_idle_notifier_v1_interface, 1));
    } else if (m_seat == nullptr && std::strcmp(interface, wl_seat_interface.name) == 0) {
        // Idle time is the seat's: the first one is the user's.
        m_seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    }
}

void WaylandIdleSource::onReadable()
{
    // The descriptor is readable, so this reads at once. The listeners send
    // nothing back: there is nothing to flush before sleeping again.
    if (wl_display_dispatch(m_display) < 0) {
        m_readable->setEnabled(false);
        loseOnce(QStringLiteral("lost the connection to the Wayland compositor"));
    }
}

} // namespace hakop::idle
