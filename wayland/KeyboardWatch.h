#pragma once
// Whether the seat's keyboard is where the saver can read it: on one of its
// surfaces. A cover that is not exclusive (a fullscreen window) can lose the
// keyboard to another window, or never be given it (GNOME's open overview);
// the saver must not go on as if it held the keys. Judged once a batch of
// events is dispatched, since the keyboard may move from one of our surfaces
// to another within it.
#include <chrono>
#include <functional>
#include <optional>

struct wl_surface;

namespace hakop::platform::wayland {

class Seat;

class KeyboardWatch {
public:
    enum class Elsewhere {
        No,
        Taken, // it left our surfaces for another's
        NeverCame, // the seat has had a keyboard this long, never on our surfaces
    };
    // 'ours' tells the saver's surfaces. How long a keyboard may take to
    // reach them counts from its arrival: a virtual one may come late.
    static constexpr std::chrono::seconds grace{2};

    KeyboardWatch(const Seat& seat, std::function<bool(wl_surface*)> ours);

    // The seat's keyboard left 'surface'.
    void left(wl_surface* surface);
    // The keyboard was lent (to a verifier's prompt) and is given back: a
    // leave meanwhile was no loss.
    void lent() { m_left = false; }
    // After a batch: where the keyboard is. NeverCame is said again only
    // after another grace, so that a refused close is not asked at once.
    Elsewhere judge(std::chrono::steady_clock::time_point now);

private:
    const Seat& m_seat;
    std::function<bool(wl_surface*)> m_ours;
    bool m_left = false; // from one of our surfaces, in the batch being dispatched
    bool m_came = false; // to one of our surfaces, ever
    std::optional<std::chrono::steady_clock::time_point> m_due;
};

} // namespace hakop::platform::wayland
