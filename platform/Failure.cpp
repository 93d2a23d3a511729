#include "Failure.h"

#include "Log.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace hakop {

namespace {

void defaultTimerStarter(QTimer& timer)
{
    timer.start();
}

TimerStarter timerStarter = defaultTimerStarter;

std::mutex reporterLock;
FailureReporter reporter;

// 'address' is in the window that asked for a timer.
[[noreturn]] void throwNoTimer(const void* address)
{
    throw SetupFailure("EOutOfResources", "タイマーを取得できません", address);
}

void deliver(const std::exception_ptr& failure)
{
    FailureReporter current;
    {
        std::lock_guard lock(reporterLock);
        current = reporter;
    }
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        if (current)
            current(e);
        else
            logSurvived(e.what());
    } catch (...) {
        const std::runtime_error unknown("Unknown failure");
        if (current)
            current(unknown);
        else
            logSurvived(unknown.what());
    }
}

} // namespace

SetupFailure::SetupFailure(std::string kind, const std::string& message, const void* address)
    : std::runtime_error(message)
    , m_kind(std::move(kind))
    , m_address(address)
{
}

void startTimerOrFail(QTimer& timer)
{
    timerStarter(timer);
    if (!timer.isActive())
        throwNoTimer(__builtin_return_address(0));
}

void requireActiveTimer(bool active)
{
    if (!active)
        throwNoTimer(__builtin_return_address(0));
}

void setTimerStarterForTesting(TimerStarter starter)
{
    timerStarter = starter != nullptr ? starter : defaultTimerStarter;
}

void reportFailure(const std::exception_ptr& failure)
{
    if (!failure)
        return;
    QCoreApplication* app = QCoreApplication::instance();
    // The error box belongs to the GUI thread; a tick's failure waits for it
    // there while the ticks go on.
    if (app != nullptr && QThread::currentThread() != app->thread()) {
        QMetaObject::invokeMethod(app, [failure] { deliver(failure); }, Qt::QueuedConnection);
        return;
    }
    deliver(failure);
}

void setFailureReporter(FailureReporter newReporter)
{
    std::lock_guard lock(reporterLock);
    reporter = std::move(newReporter);
}

void logSurvived(std::string_view what)
{
    logLine(what);
}

void failedCheck(const char* condition, const char* file, int line)
{
    logLine(std::string("internal check failed: ") + condition + " (" + file + ":" + std::to_string(line) + ")");
    (void)std::fflush(nullptr); // aborting next either way
    std::abort();
}

} // namespace hakop
