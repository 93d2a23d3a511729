#include "Main.h"

#include "ImageList.h"
#include "Random.h"
#include "saver/CursorCounter.h"
#include "saver/Verifier.h"
#include "x11/ApplicationWindow.h"
#include "platform/Failure.h"
#include "x11/keeper/InputFence.h"
#include "x11/keeper/ForegroundBox.h"
#include "x11/WindowClass.h"
#include "x11/XPixelFormat.h"
#include "x11/ToolkitConnection.h"
#include "x11/ScreenCapture.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QScreen>
#include <QWindow>

#include <chrono>
#include <cmath>
#include <stdexcept>
#include <string>

namespace hakop {

namespace {

constexpr int tickInterval = 100;

QScreen* primaryScreen()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        throw std::runtime_error("There is no screen");
    return screen;
}

// The primary screen in device pixels. Qt keeps a screen's native origin and
// scales only its size.
QRect primaryScreenDeviceRect()
{
    QScreen* screen = primaryScreen();
    const QRect logical = screen->geometry();
    const qreal dpr = screen->devicePixelRatio();
    return QRect(logical.topLeft(), QSize(qRound(logical.width() * dpr), qRound(logical.height() * dpr)));
}

} // namespace

THAKOPForm::THAKOPForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                          | Qt::X11BypassWindowManagerHint)
    , Timer1([this] { m_presentation.tick([this] { Timer1Timer(); }); })
    , m_presentation(*this)
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

    Timer1.setInterval(tickInterval);
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
    CursorCounter::setOnVisibilityChanged(nullptr);
    if (m_keeper)
        platform::setForegroundBoxKeeper(nullptr);
}

QImage THAKOPForm::Backdrop() const
{
    return scene() != nullptr ? scene()->Backdrop() : QImage();
}

bool THAKOPForm::holdsInput() const
{
    return m_keeper && m_keeper->holdsInput();
}

// ---------------------------------------------------------------------------
// Handlers

void THAKOPForm::FormCreate()
{
    setGeometry(primaryScreen()->geometry());

    CursorCounter::setOnVisibilityChanged([this](bool visible) {
        if (visible)
            unsetCursor();
        else
            setCursor(Qt::BlankCursor);
    });
    CursorCounter::ShowCursor(false);

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

    m_mouse.reset();
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
    m_keeper = std::make_unique<ScreenKeeper>(platform::toolkitDisplay(), window, std::chrono::milliseconds(tickInterval));
    m_keeper->onLost = [this] { rebuildWindow(); };
}

// Another client destroyed the window: a new one covers the screen again at
// once, over the same snapshot (a pixmap of ours, which outlives the window),
// and the figures go on there.
void THAKOPForm::rebuildWindow()
{
    if (m_closed)
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

void THAKOPForm::FormShow()
{
    if (m_frames == nullptr)
        throw std::logic_error("The saver window was shown without its frame store");
    // The animation asks for the screen size at every use, from Timer1's
    // thread: it gets the size the GUI thread keeps current.
    const QSize screenSize = primaryScreenDeviceRect().size();
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, &THAKOPForm::refreshScreenSize,
            Qt::UniqueConnection);
    connect(primaryScreen(), &QScreen::geometryChanged, this, &THAKOPForm::refreshScreenSize,
            Qt::UniqueConnection);
    // The window is mapped by now with no background of its own, so it goes
    // on showing the desktop beneath it: the screen is covered at once,
    // whatever its size. The server then copies that very picture into a
    // pixmap of its own (it never passes through our memory), and the canvas
    // takes it over as the window's background.
    const QRect primary = primaryScreenDeviceRect();
    const std::uint32_t snapshot =
        x11::copyRootToPixmap(platform::toolkitConnection(), static_cast<std::uint32_t>(winId()), primary);
    if (snapshot == 0)
        logSurvived("the X server could not copy the desktop; the saver shows it black");
    m_snapshot = snapshot;
    if (m_keeper)
        m_keeper->setStandInPicture(snapshot);
    RandomSource clock;
    clock.randomize();
    m_presentation.start(snapshot, primary.size(), *m_frames, screenSize, clock.seed());

    if (auto* applicationWindow = platform::ApplicationWindow::instance())
        applicationWindow->hide();
}

