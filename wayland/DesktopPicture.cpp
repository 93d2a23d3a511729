#include "DesktopPicture.h"

#include "Connection.h"
#include "DesktopLayout.h"
#include "KWinScreenShot.h"
#include "PortalScreenshot.h"
#include "ShmBuffer.h"
#include "engine/Backdrop.h"
#include "platform/Failure.h"

#include <unistd.h>

#include <climits>
#include <cstring>
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

// The portal's whole wait, so that the screen is covered within a second of
// the start whatever the portal does.
constexpr std::chrono::milliseconds portalBudget(750);

// An upright picture into memory the compositor can show as it is.
Capture captureOf(Connection& connection, const QImage& picture)
{
    Capture capture;
    if (picture.isNull())
        return capture;
    capture.buffer = ShmBuffer::create(connection.shm(), picture.size());
    if (!capture.buffer)
        return capture;
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(capture.buffer->data() + std::size_t(y) * capture.buffer->stride(), rgb.constScanLine(y),
                    std::size_t(rgb.width()) * 4);
    return capture;
}

// Where the compositor keeps its pixels to itself (GNOME): the desktop
// portal's screenshot of the whole desktop, cut into outputs.
std::vector<Capture> captureThroughPortal(Connection& connection, const std::vector<Output*>& outputs)
{
    const auto deadline = std::chrono::steady_clock::now() + portalBudget;
    std::vector<Capture> captures(outputs.size());
    const std::vector<OutputPlace> places = outputPlaces(connection, outputs, deadline);
    if (connection.lost())
        return {};
    if (places.empty()) {
        logSurvived("the outputs' places on the desktop are unknown (no xdg-output), so the desktop portal's "
                    "screenshot cannot be cut into outputs; the saver shows a plain backdrop");
        return captures;
    }
    const PortalScreenshot shot = takePortalScreenshot(deadline);
    using Result = PortalScreenshot::Result;
    switch (shot.result) {
    case Result::Taken:
        break;
    case Result::NotAllowed:
        logSurvived(std::string("the desktop portal may not take screenshots without asking, so the saver shows a "
                                "plain backdrop; allow it once with: ")
                    + allowPortalScreenshotCommand);
        return captures;
    case Result::NoPortal:
        logSurvived("this Wayland compositor offers no screen copy (zwlr_screencopy_manager_v1) and no desktop "
                    "portal answers for a screenshot (" + shot.detail + "); the saver shows a plain backdrop");
        return captures;
    case Result::Late:
        logSurvived("the desktop portal's screenshot did not come within "
                    + std::to_string(portalBudget.count()) + " ms; the saver shows a plain backdrop");
        return captures;
    case Result::Failed:
        logSurvived("the desktop portal's screenshot failed (" + shot.detail + "); the saver shows a plain backdrop");
        return captures;
    }
    const std::vector<QImage> pictures = cutOutputs(shot.picture, places);
    if (pictures.empty() || pictures.front().isNull()) {
        logSurvived("the desktop portal's screenshot does not fit the outputs' layout; the saver shows a plain "
                    "backdrop");
        return captures;
    }
    for (std::size_t i = 0; i < captures.size(); ++i)
        captures[i] = captureOf(connection, pictures[i]);
    return captures;
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
    // The portal is asked from a child process that forks without exec: it
    // must come before anything in this process starts QtDBus's thread.
    if (!connection.isKWin())
        return captureThroughPortal(connection, outputs);
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
        logSurvived("this Wayland compositor offers no screen copy (zwlr_screencopy_manager_v1) and KWin's "
                    "screenshot service is not on the session bus; the saver shows a plain backdrop");
        break;
    }
    return std::vector<Capture>(outputs.size());
}

QImage frozenPicture(Capture& capture, QSize device)
{
    QImage picture = captureImage(capture, device);
    capture.buffer.reset();
    return picture.isNull() ? hosted::neutralBackdrop(device) : picture;
}

} // namespace hakop::platform::wayland
