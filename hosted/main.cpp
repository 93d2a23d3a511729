// hakop-hosted: HAKOP as a guest of a screensaver host (xscreensaver's hack,
// xsecurelock's saver module). The host owns idle detection, blanking, input
// and the password; this program only draws into the window it is given.
#include "Guest.h"
#include "GuestOptions.h"
#include "XHost.h"

#include "HakopVersion.h"
#include "engine/ImageList.h"
#include "platform/Log.h"
#include "platform/SignalPipe.h"
#include "platform/StandardStreams.h"

#include <QImage>
#include <QImageReader>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace hakop::hosted;

void say(const std::string& line)
{
    hakop::logLine(line);
}

QImage loadBackdropFile(const std::string& file)
{
    QImageReader reader(QString::fromLocal8Bit(file.c_str()));
    reader.setAutoTransform(true);
    QImage picture = reader.read();
    if (picture.isNull())
        say("cannot read the backdrop picture " + file + " (" + reader.errorString().toStdString()
            + "); using the plain one");
    return picture;
}

int runGuest(const GuestOptions& options)
{
    const int signalFd = hakop::platform::catchSignalsInPipe({SIGTERM, SIGINT, SIGHUP, SIGUSR1});
    if (signalFd < 0)
        throw std::runtime_error("cannot make a pipe for signals");

    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        say("cannot connect to the X display");
        return 1;
    }
    const auto disconnect = [&] { xcb_disconnect(connection); };
    xcb_screen_t* screen = defaultScreen(connection, screenNumber);
    if (screen == nullptr) {
        disconnect();
        say("the X display has no screen");
        return 1;
    }

    std::uint32_t window = 0;
    switch (options.target) {
    case Target::Given: window = options.window; break;
    case Target::Root: window = screen->root; break;
    case Target::OwnWindow: window = createOwnWindow(connection, screen, QSize(800, 600)); break;
    }
    if (options.target != Target::OwnWindow) {
        if (!windowSize(connection, window)) {
            char id[16];
            std::snprintf(id, sizeof id, "0x%x", unsigned(window));
            disconnect();
            say(std::string("there is no window ") + id);
            return 1;
        }
        watchWindow(connection, window);
    }

    // The host's picture of the desktop, else the user's file, else ours:
    // under a locker nothing of the live screen shows unless the host gave it.
    std::string problem;
    // A host's window may be on another screen than the default one.
    const std::uint32_t root = windowRoot(connection, window);
    QImage backdrop = readHostScreenshot(connection, window, root != 0 ? root : screen->root, problem);
    if (!problem.empty())
        say(problem);
    if (backdrop.isNull() && !options.backdropFile.empty())
        backdrop = loadBackdropFile(options.backdropFile);

    // The root is everybody's: what we drew there goes when we do.
    const bool clearAtEnd = options.target == Target::Root;
    GuestEnd end = GuestEnd::Asked;
    try {
        const hakop::TIForm frames;
        Guest guest(connection, window, options.target == Target::OwnWindow, std::move(backdrop), frames);
        end = guest.run(signalFd);
    } catch (...) {
        if (clearAtEnd)
            clearWindow(connection, window);
        disconnect();
        throw;
    }
    if (clearAtEnd && end != GuestEnd::DisplayLost)
        clearWindow(connection, window);
    disconnect();
    if (end == GuestEnd::DisplayLost) {
        say("lost the connection to the X display");
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Its lines name this program, not the saver.
    hakop::setLogProgramName("hakop-hosted");
    // Hosts and idle daemons may start us with standard descriptors closed.
    hakop::platform::repairStandardStreams();
    hakop::platform::ignoreBrokenPipes();
    hakop::platform::quietToolkitMessages();

    std::vector<std::string> args(argv + 1, argv + argc);
    GuestOptions options;
    try {
        options = parseGuestOptions(args, std::getenv("XSCREENSAVER_WINDOW"));
    } catch (const UsageError& error) {
        say(std::string(error.what()) + " (see hakop-hosted --help)");
        return 2;
    }
    if (options.help) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::fputs("hakop-hosted " HAKOP_VERSION "\n", stdout);
        return 0;
    }
    try {
        return runGuest(options);
    } catch (const std::exception& failure) {
        say(failure.what());
        return 1;
    }
}
