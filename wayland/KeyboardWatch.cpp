#include "KeyboardWatch.h"

#include "Seat.h"

#include <utility>

namespace hakop::platform::wayland {

KeyboardWatch::KeyboardWatch(const Seat& seat, std::function<bool(wl_surface*)> ours)
    : m_seat(seat)
    , m_ours(std::move(ours))
{
}

void KeyboardWatch::left(wl_surface* surface)
{
    if (m_ours(surface))
        m_left = true;
}

KeyboardWatch::Elsewhere KeyboardWatch::judge(std::chrono::steady_clock::time_point now)
{
    // A seat that lost its last keyboard (a virtual one that ended) is no
    // other window holding the keys.
    const bool onOurs = m_ours(m_seat.keyboardFocus());
    if (std::exchange(m_left, false) && m_seat.hasKeyboard() && !onOurs)
        return Elsewhere::Taken;
    m_came = m_came || onOurs;
    if (m_came || !m_seat.hasKeyboard()) {
        m_due.reset();
        return Elsewhere::No;
    }
    if (!m_due) {
        m_due = now + grace;
        return Elsewhere::No;
    }
    if (now < *m_due)
        return Elsewhere::No;
    m_due = now + grace;
    return Elsewhere::NeverCame;
}

} // namespace hakop::platform::wayland
