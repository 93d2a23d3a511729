#pragma once
// The one saver the watcher may have running: the hakop installed beside the
// watcher (else the first on PATH), started as "hakop /s" and waited for.
#include <sys/types.h>

#include <optional>
#include <string>

namespace hakop::idle {

// The saver program: 'ownDirectory'/hakop when it can be run, else the first
// runnable hakop in the ':'-separated 'path' (null or empty: none).
std::optional<std::string> findSaver(const std::string& ownDirectory, const char* path);

class SaverChild {
public:
    explicit SaverChild(std::string program);

    bool running() const { return m_pid > 0; }
    // Starts the saver unless one of ours still runs; a saver that cannot be
    // started is said in one line. Returns whether one was started.
    bool start();
    // After SIGCHLD: collects the saver if it has ended, and says in one line
    // when it ended in failure.
    void reap();

private:
    std::string m_program;
    pid_t m_pid = 0;
};

} // namespace hakop::idle
