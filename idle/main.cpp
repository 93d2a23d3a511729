// hakop-idle: starts the saver ("hakop /s") whenever the desktop says the
// user has been idle for the time asked: GNOME's idle monitor, a Wayland
// compositor's idle notifier or the X server's idle counter, first found. It sleeps in the event loop until
// the desktop, the saver or a signal wakes it.
#include "ConnectionIdleSource.h"
#include "IdleOptions.h"
#include "MutterIdleSource.h"
#include "SaverChild.h"

#include "wayland/IdleNotification.h"
#include "x11/IdleCounter.h"

#include "HakopVersion.h"
#include "platform/Log.h"
#include "platform/SignalPipe.h"
#include "platform/StandardStreams.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace hakop::idle;

// The first desktop that can tell us of idle time, or null with the one line
// that says why there is none.
std::unique_ptr<IdleSource> findIdleSource(unsigned seconds, std::string& why)
{
    QString problem;
    if (auto gnome = MutterIdleSource::find(seconds, problem))
        return gnome;
    if (!problem.isEmpty()) {
        why = problem.toStdString();
        return nullptr;
    }
    using hakop::platform::wayland::IdleNotification;
    auto absence = IdleNotification::Absence::NoCompositor;
    if (auto wayland = IdleNotification::open(seconds, absence))
        return listenTo(std::move(wayland));
    if (absence == IdleNotification::Absence::NoNotifier) {
        why = "this Wayland compositor has no idle notifier (ext_idle_notifier_v1); on sway, start the saver "
              "from swayidle (see hakop-idle(6))";
        return nullptr;
    }
    using hakop::x11::IdleCounter;
    auto x11Absence = IdleCounter::Absence::NoDisplay;
    if (auto x11 = IdleCounter::open(seconds, x11Absence))
        return listenTo(std::move(x11));
    switch (x11Absence) {
    case IdleCounter::Absence::XWayland:
        why = "the X display is a Wayland compositor's, which does not see the input to Wayland programs, "
              "and no Wayland compositor answers on WAYLAND_DISPLAY";
        break;
    case IdleCounter::Absence::NoIdleCounter:
        why = "this X server counts no idle time (SYNC extension, IDLETIME); start the saver from xss-lock "
              "or xautolock (see hakop(6))";
        break;
    case IdleCounter::Absence::NoDisplay:
        why = "found no desktop to watch: no GNOME idle monitor on the session bus, no Wayland compositor, "
              "no X display";
        break;
    }
    return nullptr;
}

int watch(const IdleOptions& options)
{
    const int signalFd = hakop::platform::catchSignalsInPipe({SIGTERM, SIGINT, SIGCHLD});
    if (signalFd < 0) {
        hakop::logErrno("cannot make a pipe for signals", errno);
        return 1;
    }
    int argc = 1;
    char name[] = "hakop-idle";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);

    const auto saver = findSaver(QCoreApplication::applicationDirPath().toStdString(), std::getenv("PATH"));
    if (!saver) {
        hakop::logLine("found no hakop program beside this one nor on PATH");
        return 1;
    }
    SaverChild child(*saver);

    std::string why;
    const std::unique_ptr<IdleSource> source = findIdleSource(options.seconds, why);
    if (!source) {
        hakop::logLine(why);
        return 1;
    }
    // An idle spell that comes while our saver still runs (after input the
    // saver does not end on) starts none: never a second saver. One started
    // by someone else is refused by the saver's own single-instance lock.
    QObject::connect(source.get(), &IdleSource::idle, [&child] { child.start(); });
    QObject::connect(source.get(), &IdleSource::lost, [](const QString& line) {
        hakop::logLine(line.toStdString());
        QCoreApplication::exit(1);
    });

    QSocketNotifier caught(signalFd, QSocketNotifier::Read);
    QObject::connect(&caught, &QSocketNotifier::activated, [&child, signalFd] {
        unsigned char number = 0;
        bool end = false;
        while (::read(signalFd, &number, 1) == 1)
            end = end || number != SIGCHLD;
        child.reap();
        // A saver still running is left to run: it ends on the user's input
        // like any other, and ending it here would end a saver that may be
        // guarding the screen with a password just because its starter was
        // stopped (a log-out ends both anyway).
        if (end)
            QCoreApplication::exit(0);
    });
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv)
{
    hakop::setLogProgramName("hakop-idle");
    hakop::platform::repairStandardStreams();
    hakop::platform::ignoreBrokenPipes();
    hakop::platform::quietToolkitMessages();

    IdleOptions options;
    try {
        options = parseIdleOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& error) {
        hakop::logLine(std::string(error.what()) + " (see hakop-idle --help)");
        return 2;
    }
    if (options.help) {
        std::fputs(idleUsageText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::fputs("hakop-idle " HAKOP_VERSION "\n", stdout);
        return 0;
    }
    return watch(options);
}
