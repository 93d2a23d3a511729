// HAKOP's entry: picks the mode from the command line, refuses to run beside
// a saver that is already on screen, and starts the saver, the password
// change or the settings dialog.
#include "Application.h"
#include "Failure.h"
#include "ModeDispatch.h"
#include "PasswordChange.h"
#include "WaylandSession.h"
#include "x11/ApplicationWindow.h"
#include "platform/FontCache.h"
#include "platform/Log.h"
#include "platform/StandardStreams.h"
#include "x11/WindowLookup.h"
#include "x11/XErrorLog.h"
#include "x11/XWayland.h"
#include "x11/ToolkitConnection.h"

#include "dialogs/SettingsMode.h"
#include "saver/x11/SaverMode.h"

#include <QGuiApplication>
#include <QIcon>
#include <QSocketNotifier>

#include <X11/Xlib.h>
#include <sys/mman.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {

constexpr const char* saverWindowClass = "THAKOPForm";

// Losing the display is the one failure the program cannot sit out: say so
// once, in one line, and leave without running any more X or Qt code.
[[noreturn]] void connectionLost(bool wayland = false)
{
    static std::atomic_flag said = ATOMIC_FLAG_INIT;
    if (said.test_and_set()) {
        // Another thread (each X connection notices on its own) is saying it
        // and ending the process: an exit here would cut its line off.
        for (;;)
            ::pause();
    }
    hakop::logLine(wayland ? "lost the connection to the Wayland display" : "lost the connection to the X display");
    ::_exit(1);
}

// Running out of memory is said as that, not taken for a lost display (xcb
// closes a connection when it cannot allocate room for a reply).
[[noreturn]] void outOfMemory()
{
    hakop::logLine("out of memory");
    ::_exit(1);
}

// xcb closes a connection when it cannot allocate a reply (a whole-screen
// read on a large screen under a memory limit): that is no lost display.
bool toolkitConnectionOutOfMemory()
{
    xcb_connection_t* connection = hakop::platform::toolkitConnection();
    return connection != nullptr && xcb_connection_has_error(connection) == XCB_CONN_CLOSED_MEM_INSUFFICIENT;
}

// Address space the toolkit still maps once it starts (the X platform plugin
// and the libraries it loads, the fonts, the threads' stacks): about 43 MB
// on Debian 12 for the saver, with a margin. Under a tighter limit the
// toolkit aborts or hangs half-way, so the limit is checked before it starts.
constexpr std::size_t roomToStart = std::size_t(48) << 20;

// Whether that much more can still be mapped, writable, under the limits on
// address space and data and the kernel's accounting. Nothing is touched.
bool hasRoomToStart()
{
    void* room = ::mmap(nullptr, roomToStart, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                        -1, 0);
    if (room == MAP_FAILED)
        return false;
    ::munmap(room, roomToStart);
    return true;
}

// Memory kept back so that running out later, with the saver on screen, is
// survived once: freed on the first failed allocation, which is then tried
// again, and said in one line. Without it a full address space ends the
// program and uncovers the screen.
constexpr std::size_t reserveSize = std::size_t(4) << 20;
void* reserve = nullptr;

void releaseReserve()
{
    if (reserve == nullptr) {
        std::set_new_handler(nullptr);
        throw std::bad_alloc();
    }
    ::munmap(reserve, reserveSize);
    reserve = nullptr;
    hakop::logLine("out of memory; going on with the memory kept in reserve");
}

void keepReserve()
{
    reserve = ::mmap(nullptr, reserveSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (reserve == MAP_FAILED)
        reserve = nullptr;
    std::set_new_handler(releaseReserve);
}

int onXlibConnectionLost(Display*)
{
    if (toolkitConnectionOutOfMemory())
        outOfMemory();
    connectionLost();
}

// Qt's xcb backend notices a broken connection on its own and would print its
// own warning and call exit(), which runs static destructors under a live
// QApplication. Catch that warning and leave the same way as for Xlib.
void watchToolkitMessages(QtMsgType, const QString& message)
{
    // An error on the toolkit's own connection is survived: said once, as ours are.
    if (hakop::platform::logToolkitXError(message.toStdString()))
        return;
    if (message.contains(QLatin1String("X11 connection broke"))) {
        // xcb's code 3: it closed the connection because it could not allocate.
        if (message.contains(QLatin1String("(code 3)")) || toolkitConnectionOutOfMemory())
            outOfMemory();
        connectionLost();
    }
    // The same for the dialogs on the toolkit's Wayland platform.
    if (message.contains(QLatin1String("Wayland connection broke")))
        connectionLost(/*wayland=*/true);
}

} // namespace

