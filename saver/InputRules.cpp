#include "InputRules.h"

#include <xkbcommon/xkbcommon-keysyms.h>

#include <cstdlib>

namespace hakop {

bool keyKeepsSaver(int key, Qt::KeyboardModifiers modifiers)
{
    if (key != Qt::Key_Tab && key != Qt::Key_Backtab)
        return false;
    return !(modifiers & (Qt::ControlModifier | Qt::AltModifier));
}

bool keysymKeepsSaver(std::uint32_t keysym, bool ctrl, bool alt)
{
    // Shift+Tab arrives as ISO_Left_Tab, Qt's Backtab.
    int key = Qt::Key_unknown;
    if (keysym == XKB_KEY_Tab)
        key = Qt::Key_Tab;
    else if (keysym == XKB_KEY_ISO_Left_Tab)
        key = Qt::Key_Backtab;
    Qt::KeyboardModifiers modifiers;
    if (ctrl)
        modifiers |= Qt::ControlModifier;
    if (alt)
        modifiers |= Qt::AltModifier;
    return keyKeepsSaver(key, modifiers);
}

bool MouseThreshold::move(std::int32_t x, std::int32_t y)
{
    bool ends = false;
    if (m_last != QPoint(0, 0)) {
        // In 64 bits: positions far off screen must not wrap.
        ends = std::llabs(std::int64_t(x) - m_last.x()) > Limit || std::llabs(std::int64_t(y) - m_last.y()) > Limit;
    }
    m_last = QPoint(x, y);
    return ends;
}

bool LeftCapture::moveReachesWindow(bool leftHeld, const std::function<bool()>& overSprite)
{
    if (!leftHeld)
        m_state = State::None;
    switch (m_state) {
    case State::Window: return true;
    case State::Sprite: return false;
    case State::None: break;
    }
    return !overSprite();
}

} // namespace hakop
