#include "Main.h"

#include "app/Failure.h"
#include "ImageList.h"
#include "Random.h"
#include "platform/ApplicationWindow.h"
#include "platform/CursorCounter.h"
#include "platform/InputGrab.h"
#include "platform/ScreenCapture.h"
#include "platform/ServiceModule.h"
#include "platform/ServerCanvas.h"
#include "platform/WindowClass.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QThread>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace hakop {

std::int32_t LastX = 0;
std::int32_t LastY = 0;

namespace {

// The platform's screen-saver password verifier: only the lowest byte of its
// answer counts, zero meaning "stay".
using VerifyScreenSavePwdFn = int (*)(unsigned long window);

std::unique_ptr<platform::ServiceModule> passwordLibrary;
VerifyScreenSavePwdFn verifier = nullptr;

constexpr int tickInterval = 100;
constexpr int grabRetryInterval = 50;
constexpr int grabRetryLimit = 60; // three seconds, then we live without

QNativeInterface::QX11Application* x11Application()
{
    return qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
}

void* x11Display()
{
    auto* x11 = x11Application();
    return x11 != nullptr ? static_cast<void*>(x11->display()) : nullptr;
}

void* xcbConnection()
{
    auto* x11 = x11Application();
    return x11 != nullptr ? static_cast<void*>(x11->connection()) : nullptr;
}

template <class Handler>
void runHandler(Handler&& handler)
{
    try {
        handler();
    } catch (const std::exception& failure) {
        // The failure box belongs to the GUI thread; a tick's failure waits
        // for it there while the ticks go on.
        if (QThread::currentThread() == qApp->thread()) {
            reportHandlerFailure(failure);
        } else {
            QMetaObject::invokeMethod(
                qApp, [message = std::string(failure.what())] { reportHandlerFailure(std::runtime_error(message)); },
                Qt::QueuedConnection);
        }
    }
}

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
    return QRect(logical.topLeft(),
                 QSize(qRound(logical.width() * dpr), qRound(logical.height() * dpr)));
}

} // namespace

bool keyKeepsSaver(int key, Qt::KeyboardModifiers modifiers)
{
    if (key != Qt::Key_Tab && key != Qt::Key_Backtab)
        return false;
    return !(modifiers & (Qt::ControlModifier | Qt::AltModifier));
}

THAKOPForm::THAKOPForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                          | Qt::X11BypassWindowManagerHint)
    , Timer1([this] { onTick(); })
{
    // The form description. Every flag is set before the native window is
    // created: changing window flags later would re-create it and drop its class.
    setObjectName(QStringLiteral("HAKOPForm"));
    setWindowTitle(QStringLiteral("HAKOPForm"));
    // Nothing on this window is ever erased: no background fill, and every
    // paint copies the engine's surface over exactly the area asked for.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);

    Timer1.setInterval(tickInterval);
    try {
        Timer1.start();
        requireActiveTimer(Timer1.isActive());
    } catch (const SetupFailure& failure) {
        failWindowSetup(failure);
    }

    // The event loop's turn: a zero timer rather than a posted call, which
    // would also write to the loop's wake-up descriptor and read it back.
    m_finish.setSingleShot(true);
    m_finish.setInterval(0);
    connect(&m_finish, &QTimer::timeout, this, &THAKOPForm::finishPending);

    m_grabRetry.setInterval(grabRetryInterval);
    connect(&m_grabRetry, &QTimer::timeout, this, [this] { takeInput(); });

    runHandler([this] { FormCreate(); });
}

THAKOPForm::~THAKOPForm()
{
    Timer1.stop();
    if (m_scene) {
        m_scene->surface().onPixelsChanged = nullptr;
        m_scene->surface().onPendingStarted = nullptr;
    }
    platform::CursorCounter::setOnVisibilityChanged(nullptr);
    m_canvas = nullptr;
    m_scene.reset();
}

const QImage& THAKOPForm::Backdrop() const
{
    return m_scene ? m_scene->Backdrop() : m_backdrop;
}

bool THAKOPForm::holdsInput() const
{
    return m_grab && m_grab->held();
}

