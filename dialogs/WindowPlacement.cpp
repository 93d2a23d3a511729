#include "WindowPlacement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "x11/FrameExtents.h"
#include "x11/ToolkitConnection.h"


#include <algorithm>
#include <optional>

namespace hakop {

namespace {

// The frame the window manager gave the last dialog it decorated: the best
// guess for the next one before its own frame is known.
QMargins lastKnownFrame;

// How long after showing a window the frame may still arrive (without a
// window manager it never does), and how often to look for it meanwhile.
constexpr int settleMilliseconds = 1500;
constexpr int pollMilliseconds = 15;

// The frame as the window manager announces it (_NET_FRAME_EXTENTS). Qt's
// own idea of the frame is filled in lazily and, right after a window
// manager has started, sometimes never, so ask the server directly.
std::optional<QMargins> announcedFrame(const QWidget& window)
{
    Display* display = platform::toolkitDisplay();
    if (display == nullptr || window.windowHandle() == nullptr)
        return std::nullopt;
    const auto device = platform::announcedFrameExtents(display, static_cast<unsigned long>(window.winId()));
    if (!device)
        return std::nullopt;
    // The window's geometry is in logical pixels.
    const qreal ratio = window.devicePixelRatioF();
    const auto logical = [ratio](int v) { return qRound(qreal(v) / ratio); };
    return QMargins(logical(device->left()), logical(device->top()), logical(device->right()),
                    logical(device->bottom()));
}

QMargins qtFrameOf(const QWidget& window)
{
    const QRect outer = window.frameGeometry();
    const QRect inner = window.geometry();
    return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
            outer.bottom() - inner.bottom()};
}

QMargins frameOf(const QWidget& window)
{
    Display* display = platform::toolkitDisplay();
    const bool managerAnnounces = display != nullptr && platform::frameExtentsSupported(display);
    return knownFrame(announcedFrame(window), managerAnnounces, qtFrameOf(window));
}

QPoint topLeftOf(const QMargins& m)
{
    return {m.left(), m.top()};
}

} // namespace

QPoint centredFramePosition(const QRect& display, const QSize& outerSize)
{
    // Integer division truncates toward zero, as the formula asks.
    const int left = std::max(0, (display.width() - outerSize.width()) / 2);
    const int top = std::max(0, (display.height() - outerSize.height()) / 2);
    return display.topLeft() + QPoint(left, top);
}

QMargins knownFrame(const std::optional<QMargins>& announced, bool managerAnnounces, const QMargins& qtEstimate)
{
    if (announced && !announced->isNull())
        return *announced;
    if (managerAnnounces)
        return {};
    const bool surrounds = qtEstimate.left() >= 0 && qtEstimate.top() >= 0 && qtEstimate.right() >= 0
        && qtEstimate.bottom() >= 0;
    return surrounds ? qtEstimate : QMargins();
}

WindowPlacement::WindowPlacement(QWidget& window)
    : QObject(&window)
    , m_window(window)
{
    window.installEventFilter(this);
    m_poll.setInterval(pollMilliseconds);
    connect(&m_poll, &QTimer::timeout, this, &WindowPlacement::checkFrame);
}

QPoint WindowPlacement::centred(const QMargins& frame) const
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect display = screen != nullptr ? screen->geometry() : QRect(0, 0, 0, 0);
    return centredFramePosition(display, m_window.size().grownBy(frame));
}

void WindowPlacement::placeFrame(const QMargins& frame)
{
    // Ask for the client position that puts the outer frame at the target,
    // whatever Qt itself believes the frame to be.
    const QPoint client = m_target + topLeftOf(frame);
    m_window.move(client - topLeftOf(qtFrameOf(m_window)));
}

void WindowPlacement::onShow()
{
    m_firstShowing = !m_everShown;
    m_everShown = true;
    if (m_firstShowing)
        m_target = centred(lastKnownFrame);
    m_settling = true;
    placeFrame(lastKnownFrame);
    // A deadline on the clock, not a count of polls: on a busy machine the
    // polls come late, and the settling must not outlast its time.
    m_settleDeadline.setRemainingTime(settleMilliseconds);
    m_poll.start();
}

void WindowPlacement::checkFrame()
{
    if (m_settling && m_window.isVisible() && !m_settleDeadline.hasExpired()) {
        onGeometryChange();
        return;
    }
    m_settling = false;
    m_poll.stop();
}

void WindowPlacement::onGeometryChange()
{
    if (!m_window.isVisible())
        return;
    const QMargins frame = frameOf(m_window);
    const bool decorated = !frame.isNull();
    if (decorated)
        lastKnownFrame = frame;
    const QPoint framePosition = m_window.geometry().topLeft() - topLeftOf(frame);
    if (!m_settling) {
        // The user (or the window manager) moved it: remember for next time.
        m_target = framePosition;
        return;
    }
    if (!decorated)
        return;
    if (m_firstShowing)
        m_target = centred(frame);
    // One correction only, so a window manager that insists on its own
    // placement cannot make the window chase it.
    m_settling = false;
    m_poll.stop();
    if (framePosition != m_target)
        placeFrame(frame);
}

bool WindowPlacement::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &m_window) {
        switch (event->type()) {
        case QEvent::Show:
            if (!event->spontaneous())
                onShow();
            break;
        case QEvent::Move:
        case QEvent::Resize:
            onGeometryChange();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace hakop
