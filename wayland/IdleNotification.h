#pragma once
// A Wayland compositor's idle notifier (ext_idle_notifier_v1, as KWin offers
// it): one notification object tells of every idle spell ("idled") and of
// the user's return ("resumed") for as long as it lives. It keeps a
// connection of its own with nothing but the seat and the notifier bound:
// it lives as long as the session, so it takes no keyboard, keymap or
// outputs (wayland/Connection takes those for the saver). Read it when its
// descriptor is readable.
#include <cstdint>
#include <functional>
#include <memory>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct ext_idle_notifier_v1;
struct ext_idle_notification_v1;

namespace hakop::platform::wayland {

class IdleNotification {
public:
    enum class Absence {
        NoCompositor, // no Wayland compositor to connect to
        NoNotifier, // a compositor without ext_idle_notifier_v1 (or without a seat)
    };
    // A notification for idle spells of 'seconds', or null with the reason
    // in 'absence'.
    static std::unique_ptr<IdleNotification> open(unsigned seconds, Absence& absence);
    ~IdleNotification();
    IdleNotification(const IdleNotification&) = delete;
    IdleNotification& operator=(const IdleNotification&) = delete;

    // The user has touched nothing for the time asked: once per idle spell.
    std::function<void()> onIdled;

    int fd() const;
    // Reads what the connection holds (call when it is readable) and
    // dispatches it. False once the compositor is gone.
    bool dispatch();

private:
    explicit IdleNotification(wl_display* display);
    static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version);
    static void idled(void* data, ext_idle_notification_v1* notification);

    wl_display* m_display;
    wl_registry* m_registry = nullptr;
    wl_seat* m_seat = nullptr;
    ext_idle_notifier_v1* m_notifier = nullptr;
    ext_idle_notification_v1* m_notification = nullptr;
};

} // namespace hakop::platform::wayland
