#include "TickTimer.h"

#include <linux/futex.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>
#include <system_error>

namespace hakop::platform {

namespace {

std::int64_t nowNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// Sleeps until the monotonic clock reaches 'deadlineNs' unless *word no
// longer holds 'expected' or someone wakes it. A condition variable would do
// the same with a mutex and two more clock reads around each sleep, and a
// ticking saver sleeps ten times a second. True when the deadline passed.
bool sleepUntil(std::atomic<std::uint32_t>& word, std::uint32_t expected, std::int64_t deadlineNs)
{
    static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));
    const timespec deadline{time_t(deadlineNs / 1'000'000'000), long(deadlineNs % 1'000'000'000)};
    // FUTEX_WAIT_BITSET takes an absolute CLOCK_MONOTONIC deadline.
    const long r = syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT_BITSET_PRIVATE, expected,
                           &deadline, nullptr, FUTEX_BITSET_MATCH_ANY);
    return r == -1 && errno == ETIMEDOUT;
}

} // namespace

TickTimer::TickTimer(std::function<void()> tick)
    : m_tick(std::move(tick))
{
}

TickTimer::~TickTimer()
{
    stop();
}

void TickTimer::interrupt()
{
    m_changes.fetch_add(1);
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&m_changes), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

void TickTimer::setInterval(int milliseconds)
{
    m_interval.store(milliseconds > 0 ? milliseconds : 0);
    interrupt();
}

void TickTimer::start()
{
    if (m_active.load())
        return;
    // A thread left over from an earlier run has ended or is ending.
    if (m_thread.joinable())
        m_thread.join();
    m_active.store(true);
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        m_active.store(false);
    }
}

void TickTimer::stop()
{
    m_active.store(false);
    interrupt();
    if (m_thread.joinable())
        m_thread.join();
}

void TickTimer::run()
{
    int interval = -1;
    std::int64_t next = 0;
    auto restart = [&] {
        if (m_interval.load() != interval) {
            interval = m_interval.load();
            // Nobody sees a tick a twentieth of its interval late; allowing
            // it lets the kernel wake us with a timer it fires anyway instead
            // of arming one for us.
            prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(interval) * 1'000'000ul / 20ul + 1ul, 0, 0, 0);
        }
        next = nowNs() + std::int64_t(interval) * 1'000'000;
    };
    std::uint32_t seen = m_changes.load();
    restart();
    for (;;) {
        if (!m_active.load())
            return;
        // A new interval, set while we slept or while the last tick ran.
        const std::uint32_t changes = m_changes.load();
        if (changes != seen) {
            seen = changes;
            restart();
        }
        if (!sleepUntil(m_changes, changes, next))
            continue; // woken early: look again
        m_tick();
        const std::int64_t period = std::int64_t(interval) * 1'000'000;
        next += period;
        // A tick a second behind is a second behind, not a second's worth of ticks.
        const std::int64_t now = nowNs();
        if (next <= now)
            next = now + period;
    }
}

} // namespace hakop::platform
