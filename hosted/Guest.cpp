#include "Guest.h"

#include "SignalRequests.h"
#include "engine/Backdrop.h"
#include "XHost.h"

#include "engine/ImageList.h"
#include "engine/MemoryCanvas.h"
#include "engine/SceneDriver.h"
#include "platform/Failure.h"
#include "x11/XErrorLog.h"
#include "x11/ServerCanvas.h"

#include <xcb/xcb.h>

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace hakop::hosted {

namespace {

using Clock = SceneDriver::Clock;

// X protocol error codes that mean "no such window or drawable".
constexpr std::uint8_t badWindow = 3;
constexpr std::uint8_t badDrawable = 9;

std::string windowName(std::uint32_t window)
{
    char text[16];
    (void)std::snprintf(text, sizeof text, "0x%x", unsigned(window)); // always fits: 8 hex digits
    return text;
}

// The server keeps the pixels: the backdrop goes there a band at a time, as
// the whole of it would weigh as much as the window (a GiB at 16384 x 16384).
void setBackdropInBands(ServerCanvas& canvas, const BackdropBands& backdrop)
{
    const QSize size = canvas.size();
    const int bandRows = std::max(1, (4 << 20) / (size.width() * 4));
    for (int top = 0; top < size.height(); top += bandRows)
        canvas.drawImage(backdrop.rows(top, std::min(bandRows, size.height() - top)), QPoint(0, top));
    canvas.keepPixelsAsBackdrop();
}

// Where the server cannot keep the surface: the pixels stay in memory and
// what a tick drew is written to the window.
class WrittenCanvas : public MemoryCanvas {
public:
    WrittenCanvas(QImage backdrop, std::unique_ptr<PixelWriter> writer, xcb_connection_t* connection)
        : MemoryCanvas(std::move(backdrop))
        , m_writer(std::move(writer))
        , m_connection(connection)
    {
    }

    void present(const QRegion& changed) override
    {
        m_writer->put(read(), changed);
        xcb_flush(m_connection);
    }

private:
    std::unique_ptr<PixelWriter> m_writer;
    xcb_connection_t* m_connection;
};

} // namespace

Guest::Guest(xcb_connection_t* connection, std::uint32_t window, bool ownWindow, QImage backdrop,
             const TIForm& frames)
    : m_connection(connection)
    , m_window(window)
    , m_ownWindow(ownWindow)
    , m_backdropSource(std::move(backdrop))
    , m_frames(frames)
    , m_driver(std::make_unique<SceneDriver>(frames))
{
}

Guest::~Guest()
{
    stopScene();
}

void Guest::stopScene()
{
    // Frees the canvas's pixmaps on the server with it.
    m_driver->reset();
}

void Guest::startScene()
{
    stopScene();
    const BackdropBands backdrop(m_backdropSource, m_size);
    // The scene's screen is the window: its size is the surface's.
    std::unique_ptr<Canvas> canvas;
    if (auto server = ServerCanvas::create(m_connection, m_window, m_size, 0, /*asBackground=*/false)) {
        setBackdropInBands(*server, backdrop);
        canvas = std::move(server);
    } else if (auto writer = PixelWriter::create(m_connection, m_window)) {
        canvas = std::make_unique<WrittenCanvas>(backdrop.rows(0, m_size.height()), std::move(writer), m_connection);
    } else {
        if (!windowSize(m_connection, m_window))
            return; // gone already: its destruction notice ends the run
        throw std::runtime_error("cannot draw into window " + windowName(m_window)
                                 + ": its pixels are not true colour of 16 or 32 bits");
    }
    m_driver->start(std::move(canvas));
}

void Guest::tick()
{
    m_driver->tick();
}

bool Guest::handleEvents(GuestEnd& end)
{
    QRegion exposed;
    while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
        const std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> owner(event, &std::free);
        switch (event->response_type & 0x7f) {
        case 0: {
            const auto* error = reinterpret_cast<const xcb_generic_error_t*>(event);
            if ((error->error_code == badWindow || error->error_code == badDrawable)
                && error->resource_id == m_window) {
                end = GuestEnd::WindowGone;
                return false;
            }
            platform::logXError({error->error_code, error->major_code, error->minor_code, error->resource_id, {}, {}});
            break;
        }
        case XCB_DESTROY_NOTIFY: {
            const auto* destroyed = reinterpret_cast<const xcb_destroy_notify_event_t*>(event);
            if (destroyed->window == m_window) {
                end = GuestEnd::WindowGone;
                return false;
            }
            break;
        }
        case XCB_CONFIGURE_NOTIFY: {
            const auto* configured = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
            if (configured->window == m_window)
                m_newSize = QSize(configured->width, configured->height);
            break;
        }
        case XCB_EXPOSE: {
            const auto* expose = reinterpret_cast<const xcb_expose_event_t*>(event);
            if (expose->window == m_window)
                exposed += QRect(expose->x, expose->y, expose->width, expose->height);
            break;
        }
        case XCB_CLIENT_MESSAGE: {
            const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
            if (m_ownWindow && message->window == m_window && message->format == 32
                && message->data.data32[0] == deleteWindowAtom(m_connection)) {
                end = GuestEnd::Asked;
                return false;
            }
            break;
        }
        default:
            break;
        }
    }
    if (xcb_connection_has_error(m_connection)) {
        end = GuestEnd::DisplayLost;
        return false;
    }
    if (!m_newSize.isEmpty() && m_newSize != m_size) {
        // A new size is a new picture: the backdrop fitted afresh, the figures
        // placed within the new bounds.
        m_size = m_newSize;
        startScene();
    } else if (!exposed.isEmpty()) {
        // The host's window keeps its own background; what it lost we draw again.
        m_driver->exposed(exposed);
    }
    return true;
}

GuestEnd Guest::run(int signalFd)
{
    const auto size = windowSize(m_connection, m_window);
    if (!size)
        return GuestEnd::WindowGone;
    m_size = *size;
    startScene();

    GuestEnd end = GuestEnd::Asked;
    auto nextTick = Clock::now() + SceneDriver::TickLength;
    const int xFd = xcb_get_file_descriptor(m_connection);
    while (true) {
        if (!handleEvents(end))
            break;
        const auto now = Clock::now();
        if (now >= nextTick) {
            tick();
            nextTick = SceneDriver::nextTickDue(nextTick, now);
            continue;
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextTick - now).count();
        pollfd fds[] = {{xFd, POLLIN, 0}, {signalFd, POLLIN, 0}};
        if (::poll(fds, 2, int(wait)) < 0 && errno != EINTR)
            throw std::runtime_error("waiting for events failed");
        if (fds[1].revents & POLLIN) {
            const SignalRequests asked = takeSignalRequests(signalFd);
            if (asked.end)
                break;
            if (asked.restart) {
                startScene();
                nextTick = Clock::now() + SceneDriver::TickLength;
            }
        }
    }
    stopScene();
    if (end != GuestEnd::DisplayLost)
        xcb_flush(m_connection);
    return end;
}

} // namespace hakop::hosted
