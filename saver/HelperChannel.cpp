#include "HelperChannel.h"

#include "platform/Log.h"
#include "verifier/SearchPath.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

extern char** environ;

namespace hakop {

namespace {

// Far more than any answer needs: a module cannot make us read without end.
constexpr std::size_t answerLimit = 4096;

std::string waitingLine(std::chrono::milliseconds waited)
{
    const auto ms = waited.count();
    const std::string amount = ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
    return "the password verifier has not answered for " + amount + "; still waiting";
}

} // namespace

HelperRead readHelperLine(int fd, int helperEnded, std::string& line, std::chrono::milliseconds patience)
{
    const auto start = std::chrono::steady_clock::now();
    bool told = false;
    bool ended = false;
    char buffer[256];
    while (line.size() < answerLimit) {
        int timeout = -1;
        if (ended) {
            timeout = 0;
        } else if (!told) {
            const auto left = patience - (std::chrono::steady_clock::now() - start);
            timeout = static_cast<int>(std::max<long long>(
                0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
        }
        pollfd watched[2] = {{fd, POLLIN, 0}, {helperEnded, POLLIN, 0}};
        const int ready = poll(watched, helperEnded >= 0 ? 2 : 1, timeout);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return HelperRead::Broken;
        if (ready == 0 && !ended) {
            // Through the logger: a full stderr must not stop us listening.
            logLine(waitingLine(patience));
            told = true;
            continue;
        }
        if (watched[0].revents == 0) {
            if (ended)
                return HelperRead::Ended;
            ended = true;
            continue;
        }
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return HelperRead::Ended;
        line.append(buffer, static_cast<std::size_t>(n));
        const auto end = line.find('\n');
        if (end != std::string::npos) {
            // Nothing may follow: the helper answers one question at a time.
            if (end + 1 != line.size())
                return HelperRead::Broken;
            line.resize(end);
            return HelperRead::Line;
        }
    }
    return HelperRead::Broken;
}

std::vector<std::string> helperEnvironment()
{
    static constexpr std::string_view key = "LD_LIBRARY_PATH=";
    std::vector<std::string> env;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text = *entry;
        if (text.substr(0, key.size()) != key) {
            env.emplace_back(text);
            continue;
        }
        const std::string clean = verifier::cleanLibraryPath(text.substr(key.size()));
        if (!clean.empty())
            env.push_back(std::string(key) + clean);
    }
    return env;
}

} // namespace hakop
