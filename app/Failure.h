#pragma once
// The one place that shows failures to the user, in two ways: one while a
// window is being set up (an "Application Error" box, then exit code 1) and
// one inside an event handler (a box captioned "HAKOP"; the program goes on).
// The windows throw (platform/Failure.h); the entry program reports.
#include "platform/Failure.h"

#include <stdexcept>
#include <string>

namespace hakop {

// Builds the "Application Error" text with \r\n line ends.
std::string applicationErrorText(const std::string& kind, const std::string& moduleName,
                                 const void* relativeAddress, const std::string& message);
// The handler-failure text: the message with "." appended when its last
// character sorts above ".".
std::string handlerFailureText(const std::string& message);

// Shows the "Application Error" box and ends the program with exit code 1.
[[noreturn]] void failWindowSetup(const SetupFailure& failure);
// Shows the "HAKOP" error box; returns when the user has closed it.
void reportHandlerFailure(const std::exception& failure);

} // namespace hakop
