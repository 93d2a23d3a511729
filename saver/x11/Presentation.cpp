#include "Presentation.h"

#include "engine/ImageList.h"
#include "platform/Failure.h"
#include "x11/ToolkitConnection.h"
#include "x11/ServerCanvas.h"

#include <QWidget>

#include <stdexcept>
#include <string>

#include <xcb/xcb.h>

namespace hakop {

Presentation::Presentation(QWidget& window)
    : m_window(window)
{
    // Without room for the picture on the server, it is asked again each tick.
    m_retry.setInterval(SceneDriver::TickLength);
    QObject::connect(&m_retry, &QTimer::timeout, [this] { retryStart(); });
}

Presentation::~Presentation()
{
    std::lock_guard lock(m_lock);
    m_driver.reset();
}

void Presentation::start(std::uint32_t snapshot, QSize size, const TIForm& frames, QSize screenSize)
{
    m_size = size;
    m_frames = &frames;
    {
        std::lock_guard lock(m_lock);
        m_screenSize = screenSize;
    }
    if (begin(snapshot))
        return;
    // The screen stays covered meanwhile: black, which the server paints by
    // itself wherever something over the window (the failure box) goes away.
    if (xcb_connection_t* c = platform::toolkitConnection(); c != nullptr && !xcb_connection_has_error(c)) {
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
    auto canvas = ServerCanvas::create(platform::toolkitConnection(), static_cast<std::uint32_t>(m_window.winId()),
                                       m_size, snapshot);
    if (canvas == nullptr)
        return false;

    std::lock_guard lock(m_lock);
    m_driver = std::make_unique<SceneDriver>(*m_frames);
    // Draws the snapshot first, so the window's first visible content is the
    // desktop; then the figures start.
    m_driver->start(std::move(canvas), [this] { return m_screenSize; });
    return true;
}

void Presentation::close()
{
    m_retry.stop();
    std::lock_guard lock(m_lock);
    m_closed = true;
    if (m_driver)
        m_driver->close();
}

void Presentation::tick()
{
    std::lock_guard lock(m_lock);
    if (!m_driver || !m_driver->running())
        return;
    // A failure is reported; what was drawn before it went to the screen.
    runHandler([&] { m_driver->tick(); });
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

void Presentation::windowRebuilt()
{
    std::lock_guard lock(m_lock);
    if (SaverScene* scene = m_driver ? m_driver->scene() : nullptr; scene != nullptr)
        static_cast<ServerCanvas&>(scene->surface().canvas()).setWindow(static_cast<std::uint32_t>(m_window.winId()));
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