// ---------------------------------------------------------------------------
// Handlers

void THAKOPForm::FormCreate()
{
    setGeometry(primaryScreen()->geometry());

    platform::CursorCounter::setOnVisibilityChanged([this](bool visible) {
        if (visible)
            unsetCursor();
        else
            setCursor(Qt::BlankCursor);
    });
    platform::CursorCounter::ShowCursor(false);

    setAttribute(Qt::WA_InputMethodEnabled, false);

    // The window now exists, unmapped and carrying its class, so a second
    // start finds it from here on.
    const auto window = static_cast<unsigned long>(winId());
    platform::setWindowClass(x11Display(), window, "hakop", "THAKOPForm");
    // Qt would append the application's display name to the caption.
    platform::setWindowCaption(x11Display(), window, "HAKOPForm");
    if (QWindow* handle = windowHandle())
        handle->installEventFilter(this);
    m_grab = std::make_unique<platform::InputGrab>(x11Display(), window);

    // Not yet visible, so the snapshot shows the desktop without the saver.
    m_backdrop = platform::captureScreen(x11Display(), primaryScreenDeviceRect());

    LastX = 0;
    LastY = 0;

    passwordLibrary = std::make_unique<platform::ServiceModule>("PASSWORD.CPL");
    verifier = passwordLibrary->loaded()
        ? reinterpret_cast<VerifyScreenSavePwdFn>(passwordLibrary->entry("VerifyScreenSavePwd"))
        : nullptr;
}

void THAKOPForm::FormShow()
{
    if (m_frames == nullptr)
        throw std::logic_error("The saver window was shown without its frame store");

    // Showing a change through the toolkit costs a round trip to the server,
    // a composition into its backing store and a copy of every pixel; with the
    // pixels on the server, a tick is a few copies the server makes.
    auto canvas = platform::ServerCanvas::create(xcbConnection(), static_cast<std::uint32_t>(winId()),
                                                 m_backdrop.size());
    m_canvas = canvas.get();
    if (m_canvas != nullptr) {
        // The window's background is the canvas; the toolkit paints nothing.
        setAttribute(Qt::WA_PaintOnScreen);
    }
    // The animation asks for the screen size at every use, from Timer1's
    // thread: it gets the size the GUI thread keeps current.
    m_screenSize = primaryScreenDeviceRect().size();
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, &THAKOPForm::refreshScreenSize,
            Qt::UniqueConnection);
    connect(primaryScreen(), &QScreen::geometryChanged, this, &THAKOPForm::refreshScreenSize,
            Qt::UniqueConnection);
    m_scene = std::make_unique<SaverScene>(std::move(m_backdrop), *m_frames, [this] { return m_screenSize; },
                                           std::move(canvas));
    Surface& surface = m_scene->surface();
    surface.onPixelsChanged = [this](const QRegion& changed) { surfaceChanged(changed); };
    // The event loop's paint pass, after whatever it is doing now.
    surface.onPendingStarted = [this] { queueFinish(); };

    RandomSource clock;
    clock.randomize();
    // Draws the snapshot first, so the window's first visible content is the
    // desktop; then the figures start.
    m_scene->show(clock.seed());

    if (auto* applicationWindow = platform::ApplicationWindow::instance())
        applicationWindow->hide();
}

bool THAKOPForm::FormCloseQuery()
{
    bool canClose = true;
    platform::CursorCounter::ShowCursor(true);
    if (verifier != nullptr) {
        // The verifier may prompt: it needs the cursor and the input we hold.
        m_grabRetry.stop();
        if (m_grab)
            m_grab->release();
        platform::flushDisplay(x11Display());
        const int answer = verifier(static_cast<unsigned long>(winId()));
        canClose = (answer & 0xff) != 0;
        m_grabAttempts = 0;
        takeInput();
    }
    platform::CursorCounter::ShowCursor(false);
    std::lock_guard lock(m_sceneLock);
    if (m_scene)
        m_scene->redrawBackdrop();
    return canClose;
}

