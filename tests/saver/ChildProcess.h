#pragma once
// A program the end-to-end tests start, and the waits around it.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace e2e {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline void sleepFor(std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); }

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// HAKOP_TEST_SLOWDOWN stretches the waits for the saver in sanitized builds,
// whose programs run several times slower and scan for leaks as they exit.
inline int slowdown()
{
    const char* factor = std::getenv("HAKOP_TEST_SLOWDOWN");
    return factor != nullptr ? std::max(1, std::atoi(factor)) : 1; // NOLINT(cert-err34-c): junk reads as 1
}

class ChildProcess {
public:
    // 'env' is added to (or replaces entries of) the test's own environment;
    // an empty path leaves that stream as the test's.
    ChildProcess(std::vector<std::string> argv, const std::vector<std::pair<std::string, std::string>>& env,
                 const std::string& stdoutPath = {}, const std::string& stderrPath = {})
    {
        // Everything is prepared before the fork: the test may run threads,
        // and between fork and exec only async-signal-safe calls are sound
        // (setenv and fopen take locks another thread may have held).
        std::vector<std::string> environment;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry(*e);
            const std::string name = entry.substr(0, entry.find('='));
            bool replaced = false;
            for (const auto& [n, v] : env)
                replaced = replaced || n == name;
            if (!replaced)
                environment.push_back(entry);
        }
        for (const auto& [name, value] : env)
            environment.push_back(std::string(name).append("=").append(value));
        std::vector<char*> envp;
        envp.reserve(environment.size() + 1);
        for (auto& e : environment)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<char*> args;
        args.reserve(argv.size() + 1);
        for (auto& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        const int out =
            stdoutPath.empty() ? -1 : ::open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        const int err =
            stderrPath.empty() ? -1 : ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);

        m_pid = fork();
        if (m_pid == 0) {
            if (out >= 0)
                dup2(out, STDOUT_FILENO);
            if (err >= 0)
                dup2(err, STDERR_FILENO);
            execvpe(args[0], args.data(), envp.data());
            _exit(127);
        }
        if (out >= 0)
            ::close(out);
        if (err >= 0)
            ::close(err);
    }
    ~ChildProcess()
    {
        if (running()) {
            kill(m_pid, SIGCONT);
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool running()
    {
        if (m_pid <= 0 || m_status)
            return false;
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_status = status;
            return false;
        }
        return true;
    }
    // The exit code (128 + the signal for a killed one), once the process
    // ended within 'limit' (stretched by slowdown()); nullopt if it still runs.
    std::optional<int> exitCodeWithin(std::chrono::milliseconds limit)
    {
        const auto end = Clock::now() + limit * slowdown();
        while (running() && Clock::now() < end)
            sleepFor(10ms);
        if (running())
            return std::nullopt;
        return WIFEXITED(*m_status) ? WEXITSTATUS(*m_status) : 128 + WTERMSIG(*m_status);
    }
    void pause() { kill(m_pid, SIGSTOP); }
    void resume() { kill(m_pid, SIGCONT); }
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    std::optional<int> m_status;
};

} // namespace e2e
