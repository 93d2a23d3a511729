#include "XErrorLog.h"

#include "platform/Log.h"

#include <X11/Xlib.h>

#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <tuple>

namespace hakop::platform {

namespace {

std::mutex saidLock;
std::set<std::tuple<unsigned, unsigned, unsigned>> said;

int onXlibError(Display* display, XErrorEvent* event)
{
    char errorName[80] = {};
    XGetErrorText(display, event->error_code, errorName, sizeof errorName);
    char requestName[80] = {};
    const std::string number = std::to_string(unsigned(event->request_code));
    XGetErrorDatabaseText(display, "XRequest", number.c_str(), "", requestName, sizeof requestName);
    logXError({event->error_code, event->request_code, event->minor_code,
               static_cast<std::uint32_t>(event->resourceid), errorName, requestName});
    return 0;
}

} // namespace

void logXError(const XErrorReport& error)
{
    {
        std::lock_guard lock(saidLock);
        if (!said.emplace(error.errorCode, error.majorCode, error.minorCode).second)
            return;
    }
    std::string line = "the X server refused request " + std::to_string(error.majorCode) + "."
        + std::to_string(error.minorCode);
    if (!error.requestName.empty())
        line += " (" + std::string(error.requestName) + ")";
    line += " with error " + std::to_string(error.errorCode);
    if (!error.errorName.empty())
        line += " (" + std::string(error.errorName) + ")";
    char resource[16];
    (void)std::snprintf(resource, sizeof resource, "0x%x", unsigned(error.resource));
    line += std::string(" on ") + resource + "; going on";
    logLine(line);
}

void logXlibErrors()
{
    XSetErrorHandler(onXlibError);
}

bool logToolkitXError(std::string_view message)
{
    // "XCB error: 3 (BadWindow), sequence: 812, resource id: 1, major code: 20 (GetProperty), minor code: 0"
    const auto at = message.find("XCB error: ");
    if (at == std::string_view::npos)
        return false;
    const std::string text(message.substr(at));
    unsigned code = 0, sequence = 0, resource = 0, major = 0, minor = 0;
    char errorName[64] = {}, requestName[64] = {};
    // Every field is checked by the count below; a number too large only names the error wrongly.
    // NOLINTNEXTLINE(cert-err34-c)
    const int read = std::sscanf(text.c_str(),
                                 "XCB error: %u (%63[^)]), sequence: %u, resource id: %u, major code: %u (%63[^)]), "
                                 "minor code: %u",
                                 &code, errorName, &sequence, &resource, &major, requestName, &minor);
    if (read < 7)
        return false;
    logXError({code, major, minor, resource, errorName, requestName});
    return true;
}

} // namespace hakop::platform
