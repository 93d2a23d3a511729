#include "ScreenKeeper.h"

#include "platform/Failure.h"
#include "x11/keeper/InputGrab.h"
#include "x11/keeper/WindowGuard.h"
#include "x11/keeper/StackingWatch.h"

namespace hakop {

std::string_view GrabWaitLog::attempt(bool held, bool refused)
{
    m_refusals = !held && refused ? m_refusals + 1 : 0;
    if (held && m_waiting) {
        m_waiting = false;
        return "got the keyboard and pointer";
    }
    if (m_refusals >= 2 && !m_waiting) {
        m_waiting = true;
        return "another program holds the keyboard or pointer; waiting for it to let go";
    }
    return {};
}

ScreenKeeper::ScreenKeeper(Display* display, unsigned long window, std::chrono::milliseconds tick)
    : m_grab(std::make_unique<platform::InputGrab>(display, window))
    , m_display(display)
    , m_window(window)
{
    m_retry.setInterval(tick);
    connect(&m_retry, &QTimer::timeout, this, [this] { takeInput(); });
    m_restack.setSingleShot(true);
    connect(&m_restack, &QTimer::timeout, this, [this] {
        if (m_running && m_pauses == 0)
            keep();
    });
    // The window is looked at a tick after something happened to it or
    // around it, not at every tick: an idle saver wakes nobody.
    m_tick.setSingleShot(true);
    m_tick.setInterval(tick);
    connect(&m_tick, &QTimer::timeout, this, [this] { guard(); });
}

ScreenKeeper::~ScreenKeeper() = default;

void ScreenKeeper::start(bool withInput)
{
    if (m_running)
        return;
    m_running = true;
    using Change = platform::StackingWatch::Change;
    m_watch = std::make_unique<platform::StackingWatch>(m_display, m_window, [this](Change change) {
        if (change == Change::Destroyed) {
            lost();
            return;
        }
        if (change == Change::Unmapped)
            m_grab->lost(); // the server dropped them with the mapping
        if (change == Change::OverlayRestored && !m_toldOverlay) {
            m_toldOverlay = true;
            logSurvived("another program unmapped or reshaped the saver's overlay, or kept a window above the saver "
                        "there; put back");
        }
        if (change == Change::Compositing && m_running && m_pauses == 0) {
            // Whether the overlay still suits (and how it is painted) is
            // for a new look.
            toOverlay(false);
            toOverlay(true);
        }
        if (m_running && m_pauses == 0)
            keep();
    });
    m_watch->setStandInPicture(m_picture);
    if (!m_watch->works()) {
        logSurvived("cannot watch the window stacking; the saver may be covered by other windows");
    } else {
        m_guard = std::make_unique<platform::WindowGuard>(m_watch->connection(), m_window, m_watch->root());
        m_guard->remember();
        m_guard->keepBackground(m_picture);
        m_watch->onActivity = [this] {
            if (!m_tick.isActive())
                m_tick.start();
        };
        m_tick.start();
        // A keeper that starts paused leaves its window among the root's
        // children until the pause ends.
        if (m_pauses == 0)
            toOverlay(true);
        else if (m_yielding)
            m_watch->yieldToNewWindows(true);
    }
    if (withInput)
        takeInput();
}

bool ScreenKeeper::inOverlay() const
{
    return m_watch && m_watch->works() && m_watch->home() != m_watch->root();
}

void ScreenKeeper::toOverlay(bool in)
{
    if (!m_watch || !m_guard || m_watch->yielding())
        return;
    const unsigned long before = m_watch->home();
    if (!in) {
        m_watch->leaveOverlay();
    } else if (m_watch->enterOverlay() == platform::CompositeOverlay::Entry::Refused && !m_toldNoOverlay) {
        m_toldNoOverlay = true;
        logSurvived("the X server would not put the saver window above every other; it raises itself instead");
    }
    if (m_watch->home() == before)
        return;
    // Moving it unmaps it for a moment, and the server drops the grabs with that.
    m_guard->setParent(m_watch->home());
    m_grab->lost();
}

void ScreenKeeper::setStandInPicture(std::uint32_t picture)
{
    m_picture = picture;
    if (m_watch)
        m_watch->setStandInPicture(picture);
    if (m_guard)
        m_guard->keepBackground(picture);
}

bool ScreenKeeper::stoodIn() const
{
    return m_watch && !m_watch->yielding() && m_watch->stoodIn();
}

void ScreenKeeper::takeOverPauses(const ScreenKeeper& old)
{
    m_pauses = old.m_pauses;
    m_yielding = old.m_yielding;
}

void ScreenKeeper::stop()
{
    m_running = false;
    m_retry.stop();
    m_restack.stop();
    m_tick.stop();
    m_guard.reset();
    m_watch.reset();
    m_grab->release();
}

void ScreenKeeper::pause(bool yield)
{
    // Out of the overlay first, on the watch's connection while the event
    // loop still has it: whatever is let above the saver must get there.
    if (m_pauses == 0 && m_running)
        toOverlay(false);
    m_yielding = m_yielding || yield;
    if (yield && m_watch)
        m_watch->yieldToNewWindows(true);
    if (m_pauses++ > 0)
        return;
    m_retry.stop();
    m_restack.stop();
    m_grab->release();
}

void ScreenKeeper::resume()
{
    if (m_pauses == 0 || --m_pauses > 0)
        return;
    m_yielding = false;
    if (!m_running)
        return;
    if (m_watch)
        m_watch->yieldToNewWindows(false);
    toOverlay(true);
    keep();
}

bool ScreenKeeper::holdsInput() const
{
    return m_grab->held();
}

void ScreenKeeper::guard()
{
    if (!m_running || !m_watch || m_watch->yielding())
        return;
    const unsigned undone = m_guard ? m_guard->repair() : platform::WindowGuard::Nothing;
    if (undone != platform::WindowGuard::Nothing && !m_guard->exists()) {
        m_watch->check(); // destroyed while looked at, not moved: ends in lost()
        return;
    }
    if (undone != platform::WindowGuard::Nothing && !m_toldUndone) {
        m_toldUndone = true;
        logSurvived("another program moved, reshaped or renamed the saver window; put back");
    }
    if ((undone & platform::WindowGuard::Parent) != 0)
        m_grab->lost(); // unmapped on the way back, and the server dropped them
    m_watch->check(); // may end in lost()
    if (undone != platform::WindowGuard::Nothing && m_running && m_pauses == 0)
        keep();
}

void ScreenKeeper::lost()
{
    if (!m_running)
        return;
    m_running = false;
    m_retry.stop();
    m_restack.stop();
    m_tick.stop();
    m_grab->lost(); // the server dropped them with the window
    // Not from inside the watch's report: the owner may delete this keeper.
    QTimer::singleShot(0, this, [this] {
        if (onLost)
            onLost();
    });
}

void ScreenKeeper::keep()
{
    restack();
    takeInput();
}

void ScreenKeeper::restack()
{
    if (!m_watch || !m_watch->works() || m_watch->onTop())
        return;
    const qint64 tick = m_retry.interval();
    if (m_sinceRaise.isValid() && m_sinceRaise.elapsed() < tick) {
        if (!m_restack.isActive())
            m_restack.start(static_cast<int>(tick - m_sinceRaise.elapsed()));
        return;
    }
    m_watch->raise();
    m_sinceRaise.start();
}

void ScreenKeeper::takeInput()
{
    if (!m_running || m_pauses > 0) {
        m_retry.stop();
        return;
    }
    const bool held = m_grab->held() || m_grab->tryTake();
    const std::string_view line = m_waitLog.attempt(held, m_grab->refused());
    if (!line.empty())
        logSurvived(line);
    if (held)
        m_retry.stop();
    else if (!m_retry.isActive())
        m_retry.start();
}

} // namespace hakop
