#include "Presentation.h"

#include "engine/ImageList.h"
#include "platform/Failure.h"
#include "x11/ScreenCapture.h"
#include "x11/ServerCanvas.h"
#include "x11/ToolkitConnection.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <stdexcept>
#include <string>

#include <xcb/xcb.h>

namespace hakop {

namespace {

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

// The X server runs only this connection's requests while one lives. Use no
// other connection meanwhile: its requests would wait for the end.
class ServerHeld {
public:
    explicit ServerHeld(xcb_connection_t* c)
        : m_c(c != nullptr && !xcb_connection_has_error(c) ? c : nullptr)
    {
        if (m_c != nullptr)
            xcb_grab_server(m_c);
    }
    ~ServerHeld()
    {
        if (m_c != nullptr) {
            xcb_ungrab_server(m_c);
            xcb_flush(m_c);
        }
    }
    ServerHeld(const ServerHeld&) = delete;
    ServerHeld& operator=(const ServerHeld&) = delete;

private:
    xcb_connection_t* m_c;
};

} // namespace

QRect Presentation::primaryScreenGeometry()
{
    return primaryScreen()->geometry();
}

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

std::uint32_t Presentation::start(const TIForm& frames, const std::function<void()>& holdInput)
{
    // The animation asks for the screen size at every use, from Timer1's
    // thread: it gets the size the GUI thread keeps current.
    const QRect primary = primaryScreenDeviceRect();
    m_size = primary.size();
    m_frames = &frames;
    {
        std::lock_guard lock(m_lock);
        m_screenSize = primary.size();
    }
    QObject::connect(qGuiApp, &QGuiApplication::primaryScreenChanged, &m_window, [this] { followPrimaryScreen(); });
    followPrimaryScreen();
    // The window is mapped by now with no background of its own, so it goes
    // on showing the desktop beneath it: the screen is covered at once,
    // whatever its size. The server then copies that very picture into a
    // pixmap of its own (it never passes through our memory), and the canvas
    // takes it over as the window's background.
    //
    // What comes before the grab: the map (only a viewable window can be
    // given the input) and the keeper's move of the window above every other
    // (a move unmaps it, which would drop the grabs), nothing screen-sized.
    // The server runs each client's requests in order, so a grab sent after
    // the copy would wait for it: half a second on a 7680 x 4320 screen. The
    // copy comes right after the grab instead, and the server is held for
    // the two, so no other client's request runs between them: a window
    // mapped once another client can see that the saver holds the input
    // (and so surely runs) is never part of its picture. Holding the server
    // costs nothing here: it does nothing else while it copies anyway.
    std::uint32_t snapshot = 0;
    {
        const ServerHeld held(platform::toolkitConnection());
        holdInput();
        snapshot = x11::copyRootToPixmap(platform::toolkitConnection(), static_cast<std::uint32_t>(m_window.winId()),
                                         primary);
    }
    if (snapshot == 0)
        logSurvived("the X server could not copy the desktop; the saver shows it black");
    if (begin(snapshot))
        return snapshot;
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
    throw std::runtime_error("The X server has no room for the saver's picture (" + std::to_string(m_size.width())
                             + " x " + std::to_string(m_size.height())
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

void Presentation::followPrimaryScreen()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return; // the figures go on within the last size known
    QObject::disconnect(m_screenWatch);
    m_screenWatch = QObject::connect(screen, &QScreen::geometryChanged, &m_window, [this] { followPrimaryScreen(); });
    const QSize size = primaryScreenDeviceRect().size();
    std::lock_guard lock(m_lock);
    m_screenSize = size;
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
