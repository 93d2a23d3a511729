#include "Presentation.h"

#include "ImageList.h"
#include "ServerCanvas.h"
#include "platform/Failure.h"

#include <QGuiApplication>
#include <QWidget>

#include <stdexcept>
#include <string>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

namespace hakop {

namespace {

void* xcbConnection()
{
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 != nullptr ? static_cast<void*>(x11->connection()) : nullptr;
}

} // namespace

Presentation::Presentation(QWidget& window)
    : m_window(window)
{
    // The event loop's turn: a zero timer rather than a posted call, which
    // would also write to the loop's wake-up descriptor and read it back.
    m_finish.setSingleShot(true);
    m_finish.setInterval(0);
    connect(&m_finish, &QTimer::timeout, this, &Presentation::finishPending);
    // Without room for the picture on the server, it is asked again each tick.
    m_retry.setInterval(100);
    connect(&m_retry, &QTimer::timeout, this, &Presentation::retryStart);
}

Presentation::~Presentation()
{
    std::lock_guard lock(m_lock);
    if (m_scene) {
        m_scene->surface().onPixelsChanged = nullptr;
        m_scene->surface().onPendingStarted = nullptr;
    }
    m_canvas = nullptr;
    m_scene.reset();
}

void Presentation::start(std::uint32_t snapshot, QSize size, const TIForm& frames, QSize screenSize,
                         std::uint32_t seed)
{
    m_size = size;
    m_frames = &frames;
    m_seed = seed;
    {
        std::lock_guard lock(m_lock);
        m_screenSize = screenSize;
    }
    if (begin(snapshot))
        return;
    // The screen stays covered meanwhile: black, which the server paints by
    // itself wherever something over the window (the failure box) goes away.
    if (auto* c = static_cast<xcb_connection_t*>(xcbConnection()); c != nullptr && !xcb_connection_has_error(c)) {
        const auto window = static_cast<std::uint32_t>(m_window.winId());
        const std::uint32_t black = 0;
        xcb_change_window_attributes(c, window, XCB_CW_BACK_PIXEL, &black);
        xcb_clear_area(c, 0, window, 0, 0, 0, 0);
        xcb_flush(c);
    }
    m_retry.start();
    throw std::runtime_error("The X server has no room for the saver's picture (" + std::to_string(size.width())
                             + " x " + std::to_string(size.height())
                             + " pixels); the figures start once it has");
}

void Presentation::retryStart()
{
    if (m_closed || m_frames == nullptr || begin(0))
        m_retry.stop();
}

bool Presentation::begin(std::uint32_t snapshot)
{
    // With the pixels on the server, a tick is a few copies the server makes
    // and the snapshot is restored by one more.
    auto canvas = ServerCanvas::create(xcbConnection(), static_cast<std::uint32_t>(m_window.winId()), m_size, snapshot);
    if (canvas == nullptr)
        return false;

    std::lock_guard lock(m_lock);
    m_canvas = canvas.get();
    m_scene = std::make_unique<SaverScene>(std::move(canvas), *m_frames, [this] { return m_screenSize; });
    Surface& surface = m_scene->surface();
    surface.onPixelsChanged = [this](const QRegion& changed) { surfaceChanged(changed); };
    // The event loop's paint pass, after whatever it is doing now.
    surface.onPendingStarted = [this] { queueFinish(); };
    // Draws the snapshot first, so the window's first visible content is the
    // desktop; then the figures start.
    m_scene->show(m_seed);
    return true;
}

void Presentation::close()
{
    m_retry.stop();
    std::lock_guard lock(m_lock);
    m_closed = true;
    if (m_scene) {
        // Freeing the sprites marks their places; nothing paints them any more.
        m_scene->surface().onPendingStarted = nullptr;
        m_scene->close();
    }
}

void Presentation::tick(const std::function<void()>& step)
{
    std::lock_guard lock(m_lock);
    if (!m_scene)
        return;
    m_inTick = true;
    runHandler(step);
    m_inTick = false;
    // The leftover pass and the trip to the server belong to the tick's own
    // wake-up. Painting now rather than a moment later draws the same pixels,
    // since a pass only depends on where the sprites are and what they show.
    if (m_finishQueued)
        finishPendingLocked();
    if (onTickFinishedForTesting)
        onTickFinishedForTesting();
}

bool Presentation::spriteAt(QPoint devicePoint)
{
    std::lock_guard lock(m_lock);
    return m_scene && m_scene->surface().spriteAt(devicePoint) != nullptr;
}

void Presentation::redrawBackdrop()
{
    std::lock_guard lock(m_lock);
    if (m_scene)
        m_scene->redrawBackdrop();
}

void Presentation::exposed(const QRegion& logical)
{
    // Whatever the window system exposes gets its sprites painted again, as
    // on a window system without a backing store.
    std::lock_guard lock(m_lock);
    if (!m_scene || m_closed)
        return;
    for (const QRect& r : logical)
        m_scene->surface().MarkPending(toDevice(r));
}

void Presentation::setScreenSize(QSize deviceSize)
{
    std::lock_guard lock(m_lock);
    m_screenSize = deviceSize;
}

void Presentation::windowRebuilt()
{
    std::lock_guard lock(m_lock);
    if (m_canvas != nullptr)
        m_canvas->setWindow(static_cast<std::uint32_t>(m_window.winId()));
}

// Under the lock, on whichever thread changed the surface.
void Presentation::surfaceChanged(const QRegion& changed)
{
    if (m_canvas == nullptr)
        return;
    // Copied onto the window in the same batch of requests as the drawing;
    // the batch goes to the server once the leftover pass has run too: one
    // trip to the server per tick.
    m_canvas->show(changed);
    queueFinish();
}

// Under the lock. From a tick, the tick itself finishes; the finish timer
// belongs to the GUI thread and is never started from Timer1's.
void Presentation::queueFinish()
{
    if (m_finishQueued)
        return;
    m_finishQueued = true;
    if (!m_inTick)
        m_finish.start();
}

void Presentation::finishPending()
{
    std::lock_guard lock(m_lock);
    finishPendingLocked();
}

void Presentation::finishPendingLocked()
{
    // Still marked as queued during the pass: what it paints is shown below,
    // not by another turn of the event loop.
    if (!m_closed && m_scene)
        runHandler([this] { m_scene->paintPending(); });
    m_finishQueued = false;
    if (m_canvas != nullptr)
        m_canvas->flush();
}

QRect Presentation::toDevice(const QRect& logicalRect) const
{
    const qreal dpr = m_window.devicePixelRatioF();
    if (dpr == 1.0)
        return logicalRect;
    return QRectF(logicalRect.x() * dpr, logicalRect.y() * dpr, logicalRect.width() * dpr,
                  logicalRect.height() * dpr)
        .toAlignedRect();
}

} // namespace hakop
