#include "WaylandSaver.h"

#include "engine/SceneDriver.h"
#include "engine/ImageList.h"
#include "saver/VerifierProcess.h"
#include "wayland/WaylandCanvas.h"
#include "platform/Failure.h"
#include "wayland/Connection.h"
#include "wayland/DesktopPicture.h"
#include "wayland/KeyboardWatch.h"
#include "wayland/OutputCovers.h"

#include <wayland-client.h>

#include <poll.h>

#include <cerrno>
#include <utility>

namespace hakop {

namespace wl = platform::wayland;

namespace {

using Clock = SceneDriver::Clock;
using Cover = wl::OutputCovers::Cover;
constexpr std::uint32_t leftButton = 0x110;

} // namespace

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
    m_connection.seat().onKey = nullptr;
    m_connection.seat().onPointerEnter = nullptr;
    m_connection.seat().onPointerMotion = nullptr;
    m_connection.seat().onButton = nullptr;
    m_connection.seat().onKeyboardLeave = nullptr;
    // The scene's canvas draws on the figures' surface: it goes first.
    m_driver.reset();
    m_covers.reset();
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
        m_covers->showPending();
        if (m_covers->figuresGone()) {
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
    const bool connected = wl_display_dispatch_pending(display) >= 0 && !m_connection.lost();
    if (m_keyboard)
        noticeKeyboardElsewhere();
    return connected;
}

void WaylandSaver::noticeKeyboardElsewhere()
{
    using Elsewhere = wl::KeyboardWatch::Elsewhere;
    const Elsewhere where = m_keyboard->judge(Clock::now());
    if ((where == Elsewhere::Taken && m_session.keyboardLost())
        || (where == Elsewhere::NeverCame && m_session.keyboardNeverCame()))
        m_closeAsked = true;
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

    m_covers = std::make_unique<wl::OutputCovers>(m_connection);
    if (!m_covers->cover(outputs))
        return false;
    m_figures = m_covers->figures();

    std::unique_ptr<WaylandCanvas> figures; // shows its snapshot once made
    for (std::size_t i = 0; i < m_covers->covers().size(); ++i) {
        Cover& cover = *m_covers->covers()[i];
        if (&cover != m_figures) {
            m_covers->showFrozen(cover, captures[i]);
            continue;
        }
        const wl::SurfaceFit fit = cover.fit();
        if (wl::captureIsUprightRgb32(captures[i], fit.buffer))
            // The copy itself is shown first and kept as the clean picture:
            // the output is covered before a pass over its pixels.
            figures = WaylandCanvas::create(m_connection, *cover.surface, fit, std::move(captures[i].buffer));
        else
            figures = WaylandCanvas::create(m_connection, *cover.surface, fit,
                                            wl::frozenPicture(captures[i], fit.buffer));
    }
    // Every output is covered: now the work of drawing the figures.
    if (!figures)
        throw std::runtime_error("no shared memory for the saver's pictures");
    m_figures->canvas = figures.get();
    m_figures->shown = true;
    m_driver->start(std::move(figures));
    connectSeat();
    m_covers->follow();
    m_covers->onCloseAsked = [this] {
        if (m_session.closeRequested())
            m_closeAsked = true;
    };
    m_session.begin();
    return m_connection.flush();
}

void WaylandSaver::connectSeat()
{
    wl::Seat& seat = m_connection.seat();
    seat.onKey = [this](std::uint32_t keysym, bool ctrl, bool alt) {
        runHandler([&] { FormKeyDown(keysym, ctrl, alt); });
    };
    seat.onPointerEnter = [this](wl_surface* surface, QPointF at) {
        if (m_covers->coverOf(surface) != nullptr && m_session.pointerEntered(pointerAt(surface, at)))
            m_closeAsked = true;
    };
    seat.onPointerMotion = [this](wl_surface* surface, QPointF at, bool leftHeld) {
        if (m_covers->coverOf(surface) != nullptr)
            runHandler([&] { FormMouseMove(pointerAt(surface, at), leftHeld); });
    };
    m_keyboard = std::make_unique<wl::KeyboardWatch>(
        seat, [this](wl_surface* surface) { return m_covers->coverOf(surface) != nullptr; });
    seat.onKeyboardLeave = [this](wl_surface* surface) { m_keyboard->left(surface); };
    seat.onButton = [this](std::uint32_t button, bool pressed, wl_surface* surface, QPointF at) {
        if (button == leftButton)
            m_session.leftButton(pressed, pointerAt(surface, at));
    };
}

PointerAt WaylandSaver::pointerAt(wl_surface* surface, QPointF at)
{
    const Cover* cover = m_covers->coverOf(surface);
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
    if (m_keyboard)
        m_keyboard->lent(); // the prompt took the keyboard and gave it back
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
