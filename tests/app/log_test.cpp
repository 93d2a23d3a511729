// The one logger: every line is "<program>: <what>", and an X protocol error
// the program survives leaves exactly one line naming the request and the error.
#include "platform/Log.h"
#include "x11/XErrorLog.h"

// Before Xlib, whose macros (None) would break it.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <functional>
#include <thread>
#include <string>

namespace {

// What 'said' writes to stderr.
std::string stderrOf(const std::function<void()>& said)
{
    char path[] = "/tmp/hakop-log-XXXXXX";
    const int file = ::mkstemp(path);
    EXPECT_GE(file, 0);
    ::unlink(path);
    (void)std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(file, STDERR_FILENO);
    said();
    (void)std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    std::string text;
    char buffer[512];
    ::lseek(file, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(file, buffer, sizeof buffer)) > 0;)
        text.append(buffer, std::size_t(n));
    ::close(file);
    return text;
}

} // namespace

TEST(Log, LinesCarryTheProgramName)
{
    EXPECT_EQ(stderrOf([] { hakop::logLine("a fault sat out"); }), "hakop: a fault sat out\n");
    EXPECT_EQ(stderrOf([] { hakop::logErrno("cannot read", ENOENT); }),
              "hakop: cannot read: No such file or directory\n");
    // In pieces, with numbers kept off the heap: one line all the same.
    EXPECT_EQ(stderrOf([] { hakop::logLine({"less than ", hakop::Decimal(48).text(), " MB, not ",
                                            hakop::Decimal(0).text()}); }),
              "hakop: less than 48 MB, not 0\n");
    hakop::setLogProgramName("hakop-hosted");
    EXPECT_EQ(stderrOf([] { hakop::logLine("guest"); }), "hakop-hosted: guest\n");
    hakop::setLogProgramName("hakop");
}

// A log pipe whose reader stopped reading: lines are dropped, not waited
// for, and the next line that gets through says how many went.
TEST(Log, AFullPipeNeverStallsAndTheLossIsToldLater)
{
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int p[2];
        if (::pipe(p) != 0)
            ::_exit(2);
        ::fcntl(p[1], F_SETFL, O_NONBLOCK);
        const char block[4096] = {};
        while (::write(p[1], block, sizeof block) > 0) {
        }
        ::fcntl(p[1], F_SETFL, 0); // as a log pipe is: blocking
        ::dup2(p[1], STDERR_FILENO);
        hakop::logLine("lost");
        hakop::logErrno("lost too", ENOENT);
        ::fcntl(p[0], F_SETFL, O_NONBLOCK);
        char buffer[4096];
        while (::read(p[0], buffer, sizeof buffer) > 0) {
        }
        hakop::logLine("through");
        // The count is told once: the line after it has no note.
        hakop::logLine("after");
        const std::string_view expected = "hakop: through (2 earlier lines were dropped: stderr was full)\n"
                                          "hakop: after\n";
        const ssize_t n = ::read(p[0], buffer, sizeof buffer);
        ::_exit(n > 0 && std::string_view(buffer, std::size_t(n)) == expected ? 0 : 1);
    }
    int status = 0;
    for (int i = 0; i < 500 && ::waitpid(child, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (::waitpid(child, &status, WNOHANG) == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        FAIL() << "a line to a full pipe waited";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the dropped lines were not told";
}

TEST(Log, ASurvivedXlibErrorIsSaidOnceWithItsRequestAndCode)
{
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr) << "needs an X display";
    hakop::platform::logXlibErrors();
    const std::string said = stderrOf([display] {
        for (int i = 0; i < 2; ++i) { // the same refusal twice: one line
            XWindowAttributes attributes;
            XGetWindowAttributes(display, 0x1, &attributes);
            XSync(display, False);
        }
    });
    EXPECT_EQ(said.rfind("hakop: the X server refused request 3.0 (X_GetWindowAttributes) with error 3 (BadWindow", 0),
              0u)
        << said;
    EXPECT_NE(said.find(" on 0x1; going on\n"), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << "one line: " << said;
    XCloseDisplay(display);
}

TEST(Log, TheToolkitsXErrorMessageBecomesOurLine)
{
    std::string said;
    bool taken = false;
    said = stderrOf([&] {
        taken = hakop::platform::logToolkitXError(
            "QXcbConnection: XCB error: 9 (BadDrawable), sequence: 812, resource id: 4194305, major code: 62 "
            "(CopyArea), minor code: 0");
    });
    EXPECT_TRUE(taken);
    EXPECT_EQ(said, "hakop: the X server refused request 62.0 (CopyArea) with error 9 (BadDrawable) on 0x400001; "
                    "going on\n");
    EXPECT_FALSE(hakop::platform::logToolkitXError("QXcbConnection: something else"));
}
