#include "SaverSession.h"

#include "CursorCounter.h"
#include "Verifier.h"
#include "platform/Failure.h"

#include <cmath>
#include <exception>
#include <string>
#include <utility>

namespace hakop {

SaverSession::SaverSession(SaverShell& shell)
    : m_shell(shell)
{
}

SaverSession::~SaverSession()
{
    if (m_begun)
        CursorCounter::setOnVisibilityChanged(nullptr);
}

void SaverSession::begin()
{
    m_begun = true;
    CursorCounter::setOnVisibilityChanged([this](bool visible) { m_shell.showCursor(visible); });
    CursorCounter::ShowCursor(false);
    m_mouse.reset();
}

bool SaverSession::keyDown(int key, Qt::KeyboardModifiers modifiers)
{
    return m_state == State::Running && !keyKeepsSaver(key, modifiers);
}

bool SaverSession::keysymDown(std::uint32_t keysym, bool ctrl, bool alt)
{
    return m_state == State::Running && !keysymKeepsSaver(keysym, ctrl, alt);
}

bool SaverSession::pointerEntered(const PointerAt& at)
{
    if (m_state != State::Running)
        return false;
    // Coming onto another surface starts the count afresh, where the pointer came in.
    if (at.surface != m_lastSurface)
        m_mouse.reset();
    m_lastSurface = at.surface;
    const QPoint device = devicePoint(at.position, at.scale);
    if (at.figures && m_shell.figureAt(device))
        return false;
    return m_mouse.move(device.x(), device.y());
}

bool SaverSession::pointerMoved(const PointerAt& at, bool leftHeld)
{
    if (m_state != State::Running)
        return false;
    const QPoint device = devicePoint(at.position, at.scale);
    if (!m_leftCapture.moveReachesWindow(leftHeld, [&] { return at.figures && m_shell.figureAt(device); }))
        return false;
    return m_mouse.move(device.x(), device.y());
}

void SaverSession::leftButton(bool pressed, const PointerAt& at)
{
    if (m_state == State::Closed)
        return;
    if (!pressed) {
        m_leftCapture.release();
        return;
    }
    m_leftCapture.press(at.figures && m_shell.figureAt(devicePoint(at.position, at.scale)));
}

bool SaverSession::keyboardLost()
{
    if (m_state != State::Running)
        return false;
    if (!std::exchange(m_toldKeyboardLost, true))
        logSurvived("another window took the keyboard from the saver: taken for a key, the saver asks to close");
    return true;
}

bool SaverSession::keyboardNeverCame()
{
    if (m_state != State::Running)
        return false;
    if (!std::exchange(m_toldKeyboardNeverCame, true))
        logSurvived("the desktop gave the saver no keyboard (on GNOME: is the Activities overview open?): taken "
                    "for a key, the saver asks to close");
    return true;
}

bool SaverSession::closeRequested()
{
    return m_state == State::Running;
}

bool SaverSession::closeQuery(unsigned long window)
{
    if (m_state != State::Running)
        return false;
    m_state = State::Asking;
    // Should a shell's step fail, the saver still runs on with the cursor hidden.
    struct Unwind {
        SaverSession& session;
        ~Unwind()
        {
            if (session.m_state == State::Asking) {
                CursorCounter::ShowCursor(false);
                session.m_state = State::Running;
            }
        }
    } unwind{*this};

    bool canClose = true;
    CursorCounter::ShowCursor(true);
    if (m_verifier != nullptr) {
        m_shell.letGoOfInput();
        canClose = ask(window);
        m_shell.dropInputSoFar();
        // Moves start afresh from the next one.
        m_mouse.reset();
        m_shell.holdInputAgain();
    }
    CursorCounter::ShowCursor(false);
    m_state = State::Running;
    m_shell.redrawBackdrop();
    return canClose;
}

bool SaverSession::ask(unsigned long window)
{
    // Whatever goes wrong in asking keeps the screen covered.
    try {
        return m_verifier->mayClose(window);
    } catch (const std::exception& failure) {
        logSurvived(std::string("asking the password verifier failed (") + failure.what() + "); the saver stays");
    } catch (...) {
        logSurvived("asking the password verifier failed; the saver stays");
    }
    return false;
}

void SaverSession::close()
{
    m_state = State::Closed;
    m_verifier = nullptr;
}

QPoint SaverSession::devicePoint(QPointF logical, qreal scale)
{
    const QPointF p = logical * scale;
    return QPoint(static_cast<int>(std::floor(p.x() + 0.5)), static_cast<int>(std::floor(p.y() + 0.5)));
}

} // namespace hakop