void THAKOPForm::FormClose()
{
    Timer1.stop();
    m_grabRetry.stop();
    std::lock_guard lock(m_sceneLock);
    if (m_scene) {
        // Freeing the sprites marks their places; nothing paints them any more.
        m_scene->surface().onPendingStarted = nullptr;
        m_scene->close();
    }
    m_backdrop = QImage();
    verifier = nullptr;
    if (passwordLibrary)
        passwordLibrary->unload();
    passwordLibrary.reset();
    if (m_grab)
        m_grab->release();
}

void THAKOPForm::FormKeyDown()
{
    close();
}

void THAKOPForm::FormMouseMove(std::int32_t x, std::int32_t y)
{
    // Compared with the last recorded move, never with the start: small steps
    // add up without ending the saver. A stored (0, 0) means "nothing recorded".
    if (LastX != 0 || LastY != 0) {
        if (std::llabs(static_cast<long long>(x) - LastX) > 5 || std::llabs(static_cast<long long>(y) - LastY) > 5)
            close();
    }
    LastX = x;
    LastY = y;
}

void THAKOPForm::Timer1Timer()
{
    if (m_closed || !m_scene)
        return;
    m_scene->tick();
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
    // Whatever the window system exposes gets its sprites painted again, as
    // on a window system without a backing store.
    if (event->type() == QEvent::Expose && watched == windowHandle() && m_scene && !m_closed) {
        QT_WARNING_PUSH
        QT_WARNING_DISABLE_DEPRECATED
        const QRegion exposed = static_cast<QExposeEvent*>(event)->region();
        QT_WARNING_POP
        std::lock_guard lock(m_sceneLock);
        for (const QRect& r : exposed)
            m_scene->surface().MarkPending(toDevice(r));
    }
    return QWidget::eventFilter(watched, event);
}

void THAKOPForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Runs before the window is mapped; only the first showing starts the saver.
    if (m_shown || event->spontaneous())
        return;
    m_shown = true;
    {
        std::lock_guard lock(m_sceneLock);
        runHandler([this] { FormShow(); });
    }
    m_grabAttempts = 0;
    m_grabRetry.start();
    QTimer::singleShot(0, this, [this] {
        activateWindow();
        setFocus(Qt::ActiveWindowFocusReason);
        takeInput();
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
    // A left press decides, until its release, who gets the moves: the
    // sprite under it, or the window, even over sprites.
    if (event->button() == Qt::LeftButton) {
        m_leftCapture = spriteAt(devicePosition(event)) ? LeftCapture::Sprite : LeftCapture::Window;
    }
}

void THAKOPForm::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_leftCapture = LeftCapture::None;
}

void THAKOPForm::mouseMoveEvent(QMouseEvent* event)
{
    // A release we never saw (it went to a password prompt) ends the capture too.
    if (!(event->buttons() & Qt::LeftButton))
        m_leftCapture = LeftCapture::None;

    const QPoint at = devicePosition(event);
    bool toWindow = false;
    switch (m_leftCapture) {
    case LeftCapture::Window: toWindow = true; break;
    case LeftCapture::Sprite: toWindow = false; break;
    case LeftCapture::None:
        // Moves over a sprite belong to it, and it ignores them.
        toWindow = !spriteAt(at);
        break;
    }
    if (toWindow)
        runHandler([&] { FormMouseMove(at.x(), at.y()); });
}

void THAKOPForm::paintEvent(QPaintEvent* event)
{
    // Copies; never decides what to draw. Before FormShow the snapshot is all
    // there is. With the pixels on the server, it shows them by itself.
    if (m_canvas != nullptr)
        return;
    std::lock_guard lock(m_sceneLock);
    const QImage pixels = m_scene ? m_scene->surface().pixels() : m_backdrop;
    if (pixels.isNull())
        return;
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    const qreal dpr = devicePixelRatioF();
    for (const QRect& r : event->region()) {
        const QRectF source(r.x() * dpr, r.y() * dpr, r.width() * dpr, r.height() * dpr);
        painter.drawImage(QRectF(r), pixels, source);
    }
}

QPaintEngine* THAKOPForm::paintEngine() const
{
    return m_canvas != nullptr ? nullptr : QWidget::paintEngine();
}

