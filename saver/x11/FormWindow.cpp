// The saver window's native side: the X window made the saver's, built
// again when another client destroys it, and the keeper that holds the
// input and the screen for it.

#include "Main.h"

#include "platform/Failure.h"
#include "x11/ToolkitConnection.h"
#include "x11/WindowClass.h"
#include "x11/keeper/InputFence.h"

#include <QExposeEvent>
#include <QWindow>

namespace hakop {

bool THAKOPForm::holdsInput() const
{
    return m_keeper && m_keeper->holdsInput();
}

// Makes the native window the saver's: its class, its caption, the expose
// filter, and a keeper for it.
void THAKOPForm::adoptWindow()
{
    const auto window = static_cast<unsigned long>(winId());
    platform::setWindowClass(platform::toolkitDisplay(), window, "hakop", "THAKOPForm");
    // Qt would append the application's display name to the caption.
    platform::setWindowCaption(platform::toolkitDisplay(), window, "HAKOPForm");
    if (QWindow* handle = windowHandle())
        handle->installEventFilter(this);
    m_keeper = std::make_unique<ScreenKeeper>(platform::toolkitDisplay(), window, SceneDriver::TickLength);
    m_keeper->onLost = [this] { rebuildWindow(); };
}

// Another client destroyed the window: a new one covers the screen again at
// once, over the same snapshot (a pixmap of ours, which outlives the window),
// and the figures go on there.
void THAKOPForm::rebuildWindow()
{
    if (m_session.closed())
        return;
    // The stand-in of a window destroyed while the verifier was asked (see
    // ScreenKeeper) goes with the old keeper, once the new window is up.
    const std::unique_ptr<ScreenKeeper> old = std::move(m_keeper);
    if (!old->stoodIn())
        logSurvived("another program destroyed the saver window; covering the screen with a new one");
    destroy(true, true);
    create();
    adoptWindow();
    m_keeper->takeOverPauses(*old);
    m_keeper->setStandInPicture(m_snapshot);
    m_presentation.windowRebuilt();
    setVisible(true);
    activateWindow();
    // The keeper remembers the window's place over a connection of its own:
    // the toolkit's placing of the new window must have reached the server.
    platform::syncToolkitDisplay();
    m_keeper->start();
}

// The verifier may prompt: it needs the cursor and the input we hold. It
// runs in a helper process, so whatever a faulty module does there only ever
// comes back as a refusal.
void THAKOPForm::letGoOfInput()
{
    if (m_keeper)
        m_keeper->pause(true);
    platform::flushToolkitDisplay();
}

void THAKOPForm::dropInputSoFar()
{
    if (!m_inputFence)
        m_inputFence = std::make_unique<platform::InputFence>(platform::toolkitConnection(), winId());
    m_inputFence->dropInputSoFar();
}

void THAKOPForm::holdInputAgain()
{
    if (m_keeper)
        m_keeper->resume();
}

bool THAKOPForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Expose && watched == windowHandle() && !m_session.closed()) {
        QT_WARNING_PUSH
        QT_WARNING_DISABLE_DEPRECATED
        m_presentation.exposed(static_cast<QExposeEvent*>(event)->region());
        QT_WARNING_POP
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace hakop
