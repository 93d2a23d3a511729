#include "Presentation.h"

#include "ImageList.h"
#include "ServerCanvas.h"
#include "platform/Failure.h"

#include <QGuiApplication>
#include <QWidget>

#include <stdexcept>
#include <QtGui/qguiapplication_platform.h>

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
    // With the pixels on the server, a tick is a few copies the server makes
    // and the snapshot is restored by one more.
    auto canvas = ServerCanvas::create(xcbConnection(), static_cast<std::uint32_t>(m_window.winId()), size, snapshot);
    if (canvas == nullptr)
        throw std::runtime_error("The X server cannot keep the saver's picture (it needs a TrueColor screen)");

    std::lock_guard lock(m_lock);
    m_canvas = canvas.get();
    m_screenSize = screenSize;
    m_scene = std::make_unique<SaverScene>(std::move(canvas), frames, [this] { return m_screenSize; });
    Surface& surface = m_scene->surface();
    surface.onPixelsChanged = [this](const QRegion& changed) { surfaceChanged(changed); };
    // The event loop's paint pass, after whatever it is doing now.
    surface.onPendingStarted = [this] { queueFinish(); };
    // Draws the snapshot first, so the window's first visible content is the
    // desktop; then the figures start.
    m_scene->show(seed);
}

void Presentation::close()
{
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
