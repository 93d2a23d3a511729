#include "Log.h"

#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace hakop {

namespace {

std::atomic<const char*> programName{"hakop"};
// Lines not written because stderr would have made us wait; told with the
// next line that gets through.
std::atomic<unsigned> dropped{0};

// A pipe whose reader has stopped reading fills up, and a write to a full
// pipe waits: the saver must never stall on its log. A pipe with room takes
// a line this short (under PIPE_BUF) whole, at once; files, terminals and
// /dev/null always have room.
bool roomFor(int fd)
{
    pollfd p{fd, POLLOUT, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLOUT) != 0;
}

// "N" of an unsigned, into 'out' (no allocation, no locale): its length.
std::size_t decimal(unsigned n, char (&out)[12])
{
    char reversed[12];
    std::size_t length = 0;
    do {
        reversed[length++] = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n != 0);
    for (std::size_t i = 0; i < length; ++i)
        out[i] = reversed[length - 1 - i];
    return length;
}

void writeLine(std::string_view what, std::string_view detail)
{
    if (!roomFor(STDERR_FILENO)) {
        dropped.fetch_add(1);
        return;
    }
    const char* name = programName.load();
    const unsigned lost = dropped.exchange(0);
    char count[12];
    const std::size_t countLength = lost != 0 ? decimal(lost, count) : 0;
    const std::string_view lostText = lost == 1 ? " earlier line was dropped: stderr was full)"
                                                : " earlier lines were dropped: stderr was full)";
    // writev is async-signal-safe and sends the pieces as one line.
    char separator[] = ": ";
    char open[] = " (";
    char newline[] = "\n";
    iovec parts[] = {
        {const_cast<char*>(name), std::strlen(name)},
        {separator, 2},
        {const_cast<char*>(what.data()), what.size()},
        {separator, detail.empty() ? 0U : 2U},
        {const_cast<char*>(detail.data()), detail.size()},
        {open, lost != 0 ? 2U : 0U},
        {count, countLength},
        {const_cast<char*>(lostText.data()), lost != 0 ? lostText.size() : 0U},
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