int main(int argc, char** argv)
{
    // Before anything opens a file or a connection: a descriptor the caller
    // closed must not be taken by the X connection.
    hakop::platform::repairStandardStreams();
    hakop::platform::ignoreBrokenPipes();

    using hakop::Mode;
    const Mode mode = hakop::modeForArguments(argc, argv);

    // Preview ends at once whatever else is running, so it needs no display
    // and skips the single-instance check: the outcome is the same.
    if (mode == Mode::Preview)
        return 0;

    hakop::platform::quietToolkitMessages(watchToolkitMessages);
    // Before the toolkit looks at fonts: fontconfig must not print either.
    hakop::platform::prepareFontCache();
    // A reachable Wayland display comes first; `env -u WAYLAND_DISPLAY`
    // keeps the program on X (unless X is XWayland, below).
    if (const auto exitCode = hakop::runInWaylandSession(mode, argv[0]))
        return *exitCode;

    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        // If stderr itself cannot be written there is nobody left to tell.
        hakop::logLine(std::string("cannot open X display \"") + XDisplayName(nullptr) + "\"");
        return 1;
    }
    XSetIOErrorHandler(onXlibConnectionLost);

    if (hakop::platform::saverSelectionOwned(display)
        || hakop::platform::windowWithClassExists(display, saverWindowClass)) {
        XCloseDisplay(display);
        return 0;
    }
    // On XWayland the X11 saver would be a cover the input might not end:
    // the saver goes to the compositor itself, or does not start.
    if (mode == Mode::Saver && hakop::platform::isXWayland(display)) {
        XCloseDisplay(display);
        return hakop::runSaverBesideXWayland();
    }
    if (mode == Mode::Saver && hakop::platform::claimSaverSelection(display) == 0) {
        XCloseDisplay(display);
        return 0;
    }
    // The reserve first: the room the toolkit needs is what is left beside it.
    keepReserve();
    if (!hasRoomToStart()) {
        hakop::logLine({"out of memory: the limits leave less than the ", hakop::Decimal(roomToStart >> 20).text(),
                        " MB the program needs to start"});
        XCloseDisplay(display);
        return 1;
    }

    // From here on the connection only carries the application window; a
    // stray error on it is no reason to end the program, but it is said.
    hakop::platform::logXlibErrors();

    QCoreApplication::setApplicationName(QStringLiteral("hakop"));
    // The command line is ours alone: the toolkit sees only the program name
    // and the X platform this program is written for.
    hakop::platform::ToolkitArguments toolkitArguments(argv[0]);
    hakop::Application app(toolkitArguments.argc(), toolkitArguments.argv());
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/icon/hakop.png")));

    // Nothing is selected on this connection, so it only becomes readable
    // when the server goes away (or sends an error): reading then hands a
    // lost connection to the I/O error handler.
    QSocketNotifier watch(ConnectionNumber(display), QSocketNotifier::Read);
    QObject::connect(&watch, &QSocketNotifier::activated, [display] {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
        }
    });

    int exitCode = 0;
    {
        hakop::platform::ApplicationWindow applicationWindow(display);
        try {
            switch (mode) {
            case Mode::Saver:
                exitCode = hakop::runSaverMode();
                break;
            case Mode::PasswordChange:
                hakop::runPasswordChange(applicationWindow.id());
                break;
            case Mode::Settings:
                exitCode = hakop::runSettingsMode();
                break;
            case Mode::Preview:
                break;
            }
        } catch (const hakop::UnusableScreen& failure) {
            // No box: it could not be seen either.
            hakop::logLine(failure.what());
            exitCode = 1;
        } catch (const std::bad_alloc&) {
            outOfMemory();
        } catch (const hakop::SetupFailure& failure) {
            hakop::failWindowSetup(failure);
        } catch (const std::exception& failure) {
            hakop::failWindowSetup(hakop::SetupFailure("Exception", failure.what(), nullptr));
        }
    }
    watch.setEnabled(false);
    XCloseDisplay(display);
    return exitCode;
}
