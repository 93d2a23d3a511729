#pragma once
// What every HAKOP program does first thing in main(), before it opens a file
// or a connection:
//  - repairStandardStreams(): idle daemons such as xautolock start their
//    locker with stdin, stdout or stderr closed. The next descriptor opened
//    would then take number 0, 1 or 2 — the X connection, typically — and any
//    later write to "stderr" would corrupt the X protocol stream. Closed
//    standard descriptors are therefore reopened on /dev/null.
//  - ignoreBrokenPipes(): a log pipe whose reader went away ("hakop /s 2>&1 |
//    true") must not end the program at its first line with SIGPIPE; the
//    write fails and the program goes on.
//  - quietToolkitMessages(): the toolkit's own warnings ("XDG_RUNTIME_DIR not
//    set" and the like) are not ours to print; stderr carries only our
//    one-line "hakop:" reports.
//  - ToolkitArguments: what the toolkit sees of the command line. Only the
//    program name goes through, plus the one platform that is supported, so
//    words like "-platform offscreen" or "-display :1" on our command line stay
//    plain words and QT_QPA_PLATFORM cannot move the program off X.
#include <QString>
#include <QtGlobal>

namespace hakop::platform {

// Reopens each of descriptors 0, 1 and 2 that is closed on /dev/null.
// Returns how many were reopened. Safe to call more than once.
int repairStandardStreams();

// Makes a write to a pipe or socket without a reader fail with EPIPE instead
// of ending the program. A handler that does nothing, not SIG_IGN: programs
// started from here get the default back when they run.
void ignoreBrokenPipes();

// Receives every toolkit message, fatal ones included, before it is dropped;
// may end the program (e.g. on a lost display).
using ToolkitMessageObserver = void (*)(QtMsgType type, const QString& message);

// Installs a message handler that prints nothing for the toolkit's debug,
// info, warning and critical messages. A fatal message is written as one
// "hakop: ..." line (the toolkit aborts right after). The observer, if any,
// sees each message first.
void quietToolkitMessages(ToolkitMessageObserver observer = nullptr);

// argc/argv for QApplication: the program name, then "-platform xcb", or
// "-platform wayland" for a Wayland session without X.
// Keep the object alive as long as the application: the toolkit keeps
// pointers into it.
class ToolkitArguments {
public:
    explicit ToolkitArguments(const char* programName, bool wayland = false);
    ToolkitArguments(const ToolkitArguments&) = delete;
    ToolkitArguments& operator=(const ToolkitArguments&) = delete;

    int& argc() { return m_argc; }
    char** argv() { return m_argv; }

private:
    char m_platformOption[10] = "-platform";
    char m_platform[8] = "xcb";
    char m_fallbackName[6] = "hakop";
    int m_argc = 3;
    char* m_argv[4] = {};
};

} // namespace hakop::platform
