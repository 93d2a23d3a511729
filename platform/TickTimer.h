#pragma once
// A periodic timer whose ticks run on a thread of their own. Waking the GUI
// thread's event loop costs more than a saver tick itself (the loop polls,
// checks and dispatches every source it has); a thread asleep until the next
// deadline wakes for the tick and nothing else. Whoever the tick shares state
// with must lock it.
#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

namespace hakop::platform {

class TickTimer {
public:
    explicit TickTimer(std::function<void()> tick);
    ~TickTimer();
    TickTimer(const TickTimer&) = delete;
    TickTimer& operator=(const TickTimer&) = delete;

    // Like restarting: an active timer's next tick comes one new interval
    // from now.
    void setInterval(int milliseconds);
    int interval() const { return m_interval.load(); }

    // Ticks every interval from now on; a tick that runs late delays the
    // next rather than bunching the missed ones. Does nothing when already
    // active. Afterwards the timer is inactive only if the system had no
    // thread to give. Start, stop and setInterval belong to one thread.
    void start();
    // No tick runs once this returns; a tick under way is waited for, so it
    // must not be called from a tick.
    void stop();
    bool isActive() const { return m_active.load(); }

private:
    void run();
    // Wakes the ticking thread to look at the interval and whether it is
    // still active.
    void interrupt();

    const std::function<void()> m_tick;
    std::atomic<int> m_interval{0};
    std::atomic<bool> m_active{false};
    // The word the thread sleeps on: bumped by every stop and interval change.
    std::atomic<std::uint32_t> m_changes{0};
    std::thread m_thread;
};

} // namespace hakop::platform