bool THAKOPForm::FormCloseQuery()
{
    bool canClose = true;
    CursorCounter::ShowCursor(true);
    if (m_verifier != nullptr) {
        // The verifier may prompt: it needs the cursor and the input we hold.
        // It runs in a helper process, so whatever a faulty module does there
        // only ever comes back as a refusal.
        if (m_keeper)
            m_keeper->pause(true);
        platform::flushToolkitDisplay();
        canClose = m_verifier->mayClose(static_cast<unsigned long>(winId()));
        // What was typed or moved over the window meanwhile belongs to the
        // question just answered (a prompt, or keys hit while it refused):
        // none of it may ask again. Moves start afresh from the next one.
        if (!m_inputFence)
            m_inputFence = std::make_unique<platform::InputFence>(platform::toolkitConnection(), winId());
        m_inputFence->dropInputSoFar();
        m_mouse.reset();
        if (m_keeper)
            m_keeper->resume();
    }
    CursorCounter::ShowCursor(false);
    m_presentation.redrawBackdrop();
    return canClose;
}

void THAKOPForm::FormClose()
{
    // Stopped before the scene lock is taken: stopping waits for a tick under
    // way, and that tick waits for the lock.
    Timer1.stop();
    m_presentation.close();
    m_verifier = nullptr;
    if (m_keeper)
        m_keeper->stop();
}

void THAKOPForm::FormKeyDown()
{
    close();
}

void THAKOPForm::FormMouseMove(std::int32_t x, std::int32_t y)
{
    if (m_mouse.move(x, y))
        close();
}

// Timer1's thread, under the scene lock (see Presentation::tick).
void THAKOPForm::Timer1Timer()
{
    if (m_closed)
        return;
    if (SaverScene* scene = m_presentation.scene())
        scene->tick();
}

// ---------------------------------------------------------------------------
// Qt plumbing

bool THAKOPForm::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        // Seen here, before Qt's own focus handling would take Tab away.
        auto* key = static_cast<QKeyEvent*>(event);
        if (!m_closed && !keyKeepsSaver(key->key(), key->modifiers()))
            runHandler([this] { FormKeyDown(); });
        return true;
    }
    case QEvent::MouseMove:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
        if (m_closed)
            return true;
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

bool THAKOPForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Expose && watched == windowHandle() && !m_closed) {
        QT_WARNING_PUSH
        QT_WARNING_DISABLE_DEPRECATED
        m_presentation.exposed(static_cast<QExposeEvent*>(event)->region());
        QT_WARNING_POP
    }
    return QWidget::eventFilter(watched, event);
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
        if (m_closed)
            return;
        // The snapshot is asked for before the input is taken: a window that
        // appears once the saver holds the input (and so is surely running)
        // is covered by it, never part of its picture.
        runHandler([this] { FormShow(); });
        activateWindow();
        setFocus(Qt::ActiveWindowFocusReason);
        if (m_keeper)
            m_keeper->start();
    });
}

void THAKOPForm::closeEvent(QCloseEvent* event)
{
    // A close request while the verifier still runs (it may run an event
    // loop of its own) is ignored, as is anything after closing.
    if (m_closed || m_inCloseQuery) {
        event->ignore();
        return;
    }
    bool canClose = false;
    m_inCloseQuery = true;
    runHandler([&] { canClose = FormCloseQuery(); });
    m_inCloseQuery = false;
    if (!canClose) {
        event->ignore();
        return;
    }
    runHandler([this] { FormClose(); });
    m_closed = true;
    event->accept();
    emit formClosed();
}

void THAKOPForm::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_leftCapture.press(m_presentation.spriteAt(devicePosition(event)));
}

void THAKOPForm::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_leftCapture.release();
}

void THAKOPForm::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = devicePosition(event);
    const bool leftHeld = event->buttons() & Qt::LeftButton;
    if (m_leftCapture.moveReachesWindow(leftHeld, [&] { return m_presentation.spriteAt(at); }))
        runHandler([&] { FormMouseMove(at.x(), at.y()); });
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

void THAKOPForm::refreshScreenSize()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return; // the figures go on within the last size known
    connect(screen, &QScreen::geometryChanged, this, &THAKOPForm::refreshScreenSize, Qt::UniqueConnection);
    m_presentation.setScreenSize(primaryScreenDeviceRect().size());
}

QPoint THAKOPForm::devicePosition(const QMouseEvent* event) const
{
    const qreal dpr = devicePixelRatioF();
    const QPointF p = event->position() * dpr;
    return QPoint(static_cast<int>(std::floor(p.x() + 0.5)), static_cast<int>(std::floor(p.y() + 0.5)));
}

} // namespace hakop
