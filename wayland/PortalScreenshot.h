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
    QByteArray encoded; // the portal's file as it was (between the processes)
    std::string detail; // what went wrong, for the one line that says so
};

// Asks the session bus's desktop portal for a non-interactive screenshot and
// takes its file (read and deleted). The talk happens in a child process of
// its own, with the QCoreApplication and event loop QtDBus needs, so that
// the deadline holds whatever the bus or the portal do, and so that a
// picture that comes late is still deleted (the child waits a while longer
// for it, then ends). The child keeps none of the caller's files open (its
// locks stay the caller's). For a program without a QCoreApplication of its
// own (the saver on Wayland).
PortalScreenshot takePortalScreenshot(std::chrono::steady_clock::time_point deadline);

// The one command that allows screenshots without asking, as the user would
// type it.
extern const char* const allowPortalScreenshotCommand;

} // namespace hakop::platform::wayland
