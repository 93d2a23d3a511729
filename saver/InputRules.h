#pragma once
// Which input ends the saver: pure rules, no window system, one set per saver.
#include <QPoint>
#include <Qt>

#include <cstdint>
#include <functional>

namespace hakop {

// The key-downs the saver keeps running through: Tab, with or without Shift,
// but not with Ctrl or Alt (they go to focus handling, and there is nothing to
// move the focus to). Every other key-down asks the window to close.
bool keyKeepsSaver(int key, Qt::KeyboardModifiers modifiers);
// The same rule for a key decoded with xkbcommon (Wayland): its keysym, with
// the modifiers the keymap says are in effect.
bool keysymKeepsSaver(std::uint32_t keysym, bool ctrl, bool alt);

// The mouse threshold: a move of more than 5 pixels on either axis since the
// last recorded move ends the saver. Compared with the last move, never with
// the start, so small steps add up without ending it. A recorded (0, 0) means
// "nothing recorded yet", as the first move does.
class MouseThreshold {
public:
    static constexpr std::int64_t Limit = 5;

    // Records a move to (x, y), in device pixels; true when it ends the saver.
    bool move(std::int32_t x, std::int32_t y);
    // Forgets the last move, as at the saver's start.
    void reset() { m_last = {0, 0}; }
    QPoint last() const { return m_last; }

private:
    QPoint m_last{0, 0};
};

// Who gets the mouse moves. A left press decides, until its release, whether
// the moves go to the window (pressed over the background) or to the figure
// pressed on, which ignores them; without a held left button a move over a
// figure belongs to it.
class LeftCapture {
public:
    void press(bool overSprite) { m_state = overSprite ? State::Sprite : State::Window; }
    void release() { m_state = State::None; }
    // Whether a move reaches the window's threshold. 'leftHeld' is the button
    // state the move reports: a release we never saw (it went to a password
    // prompt) ends the capture too. 'overSprite' is only asked when it matters.
    bool moveReachesWindow(bool leftHeld, const std::function<bool()>& overSprite);

private:
    enum class State { None, Window, Sprite };
    State m_state = State::None;
};

} // namespace hakop
