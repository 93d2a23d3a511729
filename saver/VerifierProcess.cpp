#include "VerifierProcess.h"

#include "HelperChannel.h"
#include "verifier/VerifierAnswer.h"
#include "platform/Failure.h"
#include "platform/SpawnAttributes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace hakop {

namespace {

// A helper asked to end (after "refused", or when the saver is done with it)
// exits at once; one that lingers this long is stuck and is killed.
constexpr auto exitGrace = std::chrono::seconds(2);

bool isExecutableFile(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) { }
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

// strerror's buffer is shared between threads; the library's category is not.
std::string errorText(int error)
{
    return std::generic_category().message(error);
}

std::string describeStatus(int status)
{
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        const char* name = sigdescr_np(sig); // strsignal is not safe beside the tick thread
        return "it was killed by signal " + std::to_string(sig) + (name != nullptr ? std::string(" (") + name + ")" : "");
    }
    if (WIFEXITED(status)) {
        switch (WEXITSTATUS(status)) {
        case verifier::exitOrphaned: return "its helper lost the saver as its parent";
        case verifier::exitNoChannel: return "its helper lost the channel for its answer";
        case verifier::exitUsage: return "its helper did not understand how it was called";
        default: return "it ended without an answer (exit code " + std::to_string(WEXITSTATUS(status)) + ")";
        }
    }
    return "it ended in an unknown way";
}

// Waits for the helper to end; with a deadline, kills it once that passes.
// False when its end could not be observed.
bool reap(pid_t pid, int& status, bool withDeadline, bool& killed)
{
    killed = false;
    const auto deadline = std::chrono::steady_clock::now() + exitGrace;
    for (;;) {
        const pid_t r = waitpid(pid, &status, withDeadline ? WNOHANG : 0);
        if (r == pid)
            return true;
        if (r < 0 && errno != EINTR)
            return false;
        if (r == 0) {
            if (std::chrono::steady_clock::now() >= deadline && !killed) {
                kill(pid, SIGKILL);
                killed = true;
                withDeadline = false;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
    }
}

bool parseAnswer(const std::string& text, int& value)
{
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || errno != 0 || end == nullptr || *end != '\0' || v < INT_MIN || v > INT_MAX)
        return false;
    value = static_cast<int>(v);
    return true;
}

} // namespace

VerifierProcess::VerifierProcess()
{
    const std::string dir = executableDir();
    m_helper = findHelper(dir);
    if (m_helper.empty())
        m_lookedIn = dir.empty() ? std::string("(the program's folder is unknown)") : dir;
}

VerifierProcess::VerifierProcess(std::string helperPath)
    : m_helper(std::move(helperPath))
{
}

std::string VerifierProcess::executableDir()
{
    std::vector<char> path(PATH_MAX + 1);
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0 || static_cast<std::size_t>(n) >= path.size() - 1)
        return {};
    std::string exe(path.data(), static_cast<std::size_t>(n));
    const auto slash = exe.rfind('/');
    if (exe.empty() || exe.front() != '/' || slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : exe.substr(0, slash);
}

std::string VerifierProcess::findHelper(const std::string& executableDir)
{
    // Only absolute places: a relative one would depend on the current directory.
    if (executableDir.empty() || executableDir.front() != '/')
        return {};
    const std::string dir = executableDir.back() == '/' ? executableDir : executableDir + "/";
    for (const std::string& candidate :
         {dir + verifier::helperName, dir + HAKOP_VERIFIER_INSTALLED_DIR "/" + verifier::helperName}) {
        if (isExecutableFile(candidate))
            return candidate;
    }
    return {};
}

VerifierProcess::~VerifierProcess()
{
    if (m_pid > 0) {
        // An idle helper reads the end of its questions and exits.
        shutdown(m_channel, SHUT_RDWR);
        reapHelper();
    }
}

bool VerifierProcess::mayClose(unsigned long window)
{
    const Outcome outcome = ask(window);
    if (!outcome.failure.empty())
        logSurvived("the password verifier failed, so the saver stays: " + outcome.failure);
    return outcome.mayClose;
}

