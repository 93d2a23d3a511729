#pragma once
// The program's two ways of reporting a failure: one while a window is being
// set up (an "Application Error" box, then exit code 1) and one inside an
// event handler (a box captioned "HAKOP"; the program goes on).
#include <stdexcept>
#include <string>

class QTimer;

namespace hakop {

// A failure while a window is being built, e.g. no timer could be had.
// 'kind' names the failure ("EOutOfResources" style); the throw site's address
// is recorded for the error text.
class SetupFailure : public std::runtime_error {
public:
    SetupFailure(std::string kind, const std::string& message, const void* address = __builtin_return_address(0));
    const std::string& kind() const { return m_kind; }
    const void* address() const { return m_address; }
private:
    std::string m_kind;
    const void* m_address;
};

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

// Starts a window's timer and throws SetupFailure("EOutOfResources",
// "タイマーを取得できません") when the platform has none to give (the timer
// is not active after start). Tests replace the starter to reach the failure.
void startTimerOrFail(QTimer& timer);
// The same check for a timer started some other way: throws that failure
// unless the timer is active.
void requireActiveTimer(bool active);
using TimerStarter = void (*)(QTimer& timer);
void setTimerStarterForTesting(TimerStarter starter);

} // namespace hakop