void THAKOPForm::surfaceChanged(const QRegion& changed)
{
    if (m_canvas == nullptr) {
        // Repaints are the GUI thread's, and this may be Timer1's.
        QMetaObject::invokeMethod(this, [this, changed] { update(toLogical(changed)); }, Qt::QueuedConnection);
        return;
    }
    // Copied onto the window in the same batch of requests as the drawing;
    // the batch goes to the server once the leftover pass has run too: one
    // trip to the server per tick.
    m_canvas->show(changed);
    queueFinish();
}

void THAKOPForm::queueFinish()
{
    if (m_finishQueued)
        return;
    m_finishQueued = true;
    if (!m_inTick)
        m_finish.start();
}

void THAKOPForm::onTick()
{
    std::lock_guard lock(m_sceneLock);
    if (!m_scene)
        return;
    m_inTick = true;
    runHandler([this] { Timer1Timer(); });
    m_inTick = false;
    // The leftover pass and the trip to the server belong to the tick's own
    // wake-up. Painting now rather than a moment later draws the same pixels,
    // since a pass only depends on where the sprites are and what they show.
    if (m_finishQueued)
        finishPendingLocked();
    if (onTickFinishedForTesting)
        onTickFinishedForTesting();
}

void THAKOPForm::finishPending()
{
    std::lock_guard lock(m_sceneLock);
    finishPendingLocked();
}

void THAKOPForm::finishPendingLocked()
{
    // Still marked as queued during the pass: what it paints is shown below,
    // not by another turn of the event loop.
    if (!m_closed && m_scene)
        runHandler([this] { m_scene->paintPending(); });
    m_finishQueued = false;
    if (m_canvas != nullptr)
        m_canvas->flush();
}

void THAKOPForm::focusInEvent(QFocusEvent*)
{
    // Nothing here shows focus; the default would repaint the whole window.
}

void THAKOPForm::focusOutEvent(QFocusEvent*)
{
}

void THAKOPForm::takeInput()
{
    if (m_closed || !m_grab) {
        m_grabRetry.stop();
        return;
    }
    // Another client may hold a grab for a moment: keep trying for a while.
    if (m_grab->tryTake() || ++m_grabAttempts >= grabRetryLimit) {
        m_grabRetry.stop();
        return;
    }
    if (!m_grabRetry.isActive())
        m_grabRetry.start();
}

bool THAKOPForm::spriteAt(QPoint devicePoint)
{
    std::lock_guard lock(m_sceneLock);
    return m_scene && m_scene->surface().spriteAt(devicePoint) != nullptr;
}

void THAKOPForm::refreshScreenSize()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return; // the figures go on within the last size known
    connect(screen, &QScreen::geometryChanged, this, &THAKOPForm::refreshScreenSize, Qt::UniqueConnection);
    const QSize size = primaryScreenDeviceRect().size();
    std::lock_guard lock(m_sceneLock);
    m_screenSize = size;
}

QPoint THAKOPForm::devicePosition(const QMouseEvent* event) const
{
    const qreal dpr = devicePixelRatioF();
    const QPointF p = event->position() * dpr;
    return QPoint(static_cast<int>(std::floor(p.x() + 0.5)), static_cast<int>(std::floor(p.y() + 0.5)));
}

QRegion THAKOPForm::toLogical(const QRegion& deviceRegion) const
{
    const qreal dpr = devicePixelRatioF();
    if (dpr == 1.0)
        return deviceRegion;
    QRegion logical;
    for (const QRect& r : deviceRegion)
        logical += QRectF(r.x() / dpr, r.y() / dpr, r.width() / dpr, r.height() / dpr).toAlignedRect();
    return logical;
}

QRect THAKOPForm::toDevice(const QRect& logicalRect) const
{
    const qreal dpr = devicePixelRatioF();
    if (dpr == 1.0)
        return logicalRect;
    return QRectF(logicalRect.x() * dpr, logicalRect.y() * dpr, logicalRect.width() * dpr,
                  logicalRect.height() * dpr)
        .toAlignedRect();
}

} // namespace hakop
