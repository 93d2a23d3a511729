#include "WaylandSession.h"

#include "Application.h"
#include "PasswordChange.h"
#include "dialogs/SettingsMode.h"
#include "platform/Failure.h"
#include "platform/Log.h"
#include "platform/StandardStreams.h"
#include "wayland/Connection.h"
#include "wayland/DisplayLock.h"
#include "saver/wayland/WaylandSaver.h"

#include <QGuiApplication>
#include <QIcon>

#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace hakop {

namespace {

namespace wl = platform::wayland;

bool set(const char* variable)
{
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

int runSaver(wl::Connection& connection, const std::string& lockPath)
{
    const auto attempt = wl::DisplayLock::take(lockPath);
    if (attempt.heldElsewhere)
        return 0; // a saver runs on this display already
    // Overlay surfaces where there is the layer shell, else fullscreen windows.
    if (connection.layerShell() == nullptr && connection.windowManager() == nullptr) {
        logLine("this Wayland compositor offers neither the layer shell (zwlr_layer_shell_v1) nor windows "
                "(xdg_wm_base): the saver has no way to cover the screen");
        return 1;
    }
    if (!attempt.lock) {
        // Nothing would keep a second saver out: this one does not start.
        logLine(attempt.problem);
        return 1;
    }
    if (!attempt.problem.empty())
        logSurvived(attempt.problem);
    switch (runWaylandSaverMode(connection)) {
    case WaylandSaverEnd::Closed:
        return 0;
    case WaylandSaverEnd::NoOutput:
        logLine("the Wayland display has no output to cover");
        return 1;
    case WaylandSaverEnd::ConnectionLost:
        break;
    }
    logLine("lost the connection to the Wayland display");
    return 1;
}

// The saver on a connection, with its failures said in one line (no
// failure box on Wayland without X).
int runSaverReporting(wl::Connection& connection)
{
    try {
        return runSaver(connection, wl::DisplayLock::pathForEnvironment());
    } catch (const std::bad_alloc&) {
        logLine("out of memory");
    } catch (const std::exception& failure) {
        logLine(failure.what());
    }
    return 1;
}

std::string unreachable(const std::string& display, wl::Connection::Failure failure)
{
    switch (failure) {
    case wl::Connection::Failure::Silent:
        return "the Wayland display \"" + display + "\" does not answer";
    case wl::Connection::Failure::Broken:
        return "the Wayland display \"" + display + "\" closed the connection";
    case wl::Connection::Failure::Unreachable:
        break;
    }
    return "cannot connect to the Wayland display \"" + display + "\"";
}

// The dialogs with the toolkit's own Wayland platform: no X window to be
// a parent, so the password change gets 0.
int runDialogs(Mode mode, const char* programName)
{
    QCoreApplication::setApplicationName(QStringLiteral("hakop"));
    platform::ToolkitArguments toolkitArguments(programName, /*wayland=*/true);
    Application app(toolkitArguments.argc(), toolkitArguments.argv());
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/icon/hakop.png")));
    if (mode == Mode::PasswordChange) {
        runPasswordChange(0);
        return 0;
    }
    return runSettingsMode();
}

} // namespace

std::optional<int> runInWaylandSession(Mode mode, const char* programName)
{
    if (!set("WAYLAND_DISPLAY"))
        return std::nullopt;
    auto failure = wl::Connection::Failure::Unreachable;
    auto connection = wl::Connection::open(nullptr, &failure);
    if (!connection) {
        if (set("DISPLAY"))
            return std::nullopt; // X instead
        logLine(unreachable(std::getenv("WAYLAND_DISPLAY"), failure));
        return 1;
    }
    if (mode == Mode::Saver)
        return runSaverReporting(*connection);
    if (wl::DisplayLock::heldElsewhere(wl::DisplayLock::pathForEnvironment()))
        return 0;
    connection.reset();
    if (set("DISPLAY"))
        return std::nullopt; // the dialogs through XWayland
    return runDialogs(mode, programName);
}

int runSaverBesideXWayland()
{
    constexpr const char* refusal = "the X display is XWayland, where an X11 saver could neither copy the desktop "
                                    "nor hold the input, ";
    std::vector<std::string> candidates;
    if (set("WAYLAND_DISPLAY"))
        candidates.emplace_back(std::getenv("WAYLAND_DISPLAY"));
    else if (set("XDG_RUNTIME_DIR"))
        candidates = wl::Connection::runtimeSockets(std::getenv("XDG_RUNTIME_DIR"));
    if (candidates.empty()) {
        logLine(std::string(refusal) + "and no Wayland display was found (WAYLAND_DISPLAY is unset, and there is no "
                                       "wayland-N socket in XDG_RUNTIME_DIR)");
        return 1;
    }
    auto failure = wl::Connection::Failure::Unreachable;
    for (const auto& candidate : candidates) {
        auto connection = wl::Connection::open(candidate.c_str(), &failure);
        if (!connection)
            continue;
        // The lock, the verifier and whatever else asks find the same display.
        // No other thread runs yet.
        ::setenv("WAYLAND_DISPLAY", candidate.c_str(), 1); // NOLINT(concurrency-mt-unsafe)
        return runSaverReporting(*connection);
    }
    logLine(refusal + ("and " + unreachable(candidates.back(), failure)));
    return 1;
}

} // namespace hakop
