#pragma once
// The failures the windows throw, and the one line a survived fault leaves.
// Reporting a failure to the user (the error boxes) is the entry program's
// job: the windows only throw, or hand what they caught to reportFailure.
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

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

// The screen cannot show the saver at all (too few colours): no box could be
// seen on it either, so the entry program says why in one line and ends.
class UnusableScreen : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Starts a window's timer and throws SetupFailure("EOutOfResources",
// "タイマーを取得できません") when the platform has none to give (the timer
// is not active after start). Tests replace the starter to reach the failure.
void startTimerOrFail(QTimer& timer);
// The same check for a timer started some other way: throws that failure
// unless the timer is active.
void requireActiveTimer(bool active);
using TimerStarter = void (*)(QTimer& timer);
void setTimerStarterForTesting(TimerStarter starter);

// A failure an event handler caught and the program survives. It goes to the
// reporter the program installed, on the GUI thread (from another thread it
// is queued there); without one, it becomes a "hakop:" line on stderr.
void reportFailure(const std::exception_ptr& failure);
using FailureReporter = std::function<void(const std::exception&)>;
void setFailureReporter(FailureReporter reporter);

// Runs a handler; whatever it throws goes to reportFailure.
template <class Handler>
void runHandler(Handler&& handler)
{
    try {
        handler();
    } catch (...) {
        reportFailure(std::current_exception());
    }
}

// One "hakop: <what>" line on stderr (see Log.h), for a fault the program
// works around (a grab given up, an X error ignored, a fallback taken).
void logSurvived(std::string_view what);

// A check that guards memory safety: stays on in release builds, and ends
// the program with one line naming it rather than running on.
#define HAKOP_REQUIRE(condition)                                                                          \
    ((condition) ? void(0) : ::hakop::failedCheck(#condition, __FILE__, __LINE__))
[[noreturn]] void failedCheck(const char* condition, const char* file, int line);

} // namespace hakop
