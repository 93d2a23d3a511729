#include "IdleOptions.h"

#include <charconv>
#include <string_view>

namespace hakop::idle {

namespace {

unsigned parseSeconds(std::string_view text)
{
    unsigned value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || stop != end || error == std::errc::invalid_argument)
        throw UsageError("--after wants a whole number of seconds, not \"" + std::string(text) + "\"");
    if (error == std::errc::result_out_of_range || value < 1 || value > longestIdleSeconds)
        throw UsageError("--after takes 1 to " + std::to_string(longestIdleSeconds) + " seconds, not "
                         + std::string(text));
    return value;
}

} // namespace

IdleOptions parseIdleOptions(const std::vector<std::string>& args)
{
    IdleOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--after") {
            if (i + 1 == args.size())
                throw UsageError("--after wants a number of seconds");
            options.seconds = parseSeconds(args[++i]);
        } else if (arg.starts_with("--after=")) {
            options.seconds = parseSeconds(arg.substr(8));
        } else {
            throw UsageError("unknown argument \"" + std::string(arg) + "\"");
        }
    }
    return options;
}

std::string idleUsageText()
{
    return "Usage: hakop-idle [--after SECONDS]\n"
           "Starts the HAKOP screensaver (hakop /s) once the desktop has been idle for\n"
           "SECONDS (default " + std::to_string(defaultIdleSeconds) + "), and again after every later idle time.\n"
           "It asks the desktop to tell it: GNOME's idle monitor, a Wayland compositor's\n"
           "idle notifier (ext_idle_notifier_v1, as KDE Plasma has), or the X server's\n"
           "idle time counter. While a saver runs it starts no other. On sway use swayidle.\n";
}

} // namespace hakop::idle
