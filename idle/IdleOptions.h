#pragma once
// What the idle watcher's command line asks for. Pure: no desktop needed.
#include <stdexcept>
#include <string>
#include <vector>

namespace hakop::idle {

// A command line the watcher cannot run with; the message is the whole
// explanation, and the program ends with exit code 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr unsigned defaultIdleSeconds = 600;
// A day: any longer and the saver is no longer what the user waits for.
inline constexpr unsigned longestIdleSeconds = 86400;

struct IdleOptions {
    unsigned seconds = defaultIdleSeconds;
    bool help = false;
    bool version = false;
};

// args without the program name: "--after SECONDS" or "--after=SECONDS",
// "--help", "--version". Throws UsageError.
IdleOptions parseIdleOptions(const std::vector<std::string>& args);

std::string idleUsageText();

} // namespace hakop::idle
