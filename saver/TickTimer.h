#pragma once
// A periodic timer whose ticks run on a thread of their own. Waking the GUI
// thread's event loop costs more than a saver tick itself (the loop polls,
// checks and dispatches every source it has); a thread asleep until the next
// deadline wakes for the tick and nothing else. Whoever the tick shares state
// with must lock it.
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace hakop {

class TickTimer {
public:
    explicit TickTimer(std::function<void()> tick);
    ~TickTimer();
    TickTimer(const TickTimer&) = delete;
    TickTimer& operator=(const TickTimer&) = delete;

    // Like restarting: an active timer's next tick comes one new interval
    // from now.
    void setInterval(int milliseconds);
    int interval() const;

    // Ticks every interval from now on; a tick that runs late delays the
    // next rather than bunching the missed ones. Does nothing when already
    // active. Afterwards the timer is inactive only if the system had no
    // thread to give.
    void start();
    // No tick runs once this returns; a tick under way is waited for, so it
    // must not be called from a tick.
    void stop();
    bool isActive() const;

private:
    void run();

    const std::function<void()> m_tick;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    int m_interval = 0;     // guarded by m_mutex
    bool m_active = false;  // guarded by m_mutex
    unsigned m_restarts = 0; // guarded by m_mutex; counts interval changes
    std::thread m_thread;
};

} // namespace hakop
