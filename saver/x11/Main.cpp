#include "Main.h"

#include "engine/ImageList.h"
#include "x11/ApplicationWindow.h"
#include "platform/Failure.h"
#include "x11/keeper/InputFence.h"
#include "x11/keeper/ForegroundBox.h"
#include "x11/XPixelFormat.h"
#include "x11/ToolkitConnection.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>

#include <chrono>
#include <stdexcept>
#include <string>

namespace hakop {

THAKOPForm::THAKOPForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                          | Qt::X11BypassWindowManagerHint)
    , Timer1([this] { Timer1Timer(); })
    , m_presentation(*this)
    , m_session(*this)
{
    // The form description. Every flag is set before the native window is
    // created: changing window flags later would re-create it and drop its class.
    setObjectName(QStringLiteral("HAKOPForm"));
    setWindowTitle(QStringLiteral("HAKOPForm"));
    // The toolkit never paints this window: its background is the surface's
    // pixmap on the X server, which also draws everything on it.
    setAttribute(Qt::WA_PaintOnScreen);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);

    Timer1.setInterval(int(SceneDriver::TickLength.count()));
    Timer1.start();
    requireActiveTimer(Timer1.isActive()); // throws to whoever builds the window

    // Nothing drawn on a screen without true colour would be seen, and no
    // box either: the caller says why in one line.
    std::string why;
    if (!x11::defaultScreenShowsColour(platform::toolkitDisplay(), &why))
        throw UnusableScreen(why);

    runHandler([this] { FormCreate(); });
}

THAKOPForm::~THAKOPForm()
{
    // Before the presentation goes: a tick under way finishes first.
    Timer1.stop();
    if (m_keeper)
        platform::setForegroundBoxKeeper(nullptr);
}

QImage THAKOPForm::Backdrop() const
{
    return scene() != nullptr ? scene()->Backdrop() : QImage();
}

// ---------------------------------------------------------------------------
// Handlers

void THAKOPForm::FormCreate()
{
    setGeometry(Presentation::primaryScreenGeometry());
    m_session.begin(); // the cursor hidden
    setAttribute(Qt::WA_InputMethodEnabled, false);

    // The window now exists, unmapped and carrying its class, so a second
    // start finds it from here on.
    adoptWindow();
    // A failure box opens above the saver and has the input while it is up.
    platform::setForegroundBoxKeeper([this](bool boxShown) {
        if (boxShown)
            m_keeper->pause();
        else
            m_keeper->resume();
    });
}

void THAKOPForm::FormShow()
{
    if (m_frames == nullptr)
        throw std::logic_error("The saver window was shown without its frame store");
    // The desktop is copied from under the window, mapped by now, as the
    // input is taken: the screen is covered at once, and the picture
    // outlives the window.
    m_snapshot = m_presentation.start(*m_frames, [this] {
        m_inputAsked = true;
        if (m_keeper)
            m_keeper->takeInput();
    });
    if (m_keeper)
        m_keeper->setStandInPicture(m_snapshot);

    if (auto* applicationWindow = platform::ApplicationWindow::instance())
        applicationWindow->hide();
}

bool THAKOPForm::FormCloseQuery()
{
    return m_session.closeQuery(static_cast<unsigned long>(winId()));
}

void THAKOPForm::FormClose()
{
    // Stopped before the scene lock is taken: stopping waits for a tick under
    // way, and that tick waits for the lock.
    Timer1.stop();
    m_presentation.close();
    m_session.close();
    if (m_keeper)
        m_keeper->stop();
}

void THAKOPForm::FormKeyDown(int key, Qt::KeyboardModifiers modifiers)
{
    if (m_session.keyDown(key, modifiers))
        close();
}

void THAKOPForm::FormMouseMove(QPointF at, bool leftHeld)
{
    if (m_session.pointerMoved(pointerAt(at), leftHeld))
        close();
}

// Timer1's thread; the scene lock is taken below.
void THAKOPForm::Timer1Timer()
{
    m_presentation.tick();
}

// ---------------------------------------------------------------------------
// What the session asks of the window

void THAKOPForm::showCursor(bool visible)
{
    if (visible)
        unsetCursor();
    else
        setCursor(Qt::BlankCursor);
}

bool THAKOPForm::figureAt(QPoint device)
{
    return m_presentation.spriteAt(device);
}

void THAKOPForm::redrawBackdrop()
{
    m_presentation.redrawBackdrop();
}

// ---------------------------------------------------------------------------
// Qt plumbing

bool THAKOPForm::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        // Seen here, before Qt's own focus handling would take Tab away.
        const auto* key = static_cast<QKeyEvent*>(event);
        runHandler([&] { FormKeyDown(key->key(), key->modifiers()); });
        return true;
    }
    case QEvent::MouseMove:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
        if (m_session.closed())
            return true;
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

void THAKOPForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Runs before the window is mapped; only the first showing starts the
    // saver, once the map request has gone out (see FormShow).
    if (m_shown || event->spontaneous())
        return;
    m_shown = true;
    QTimer::singleShot(0, this, [this] {
        if (m_session.closed())
            return;
        // The keeper moves the window over a connection of its own: the map
        // must have reached the server. The input is taken with the snapshot
        // (see Presentation::start), or here should that have failed.
        platform::syncToolkitDisplay();
        if (m_keeper)
            m_keeper->start(/*withInput=*/false);
        runHandler([this] { FormShow(); });
        activateWindow();
        setFocus(Qt::ActiveWindowFocusReason);
        if (m_keeper && !m_inputAsked)
            m_keeper->takeInput();
    });
}

void THAKOPForm::closeEvent(QCloseEvent* event)
{
    // A close request while the verifier still runs (it may run an event
    // loop of its own) is answered no, as is anything after closing.
    bool canClose = false;
    runHandler([&] { canClose = FormCloseQuery(); });
    if (!canClose) {
        event->ignore();
        return;
    }
    runHandler([this] { FormClose(); });
    m_session.close(); // closed even should FormClose have failed
    event->accept();
    emit formClosed();
}

void THAKOPForm::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_session.leftButton(true, pointerAt(event->position()));
}

void THAKOPForm::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_session.leftButton(false, pointerAt(event->position()));
}

void THAKOPForm::mouseMoveEvent(QMouseEvent* event)
{
    runHandler([&] { FormMouseMove(event->position(), event->buttons() & Qt::LeftButton); });
}

QPaintEngine* THAKOPForm::paintEngine() const
{
    return nullptr; // the X server draws everything on this window
}

void THAKOPForm::focusInEvent(QFocusEvent*)
{
    // Nothing here shows focus; the default would repaint the whole window.
}

void THAKOPForm::focusOutEvent(QFocusEvent*)
{
}

PointerAt THAKOPForm::pointerAt(QPointF at) const
{
    return {nullptr, at, devicePixelRatioF(), true};
}

} // namespace hakop
