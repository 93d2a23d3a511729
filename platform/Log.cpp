#include "Log.h"

#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace hakop {

namespace {

std::atomic<const char*> programName{"hakop"};

void writeLine(std::string_view what, std::string_view detail)
{
    const char* name = programName.load();
    // writev is async-signal-safe and sends the pieces as one line.
    char separator[] = ": ";
    char newline[] = "\n";
    iovec parts[] = {
        {const_cast<char*>(name), std::strlen(name)},
        {separator, 2},
        {const_cast<char*>(what.data()), what.size()},
        {separator, detail.empty() ? 0U : 2U},
        {const_cast<char*>(detail.data()), detail.size()},
        {newline, 1},
    };
    // Nowhere to report a failed report: stderr is the last resort.
    [[maybe_unused]] auto written = ::writev(STDERR_FILENO, parts, sizeof parts / sizeof parts[0]);
}

} // namespace

void setLogProgramName(const char* name)
{
    if (name != nullptr && *name != '\0')
        programName.store(name);
}

void logLine(std::string_view what)
{
    writeLine(what, {});
}

void logErrno(std::string_view what, int error)
{
    char text[128];
    // The GNU strerror_r: returns the text, in 'text' or a static string.
    const char* said = ::strerror_r(error, text, sizeof text);
    writeLine(what, said != nullptr ? std::string_view(said) : std::string_view("unknown error"));
}

} // namespace hakop
