#include "SaverChild.h"

#include "platform/Log.h"
#include "platform/SpawnAttributes.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string_view>

extern char** environ;

namespace hakop::idle {

namespace {

bool runnable(const std::string& file)
{
    return ::access(file.c_str(), X_OK) == 0;
}

} // namespace

std::optional<std::string> findSaver(const std::string& ownDirectory, const char* path)
{
    if (!ownDirectory.empty() && runnable(ownDirectory + "/hakop"))
        return ownDirectory + "/hakop";
    std::string_view rest = path != nullptr ? path : "";
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        // An empty entry would mean the current folder: never a place to take
        // the program from.
        if (folder.empty() || folder.front() != '/')
            continue;
        const std::string candidate = std::string(folder) + "/hakop";
        if (runnable(candidate))
            return candidate;
    }
    return std::nullopt;
}

SaverChild::SaverChild(std::string program)
    : m_program(std::move(program))
{
}

bool SaverChild::start()
{
    if (running())
        return false;
    const platform::DefaultSignalsSpawn attributes;
    char name[] = "hakop";
    char mode[] = "/s";
    char* argv[] = {name, mode, nullptr};
    pid_t pid = 0;
    const int error = posix_spawn(&pid, m_program.c_str(), nullptr, attributes.get(), argv, environ);
    if (error != 0) {
        logErrno("cannot start " + m_program, error);
        return false;
    }
    m_pid = pid;
    return true;
}

void SaverChild::reap()
{
    if (!running())
        return;
    int status = 0;
    const pid_t ended = ::waitpid(m_pid, &status, WNOHANG);
    if (ended == 0)
        return;
    m_pid = 0;
    if (ended < 0)
        return; // not ours to wait for any more: nothing to say of it
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
        logLine({"the saver ended with exit status ", Decimal(unsigned(WEXITSTATUS(status))).text(),
                 "; starting it again at the next idle time"});
    else if (WIFSIGNALED(status))
        logLine({"the saver was ended by signal ", Decimal(unsigned(WTERMSIG(status))).text(),
                 "; starting it again at the next idle time"});
}

} // namespace hakop::idle
