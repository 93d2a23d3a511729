#pragma once
// The outputs' pixels through KWin's screenshot service
// (org.kde.KWin.ScreenShot2 on the session bus), for a KWin that offers no
// screen copy protocol: one CaptureScreen per output by its name, at its
// device pixels, cursor left out, the raw pixels read from a pipe straight
// into a buffer the compositor can show.
//
// KWin answers only a program whose desktop file names the service in
// X-KDE-DBUS-Restricted-Interfaces and whose Exec= is the program's real path.
#include "ScreenCopy.h"

#include <chrono>
#include <string>
#include <vector>

namespace hakop::platform::wayland {

class Connection;
struct Output;

struct KWinScreenShot {
    enum class Outcome {
        Absent, // no session bus, or no KWin on it
        Refused, // KWin does not grant this program its screenshots
        Failed, // an output or more could not be read ('reason' says why)
        Taken, // every output
    };
    Outcome outcome = Outcome::Absent;
    std::string reason;
    // One for each output asked for, in their order; empty where none came.
    std::vector<Capture> captures;
};

// Asks for every output in 'outputs' at once and waits at most 'limit' in
// all, however KWin answers (or does not). Never starts KWin on demand.
KWinScreenShot captureThroughKWin(Connection& connection, const std::vector<Output*>& outputs,
                                  std::chrono::milliseconds limit);

} // namespace hakop::platform::wayland
