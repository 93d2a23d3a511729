#pragma once
// X protocol errors the program sits out. Each leaves one line naming the
// request and the error; the same request refused the same way again adds
// nothing (a refusal that repeats every tick would otherwise flood stderr).
#include <cstdint>
#include <string_view>

namespace hakop::platform {

struct XErrorReport {
    unsigned errorCode = 0;
    unsigned majorCode = 0; // the request
    unsigned minorCode = 0; // the extension's request, if any
    std::uint32_t resource = 0;
    std::string_view errorName; // empty when not known
    std::string_view requestName; // empty when not known
};

// The line for 'error' (without the program's name), or nothing when it was said already.
void logXError(const XErrorReport& error);

// From now on every protocol error on an Xlib connection is logged (with
// Xlib's names for the error and the request) and survived.
void logXlibErrors();

// The toolkit reports errors on its own X connection as a message of its
// own; when 'message' is one, it is logged as above and true is returned.
bool logToolkitXError(std::string_view message);

} // namespace hakop::platform
