#include "Presentation.h"

#include "ImageList.h"
#include "platform/Failure.h"
#include "platform/ToolkitConnection.h"
#include "x11/ServerCanvas.h"

#include <QWidget>

#include <stdexcept>

namespace hakop {

Presentation::Presentation(QWidget& window)
    : m_window(window)
{
}

Presentation::~Presentation()
{
    std::lock_guard lock(m_lock);
    m_driver.reset();
}

void Presentation::start(std::uint32_t snapshot, QSize size, const TIForm& frames, QSize screenSize,
                         std::uint32_t seed)
{
    // With the pixels on the server, a tick is a few copies the server makes
    // and the snapshot is restored by one more.
    auto canvas = ServerCanvas::create(platform::toolkitConnection(), static_cast<std::uint32_t>(m_window.winId()), size, snapshot);
    if (canvas == nullptr)
        throw std::runtime_error("The X server cannot keep the saver's picture (it needs a TrueColor screen)");

    std::lock_guard lock(m_lock);
    m_screenSize = screenSize;
    m_driver = std::make_unique<SceneDriver>(frames);
    // Draws the snapshot first, so the window's first visible content is the
    // desktop; then the figures start.
    m_driver->start(std::move(canvas), seed, [this] { return m_screenSize; });
}

void Presentation::close()
{
    std::lock_guard lock(m_lock);
    if (m_driver)
        m_driver->close();
}

void Presentation::tick(const std::function<void()>& step)
{
    std::lock_guard lock(m_lock);
    if (!m_driver || !m_driver->running())
        return;
    // The handler's failure is reported and the tick still finishes: what was
    // drawn before it goes to the screen.
    runHandler([&] { m_driver->tick([&](SaverScene&) { runHandler(step); }); });
    if (onTickFinishedForTesting)
        onTickFinishedForTesting();
}

bool Presentation::spriteAt(QPoint devicePoint)
{
    std::lock_guard lock(m_lock);
    return m_driver && m_driver->spriteAt(devicePoint);
}

void Presentation::redrawBackdrop()
{
    std::lock_guard lock(m_lock);
    if (m_driver)
        m_driver->redrawBackdrop();
}

void Presentation::exposed(const QRegion& logical)
{
    QRegion device;
    for (const QRect& r : logical)
        device += toDevice(r);
    std::lock_guard lock(m_lock);
    if (m_driver)
        m_driver->exposed(device);
}

void Presentation::setScreenSize(QSize deviceSize)
{
    std::lock_guard lock(m_lock);
    m_screenSize = deviceSize;
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
