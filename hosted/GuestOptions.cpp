#include "GuestOptions.h"

#include "HostedHelp.h"

#include <optional>

namespace hakop::hosted {

namespace {

// X resource ids keep their top three bits clear.
constexpr std::uint64_t largestWindowId = 0x1fffffffu;

std::string quoted(std::string_view text)
{
    return "\"" + std::string(text) + "\"";
}

int digitValue(char c, int base)
{
    int v = -1;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
    return v < base ? v : -1;
}

// Strips one or two leading dashes, so "-root" and "--root" are one option,
// as the hosts' own programs accept both.
std::optional<std::string_view> optionName(std::string_view arg)
{
    if (arg.size() < 2 || arg[0] != '-')
        return std::nullopt;
    arg.remove_prefix(arg[1] == '-' ? 2 : 1);
    return arg;
}

} // namespace

std::uint32_t parseWindowId(std::string_view text, std::string_view origin)
{
    std::string_view digits = text;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    if (digits.empty())
        throw UsageError(std::string(origin) + ": " + quoted(text) + " is not a window id (hex 0x... or decimal)");
    std::uint64_t value = 0;
    bool tooBig = false;
    for (char c : digits) {
        const int d = digitValue(c, base);
        if (d < 0)
            throw UsageError(std::string(origin) + ": " + quoted(text)
                             + " is not a window id (hex 0x... or decimal)");
        // Keep reading after an overflow: junk later on is still junk.
        if (!tooBig) {
            value = value * std::uint64_t(base) + std::uint64_t(d);
            tooBig = value > largestWindowId;
        }
    }
    if (tooBig)
        throw UsageError(std::string(origin) + ": " + quoted(text) + " is too large for an X window id");
    if (value == 0)
        throw UsageError(std::string(origin) + ": 0 is not a window");
    return std::uint32_t(value);
}

GuestOptions parseGuestOptions(const std::vector<std::string>& args, const char* hostWindow)
{
    GuestOptions options;
    std::optional<std::uint32_t> windowOption;
    bool root = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto name = optionName(arg);
        if (!name)
            throw UsageError("unexpected argument " + quoted(arg));
        // "--name=value" as well as "--name value".
        std::string_view key = *name;
        std::optional<std::string> value;
        if (const auto eq = key.find('='); eq != std::string_view::npos) {
            value = std::string(key.substr(eq + 1));
            key = key.substr(0, eq);
        }
        const auto takeValue = [&]() -> std::string {
            if (value)
                return *value;
            if (i + 1 >= args.size())
                throw UsageError(quoted(arg) + " needs a value");
            return args[++i];
        };
        if (key == "window-id") {
            windowOption = parseWindowId(takeValue(), arg);
        } else if (key == "root" && !value) {
            root = true;
        } else if (key == "backdrop") {
            options.backdropFile = takeValue();
            if (options.backdropFile.empty())
                throw UsageError(quoted(arg) + " needs a file name");
        } else if ((key == "help" || key == "h") && !value) {
            options.help = true;
        } else if (key == "version" && !value) {
            options.version = true;
        } else {
            throw UsageError("unknown option " + quoted(arg));
        }
    }

    if (windowOption) {
        options.target = Target::Given;
        options.window = *windowOption;
    } else if (hostWindow != nullptr && *hostWindow != '\0') {
        options.target = Target::Given;
        options.window = parseWindowId(hostWindow, "XSCREENSAVER_WINDOW");
    } else if (root) {
        options.target = Target::Root;
    }
    return options;
}

std::string usageText()
{
    return std::string("usage: hakop-hosted [-window-id ID | -root] [--backdrop FILE]\n"
                       "       hakop-hosted --help | --version\n")
           + helpDescription;
}

} // namespace hakop::hosted
