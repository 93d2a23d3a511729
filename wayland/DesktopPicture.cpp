#include "DesktopPicture.h"

#include "Connection.h"
#include "ShmBuffer.h"
#include "platform/Failure.h"

namespace hakop::platform::wayland {

std::vector<Capture> captureDesktop(Connection& connection, const std::vector<Output*>& outputs)
{
    if (connection.screencopy() != nullptr) {
        std::vector<Capture> captures = captureOutputs(connection, outputs);
        if (connection.lost())
            return {};
        return captures;
    }
    logSurvived("this Wayland compositor offers no screen copy (zwlr_screencopy_manager_v1); "
                "the saver shows a plain backdrop");
    return std::vector<Capture>(outputs.size());
}

} // namespace hakop::platform::wayland
