#include "WaylandSaver.h"

#include "engine/Backdrop.h"
#include "engine/SceneDriver.h"
#include "engine/ImageList.h"
#include "saver/VerifierProcess.h"
#include "wayland/WaylandCanvas.h"
#include "platform/Failure.h"
#include "wayland/Connection.h"
#include "wayland/DesktopPicture.h"
#include "wayland/LayerSurface.h"
#include "wayland/ShmBuffer.h"

#include <wayland-client.h>

#include <poll.h>

#include <QPainter>

#include <cerrno>
#include <utility>

namespace hakop {

namespace wl = platform::wayland;

namespace {

using Clock = SceneDriver::Clock;
constexpr std::uint32_t leftButton = 0x110;

} // namespace

struct WaylandSaver::Cover {
    wl::Output* output = nullptr;
    std::unique_ptr<wl::LayerSurface> surface;
    int scale = 1;
    // What an output without figures shows, kept until the compositor is done with it.
    std::unique_ptr<wl::ShmBuffer> still;
    // The figures' output draws here instead (the scene owns it).
    WaylandCanvas* canvas = nullptr;
    bool toldNoMemory = false;
    bool shown = false;
    wl::SurfaceFit stillFit; // how 'still' is shown

    // How a buffer fills the output pixel for pixel, as it is now.
    wl::SurfaceFit fit() const { return surface->fitTo(output != nullptr ? output->uprightSize() : QSize(), scale); }
};

WaylandSaver::WaylandSaver(wl::Connection& connection, Verifier* verifier, const TIForm& frames)
    : m_connection(connection)
    , m_frames(frames)
    , m_driver(std::make_unique<SceneDriver>(frames))
    , m_session(*this)
{
    m_session.setVerifier(verifier);
}

WaylandSaver::~WaylandSaver()
{
    m_connection.onOutputAdded = nullptr;
    m_connection.onOutputRemoved = nullptr;
    m_connection.seat().onKey = nullptr;
    m_connection.seat().onPointerEnter = nullptr;
    m_connection.seat().onPointerMotion = nullptr;
    m_connection.seat().onButton = nullptr;
    // The scene's canvas draws on the figures' surface: it goes first.
    m_driver.reset();
    m_covers.clear();
    m_connection.flush();
}

WaylandSaverEnd WaylandSaver::run()
{
    if (!FormShow())
        return m_connection.lost() ? WaylandSaverEnd::ConnectionLost : WaylandSaverEnd::NoOutput;
    auto nextTick = Clock::now() + SceneDriver::TickLength;
    bool dispatchedBeforeTick = false;
    while (true) {
        if (m_closeAsked) {
            m_closeAsked = false;
            if (FormCloseQuery()) {
                FormClose();
                return WaylandSaverEnd::Closed;
            }
        }
        showPending();
        if (m_figuresGone) {
            FormClose();
            return WaylandSaverEnd::Closed;
        }
        const auto now = Clock::now();
        if (now >= nextTick && !dispatchedBeforeTick) {
            // What came meanwhile (the keyboard, a close) goes before a tick
            // that is due, however late: ticks never run back to back unread.
            dispatchedBeforeTick = true;
            if (!waitAndDispatch(now))
                return WaylandSaverEnd::ConnectionLost;
            continue;
        }
        if (now >= nextTick) {
            dispatchedBeforeTick = false;
            runHandler([this] { Timer1Timer(); });
            nextTick = SceneDriver::nextTickDue(nextTick, now);
            continue;
        }
        if (!waitAndDispatch(nextTick))
            return WaylandSaverEnd::ConnectionLost;
    }
}

bool WaylandSaver::waitAndDispatch(Clock::time_point until)
{
    wl_display* display = m_connection.display();
    while (wl_display_prepare_read(display) != 0) {
        if (wl_display_dispatch_pending(display) < 0)
            return false;
    }
    if (!m_connection.flush()) {
        wl_display_cancel_read(display);
        return false;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    pollfd fd = {m_connection.fd(), POLLIN, 0};
    const int ready = ::poll(&fd, 1, int(std::max<long long>(0, wait)));
    if (ready > 0) {
        if (wl_display_read_events(display) < 0)
            return false;
    } else {
        wl_display_cancel_read(display);
        if (ready < 0 && errno != EINTR)
            return false;
    }
    return wl_display_dispatch_pending(display) >= 0 && !m_connection.lost();
}

bool WaylandSaver::FormShow()
{
    std::vector<wl::Output*> outputs;
    for (const auto& output : m_connection.outputs())
        if (output->done)
            outputs.push_back(output.get());
    if (outputs.empty())
        return false;
    // The pictures first, while nothing of ours is on any output.
    std::vector<wl::Capture> captures = wl::captureDesktop(m_connection, outputs);
    if (captures.empty())
        return false;

    for (wl::Output* output : outputs) {
        auto cover = std::make_unique<Cover>();
        cover->output = output;
        cover->scale = output->scale;
        // The keys go to the figures' surface alone.
        cover->surface = std::make_unique<wl::LayerSurface>(m_connection, output->output, m_covers.empty());
        m_covers.push_back(std::move(cover));
    }
    m_figures = m_covers.front().get();
    if (!configureAll())
        return false;

    std::unique_ptr<WaylandCanvas> figures; // shows its snapshot once made
    for (std::size_t i = 0; i < m_covers.size(); ++i) {
        Cover& cover = *m_covers[i];
        const wl::SurfaceFit fit = cover.fit();
        const QSize device = fit.buffer;
        wl::Capture& capture = captures[i];
        if (&cover == m_figures && wl::captureIsUprightRgb32(capture, device)) {
            // The copy itself is shown first and kept as the clean picture:
            // the output is covered before a pass over its pixels.
            figures = WaylandCanvas::create(m_connection, *cover.surface, fit, std::move(capture.buffer));
            continue;
        }
        if (&cover != m_figures && wl::captureIsUpright(capture, device)) {
            // The copy is already in memory the compositor can show: no second one.
            cover.still = std::move(capture.buffer);
            cover.stillFit = fit;
            cover.surface->show(*cover.still, fit);
            cover.shown = true;
            continue;
        }
        QImage picture = wl::captureImage(capture, device);
        capture.buffer.reset(); // copied: its memory can go
        if (picture.isNull())
            picture = hosted::neutralBackdrop(device);
        if (&cover != m_figures) {
            showStill(cover, picture);
            continue;
        }
        figures = WaylandCanvas::create(m_connection, *cover.surface, fit, picture);
    }
    // Every output is covered: now the work of drawing the figures.
    if (!figures)
        throw std::runtime_error("no shared memory for the saver's pictures");
    m_figures->canvas = figures.get();
    m_figures->shown = true;
    m_driver->start(std::move(figures));
    connectSeat();
    m_connection.onOutputAdded = [this](wl::Output& output) { outputAdded(output); };
    m_connection.onOutputRemoved = [this](wl::Output& output) { outputRemoved(output); };
    m_session.begin();
    return m_connection.flush();
}

bool WaylandSaver::configureAll()
{
    auto waiting = [this] {
        for (const auto& cover : m_covers)
            if (!cover->surface->configured() && !cover->surface->closed())
                return true;
        return false;
    };
    while (waiting())
        if (!m_connection.roundtrip())
            return false;
    return !m_figures->surface->closed();
}

void WaylandSaver::showStill(Cover& cover, const QImage& picture)
{
    const wl::SurfaceFit fit = cover.fit();
    cover.still = wl::ShmBuffer::create(m_connection.shm(), fit.buffer);
    if (!cover.still)
        return; // left uncovered rather than end the saver
    QImage target = cover.still->image();
    target.fill(Qt::black);
    if (!picture.isNull()) {
        QPainter painter(&target);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QPoint(0, 0), picture);
    }
    cover.stillFit = fit;
    cover.surface->show(*cover.still, fit);
    cover.shown = true;
}

// Outputs added while running are configured in the background, and an
// output resized is covered afresh at its new size (the figures' output too:
// the figures stay in the part it had at the start).
// A surface the compositor closed (its output going) is let go.
void WaylandSaver::showPending()
{
    for (auto it = m_covers.begin(); it != m_covers.end();) {
        Cover& cover = **it;
        if (cover.surface->closed() && &cover != m_figures) {
            it = m_covers.erase(it);
            continue;
        }
        if (cover.surface->closed())
            m_figuresGone = true;
        else if (!cover.shown && cover.surface->configured())
            showStill(cover, QImage());
        else if (cover.still && cover.fit() != cover.stillFit)
            showStill(cover, cover.still->image().copy()); // the output was resized: its picture, the rest black
        else if (cover.canvas && !cover.canvas->refit(cover.fit()) && !std::exchange(cover.toldNoMemory, true))
            logSurvived("no shared memory for the figures' output at its new size; its new part stays uncovered");
        ++it;
    }
}

void WaylandSaver::outputAdded(wl::Output& output)
{
    auto cover = std::make_unique<Cover>();
    cover->output = &output;
    cover->scale = output.scale;
    cover->surface = std::make_unique<wl::LayerSurface>(m_connection, output.output, false);
    m_covers.push_back(std::move(cover));
}

void WaylandSaver::outputRemoved(wl::Output& output)
{
    for (auto it = m_covers.begin(); it != m_covers.end(); ++it) {
        if ((*it)->output != &output)
            continue;
        if (it->get() == m_figures) {
            // The figures have nowhere to play: the saver ends, its surfaces kept until then.
            m_figuresGone = true;
            (*it)->output = nullptr;
            return;
        }
        m_covers.erase(it);
        return;
    }
}

void WaylandSaver::connectSeat()
{
    wl::Seat& seat = m_connection.seat();
    seat.onKey = [this](std::uint32_t keysym, bool ctrl, bool alt) {
        runHandler([&] { FormKeyDown(keysym, ctrl, alt); });
    };
    seat.onPointerEnter = [this](wl_surface* surface, QPointF at) {
        if (coverOf(surface) != nullptr && m_session.pointerEntered(pointerAt(surface, at)))
            m_closeAsked = true;
    };
    seat.onPointerMotion = [this](wl_surface* surface, QPointF at, bool leftHeld) {
        if (coverOf(surface) != nullptr)
            runHandler([&] { FormMouseMove(pointerAt(surface, at), leftHeld); });
    };
    seat.onButton = [this](std::uint32_t button, bool pressed, wl_surface* surface, QPointF at) {
        if (button == leftButton)
            m_session.leftButton(pressed, pointerAt(surface, at));
    };
}

WaylandSaver::Cover* WaylandSaver::coverOf(wl_surface* surface)
{
    for (const auto& cover : m_covers)
        if (surface != nullptr && cover->surface->surface() == surface)
            return cover.get();
    return nullptr;
}

PointerAt WaylandSaver::pointerAt(wl_surface* surface, QPointF at)
{
    const Cover* cover = coverOf(surface);
    return {surface, at, cover != nullptr ? cover->fit().pointScale() : 1.0, cover != nullptr && cover == m_figures};
}

bool WaylandSaver::FormCloseQuery()
{
    return m_session.closeQuery(0);
}

void WaylandSaver::FormClose()
{
    m_session.close();
    m_driver->close();
}

void WaylandSaver::FormKeyDown(std::uint32_t keysym, bool ctrl, bool alt)
{
    if (m_session.keysymDown(keysym, ctrl, alt))
        m_closeAsked = true;
}

void WaylandSaver::FormMouseMove(const PointerAt& at, bool leftHeld)
{
    if (m_session.pointerMoved(at, leftHeld))
        m_closeAsked = true;
}

void WaylandSaver::Timer1Timer()
{
    m_driver->tick();
}

bool WaylandSaver::figureAt(QPoint device)
{
    return m_driver->spriteAt(device);
}

// There is no X window to name as the parent of a prompt, and our surfaces
// stay up: a verifier cannot uncover the screen.
void WaylandSaver::letGoOfInput()
{
    m_connection.flush();
}

// What came while the verifier was asked was meant for it: the session
// ignores what this round trip delivers.
void WaylandSaver::dropInputSoFar()
{
    m_connection.roundtrip();
}

void WaylandSaver::redrawBackdrop()
{
    m_driver->redrawBackdrop();
    m_connection.flush();
}

WaylandSaverEnd runWaylandSaverMode(wl::Connection& connection)
{
    // What guards the screen lives as long as the saver.
    VerifierProcess verifier;
    const TIForm frames;
    WaylandSaver saver(connection, &verifier, frames);
    return saver.run();
}

} // namespace hakop