VerifierProcess::Outcome VerifierProcess::ask(unsigned long window)
{
    Outcome refused;
    if (m_helper.empty()) {
        refused.failure = std::string("its helper ") + verifier::helperName + " is missing (looked beside "
            + m_lookedIn + " and in " + HAKOP_VERIFIER_INSTALLED_DIR + " from there)";
        if (m_lookedIn.empty())
            refused.failure = std::string("no helper ") + verifier::helperName + " was given";
        return refused;
    }

    // A helper that ended since the last question is started again.
    int status = 0;
    if (m_pid > 0 && waitpid(m_pid, &status, WNOHANG) == m_pid)
        dropHelper(false);
    if (m_pid <= 0 && !startHelper(refused.failure))
        return refused;

    std::string line;
    const HelperRead got = verifier::sendAll(m_channel, std::to_string(window) + "\n")
        ? readHelperLine(m_channel, m_ended, line, m_patience)
        : HelperRead::Ended;
    if (got == HelperRead::Broken) {
        kill(m_pid, SIGKILL);
        reapHelper();
        refused.failure = "its helper's answer was not one line";
        return refused;
    }
    if (got == HelperRead::Ended) {
        refused.failure = reapHelper();
        return refused;
    }

    if (line == "none")
        return {true, {}};
    if (line.rfind("refused ", 0) == 0) {
        reapHelper(); // it ends after a refusal: the next question starts afresh
        refused.failure = line.substr(8);
        return refused;
    }
    int value = 0;
    if (line.rfind("answer ", 0) == 0 && parseAnswer(line.substr(7), value))
        return {(value & 0xff) != 0, {}};
    kill(m_pid, SIGKILL);
    reapHelper();
    refused.failure = "its helper gave an answer that makes no sense: " + line;
    return refused;
}

bool VerifierProcess::startHelper(std::string& failure)
{
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        failure = std::string("no channel for its helper: ") + errorText(errno);
        return false;
    }
    Descriptor ours(ends[0]);
    // Kept clear of the low numbers, so that moving it to the channel's
    // number in the helper is always a real copy (one without close-on-exec).
    Descriptor theirs(fcntl(ends[1], F_DUPFD_CLOEXEC, 10));
    close(ends[1]);
    if (theirs.get() < 0) {
        failure = std::string("no channel for its helper: ") + errorText(errno);
        return false;
    }

    // Nothing of ours goes to the helper but its channel, and it starts with
    // default signal handling and nothing blocked.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, theirs.get(), verifier::answerDescriptor);
    posix_spawn_file_actions_addclosefrom_np(&actions, verifier::answerDescriptor + 1);
    const platform::DefaultSignalsSpawn attributes;

    std::string parentText = std::to_string(getpid());
    std::string program = m_helper;
    char* argv[] = {program.data(), parentText.data(), nullptr};
    std::vector<std::string> env = helperEnvironment();
    std::vector<char*> envp;
    envp.reserve(env.size() + 1);
    for (std::string& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int spawnError = posix_spawn(&pid, m_helper.c_str(), &actions, attributes.get(), argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawnError != 0) {
        failure = "its helper " + m_helper + " could not be started: " + errorText(spawnError);
        return false;
    }
    m_pid = pid;
    m_channel = ours.release();
    // Without pidfds (kernels before 5.3) the socket's end is the only sign.
    m_ended = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    return true;
}

void VerifierProcess::dropHelper(bool killFirst)
{
    if (killFirst && m_pid > 0)
        kill(m_pid, SIGKILL);
    if (m_channel >= 0)
        close(m_channel);
    if (m_ended >= 0)
        close(m_ended);
    m_channel = -1;
    m_ended = -1;
    m_pid = -1;
}

std::string VerifierProcess::reapHelper()
{
    int status = 0;
    bool killed = false;
    std::string why;
    if (!reap(m_pid, status, true, killed))
        why = std::string("the end of its helper could not be observed: ") + errorText(errno);
    else if (killed)
        why = "its helper did not end and was killed";
    else
        why = describeStatus(status);
    dropHelper(false);
    return why;
}

} // namespace hakop
