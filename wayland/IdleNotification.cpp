#include "IdleNotification.h"

#include "Protocols.h"

#include <cstdlib>
#include <cstring>

namespace hakop::platform::wayland {

namespace {

void globalRemove(void*, wl_registry*, std::uint32_t) { }

void resumed(void*, ext_idle_notification_v1*) { }

} // namespace

std::unique_ptr<IdleNotification> IdleNotification::open(unsigned seconds, Absence& absence)
{
    const auto fail = [&absence](Absence why) {
        absence = why;
        return nullptr;
    };
    // Without a runtime folder only an absolute socket path can name a
    // compositor (and the library would complain on stderr in its own words).
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const char* socket = std::getenv("WAYLAND_DISPLAY");
    if ((runtime == nullptr || *runtime == '\0') && (socket == nullptr || *socket != '/'))
        return fail(Absence::NoCompositor);
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr)
        return fail(Absence::NoCompositor);
    std::unique_ptr<IdleNotification> notification(new IdleNotification(display));
    notification->m_registry = wl_display_get_registry(display);
    static const wl_registry_listener registryListener = {.global = &IdleNotification::global,
                                                          .global_remove = &globalRemove};
    wl_registry_add_listener(notification->m_registry, &registryListener, notification.get());
    if (wl_display_roundtrip(display) < 0)
        return fail(Absence::NoCompositor);
    if (notification->m_notifier == nullptr || notification->m_seat == nullptr)
        return fail(Absence::NoNotifier);
    notification->m_notification = ext_idle_notifier_v1_get_idle_notification(
        notification->m_notifier, seconds * 1000u, notification->m_seat);
    static const ext_idle_notification_v1_listener listener = {.idled = &IdleNotification::idled,
                                                               .resumed = &resumed};
    ext_idle_notification_v1_add_listener(notification->m_notification, &listener, notification.get());
    if (wl_display_flush(display) < 0)
        return fail(Absence::NoCompositor);
    return notification;
}

IdleNotification::IdleNotification(wl_display* display)
    : m_display(display)
{
}

IdleNotification::~IdleNotification()
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

void IdleNotification::global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                              std::uint32_t)
{
    auto* self = static_cast<IdleNotification*>(data);
    if (self->m_notifier == nullptr && std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0) {
        self->m_notifier = static_cast<ext_idle_notifier_v1*>(
            wl_registry_bind(registry, name, &ext_idle_notifier_v1_interface, 1));
    } else if (self->m_seat == nullptr && std::strcmp(interface, wl_seat_interface.name) == 0) {
        // Idle time is the seat's: the first one is the user's.
        self->m_seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    }
}

void IdleNotification::idled(void* data, ext_idle_notification_v1*)
{
    auto* self = static_cast<IdleNotification*>(data);
    if (self->onIdled)
        self->onIdled();
}

int IdleNotification::fd() const
{
    return wl_display_get_fd(m_display);
}

bool IdleNotification::dispatch()
{
    // Called when the descriptor is readable, so this reads at once. The
    // listeners send nothing back: there is nothing to flush before sleeping
    // again.
    return wl_display_dispatch(m_display) >= 0;
}

} // namespace hakop::platform::wayland
