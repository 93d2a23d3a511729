#pragma once
// The whole desktop's picture from the desktop portal's Screenshot, for a
// compositor that keeps its pixels to itself (GNOME). Taken without asking
// only: the portal is asked only once the user has allowed this program
// screenshots, since a permission dialog nobody answers at idle time would
// hold the saver's start for ever. Everything happens by one deadline.
#include <QImage>

#include <chrono>
#include <string>

namespace hakop::platform::wayland {

struct PortalScreenshot {
    enum class Result {
        Taken,
        NotAllowed, // the user has not allowed screenshots without asking
        NoPortal, // no session bus, or no portal on it
        Late, // no answer by the deadline
        Failed, // the portal refused, or its file was no picture
    };
    Result result = Result::NoPortal;
    QImage picture; // the whole desktop, when Taken
    std::string detail; // what went wrong, for the one line that says so
};

// Asks the session bus's desktop portal for a non-interactive screenshot and
// takes its file (read and deleted). Runs its own event loop, with a
// QCoreApplication of its own for the length of the call when the program
// has none.
PortalScreenshot takePortalScreenshot(std::chrono::steady_clock::time_point deadline);

// The one command that allows screenshots without asking, as the user would
// type it.
extern const char* const allowPortalScreenshotCommand;

} // namespace hakop::platform::wayland
