#pragma once
// A Wayland compositor's idle notifier (ext_idle_notifier_v1, as KWin offers
// it): one notification object tells of every idle spell ("idled") and of
// the user's return ("resumed") for as long as it lives. The connection is
// read only when the compositor has written to it.
#include "IdleSource.h"

#include <memory>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct ext_idle_notifier_v1;
struct ext_idle_notification_v1;
class QSocketNotifier;

namespace hakop::idle {

class WaylandIdleSource : public IdleSource {
    Q_OBJECT
public:
    enum class Absence {
        NoCompositor, // no Wayland compositor to connect to
        NoNotifier, // a compositor without ext_idle_notifier_v1 (or without a seat)
    };
    // The source, or null with the reason in 'absence'.
    static std::unique_ptr<WaylandIdleSource> find(unsigned seconds, Absence& absence);
    ~WaylandIdleSource() override;

    // Registry and notification callbacks; not for other callers.
    void announce(wl_registry* registry, uint32_t name, const char* interface, uint32_t version);
    void idled() { emit idle(); }

private:
    explicit WaylandIdleSource(wl_display* display);
    void onReadable();

    wl_display* m_display;
    wl_registry* m_registry = nullptr;
    wl_seat* m_seat = nullptr;
    ext_idle_notifier_v1* m_notifier = nullptr;
    ext_idle_notification_v1* m_notification = nullptr;
    QSocketNotifier* m_readable = nullptr;
};

} // namespace hakop::idle
