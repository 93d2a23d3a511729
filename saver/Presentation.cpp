#include "Presentation.h"

#include "ImageList.h"
#include "ServerCanvas.h"
#include "platform/Failure.h"

#include <QGuiApplication>
#include <QPainter>
#include <QWidget>
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

void Presentation::start(QImage backdrop, const TIForm& frames, QSize screenSize, std::uint32_t seed)
{
    // Showing a change through the toolkit costs a round trip to the server,
    // a composition into its backing store and a copy of every pixel; with the
    // pixels on the server, a tick is a few copies the server makes.
    auto canvas = ServerCanvas::create(xcbConnection(), static_cast<std::uint32_t>(m_window.winId()),
                                       backdrop.size());
    if (canvas == nullptr)
        logSurvived("the X server cannot keep the saver's pixels; drawing them through the toolkit");
    else
        m_window.setAttribute(Qt::WA_PaintOnScreen); // the window's background is the canvas

    std::lock_guard lock(m_lock);
    m_canvas = canvas.get();
    m_screenSize = screenSize;
    m_scene = std::make_unique<SaverScene>(std::move(backdrop), frames, [this] { return m_screenSize; },
                                           std::move(canvas));
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

void Presentation::paint(const QRegion& logical, const QImage& before)
{
    if (m_canvas != nullptr)
        return; // the server shows the pixels by itself
    std::lock_guard lock(m_lock);
    const QImage pixels = m_scene ? m_scene->surface().pixels() : before;
    if (pixels.isNull())
        return;
    QPainter painter(&m_window);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    const qreal dpr = m_window.devicePixelRatioF();
    for (const QRect& r : logical) {
        const QRectF source(r.x() * dpr, r.y() * dpr, r.width() * dpr, r.height() * dpr);
        painter.drawImage(QRectF(r), pixels, source);
    }
}

// Under the lock, on whichever thread changed the surface.
void Presentation::surfaceChanged(const QRegion& changed)
{
    if (m_canvas == nullptr) {
        // Repaints are the GUI thread's, and this may be Timer1's.
        QMetaObject::invokeMethod(&m_window, [this, changed] { m_window.update(toLogical(changed)); },
                                  Qt::QueuedConnection);
        return;
    }
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

QRegion Presentation::toLogical(const QRegion& deviceRegion) const
{
    const qreal dpr = m_window.devicePixelRatioF();
    if (dpr == 1.0)
        return deviceRegion;
    QRegion logical;
    for (const QRect& r : deviceRegion)
        logical += QRectF(r.x() / dpr, r.y() / dpr, r.width() / dpr, r.height() / dpr).toAlignedRect();
    return logical;
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
