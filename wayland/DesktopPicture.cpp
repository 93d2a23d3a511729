#include "DesktopPicture.h"

#include "Connection.h"
#include "KWinScreenShot.h"
#include "ShmBuffer.h"
#include "platform/Failure.h"

#include <unistd.h>

#include <climits>
#include <string>

namespace hakop::platform::wayland {

namespace {

// KWin's service gets this long: the outputs must be covered within a
// second of the start, whatever it does.
constexpr std::chrono::milliseconds kwinLimit(600);

// The path KWin looks for in a desktop file's Exec=.
std::string realPath()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, std::size_t(n)) : std::string("/usr/bin/hakop");
}

} // namespace

std::vector<Capture> captureDesktop(Connection& connection, const std::vector<Output*>& outputs)
{
    if (connection.screencopy() != nullptr) {
        std::vector<Capture> captures = captureOutputs(connection, outputs);
        if (connection.lost())
            return {};
        return captures;
    }
    KWinScreenShot kwin = captureThroughKWin(connection, outputs, kwinLimit);
    switch (kwin.outcome) {
    case KWinScreenShot::Outcome::Taken:
        return std::move(kwin.captures);
    case KWinScreenShot::Outcome::Refused:
        logSurvived("KWin grants its screenshots only to a program whose desktop file says "
                    "X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2 with Exec="
                    + realPath() + "; the saver shows a plain backdrop");
        break;
    case KWinScreenShot::Outcome::Failed:
        logSurvived("KWin's screenshot service left an output without its picture (" + kwin.reason
                    + "); the saver shows a plain backdrop there");
        return std::move(kwin.captures);
    case KWinScreenShot::Outcome::Absent:
        logSurvived("this Wayland compositor offers no screen copy (zwlr_screencopy_manager_v1) and no KWin "
                    "screenshot service; the saver shows a plain backdrop");
        break;
    }
    return std::vector<Capture>(outputs.size());
}

} // namespace hakop::platform::wayland
