#pragma once
// What the guest's command line and environment ask for: which window to
// draw into and which picture to draw on. Pure: no X connection needed.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace hakop::hosted {

// A command line or environment the program cannot run with; the message is
// the whole explanation, and the program ends with exit code 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An X window id as hosts pass it: "0x" or "0X" and hex digits, or decimal
// digits. X never hands out 0 (None) nor ids with any of the top three bits
// set, so those are refused too. Throws UsageError naming 'origin'.
std::uint32_t parseWindowId(std::string_view text, std::string_view origin);

enum class Target {
    Given, // a window someone else made (the option or the host's variable)
    Root, // the screen's root window
    OwnWindow, // a window of our own, for trying it from a terminal
};

struct GuestOptions {
    Target target = Target::OwnWindow;
    std::uint32_t window = 0; // with Target::Given
    std::string backdropFile; // empty: none asked for
    bool help = false;
    bool version = false;
};

// args without the program name; hostWindow is $XSCREENSAVER_WINDOW (null or
// empty when unset). The window option beats the variable, the variable beats
// the root option. Throws UsageError.
GuestOptions parseGuestOptions(const std::vector<std::string>& args, const char* hostWindow);

// The help text, for --help: the usage line, then what the program does.
std::string usageText();

} // namespace hakop::hosted
