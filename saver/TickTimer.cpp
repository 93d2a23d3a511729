#include "TickTimer.h"

#include <chrono>
#include <system_error>

namespace hakop {

TickTimer::TickTimer(std::function<void()> tick)
    : m_tick(std::move(tick))
{
}

TickTimer::~TickTimer()
{
    stop();
}

void TickTimer::setInterval(int milliseconds)
{
    {
        std::lock_guard lock(m_mutex);
        m_interval = milliseconds > 0 ? milliseconds : 0;
        ++m_restarts;
    }
    m_wake.notify_all();
}

int TickTimer::interval() const
{
    std::lock_guard lock(m_mutex);
    return m_interval;
}

bool TickTimer::isActive() const
{
    std::lock_guard lock(m_mutex);
    return m_active;
}

void TickTimer::start()
{
    std::unique_lock lock(m_mutex);
    if (m_active)
        return;
    lock.unlock();
    // A thread left over from an earlier run has ended or is ending.
    if (m_thread.joinable())
        m_thread.join();
    lock.lock();
    m_active = true;
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        m_active = false;
    }
}

void TickTimer::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_active = false;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void TickTimer::run()
{
    using Clock = std::chrono::steady_clock;
    std::unique_lock lock(m_mutex);
    Clock::time_point next = Clock::now() + std::chrono::milliseconds(m_interval);
    unsigned restarts = m_restarts;
    for (;;) {
        if (m_wake.wait_until(lock, next, [&] { return !m_active || m_restarts != restarts; })) {
            if (!m_active)
                return;
            restarts = m_restarts;
            next = Clock::now() + std::chrono::milliseconds(m_interval);
            continue;
        }
        lock.unlock();
        m_tick();
        lock.lock();
        if (!m_active)
            return;
        const auto period = std::chrono::milliseconds(m_interval);
        next += period;
        const Clock::time_point now = Clock::now();
        if (next <= now)
            next = now + period;
    }
}

} // namespace hakop
