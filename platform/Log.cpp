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

// Room for what a line is made of besides the caller's pieces.
constexpr std::size_t framePieces = 8;

void writeLine(std::initializer_list<std::string_view> what, std::string_view detail)
{
    if (!roomFor(STDERR_FILENO)) {
        dropped.fetch_add(1);
        return;
    }
    const char* name = programName.load();
    const unsigned lost = dropped.exchange(0);
    const Decimal count(lost);
    const std::string_view lostText = lost == 1 ? " earlier line was dropped: stderr was full)"
                                                : " earlier lines were dropped: stderr was full)";
    // writev is async-signal-safe and sends the pieces as one line.
    char separator[] = ": ";
    char open[] = " (";
    char newline[] = "\n";
    auto piece = [](std::string_view text) { return iovec{const_cast<char*>(text.data()), text.size()}; };
    iovec parts[maxLogPieces + framePieces];
    std::size_t n = 0;
    parts[n++] = piece(name);
    parts[n++] = {separator, 2};
    for (const std::string_view text : what) {
        if (n < 2 + maxLogPieces)
            parts[n++] = piece(text);
    }
    if (!detail.empty()) {
        parts[n++] = {separator, 2};
        parts[n++] = piece(detail);
    }
    if (lost != 0) {
        parts[n++] = {open, 2};
        parts[n++] = piece(count.text());
        parts[n++] = piece(lostText);
    }
    parts[n++] = {newline, 1};
    // Nowhere to report a failed report: stderr is the last resort.
    [[maybe_unused]] auto written = ::writev(STDERR_FILENO, parts, static_cast<int>(n));
}

} // namespace

void setLogProgramName(const char* name)
{
    if (name != nullptr && *name != '\0')
        programName.store(name);
}

Decimal::Decimal(unsigned long long n)
{
    do {
        m_digits[--m_start] = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n != 0);
}

void logLine(std::string_view what)
{
    writeLine({what}, {});
}

void logLine(std::initializer_list<std::string_view> pieces)
{
    writeLine(pieces, {});
}

void logErrno(std::string_view what, int error)
{
    char text[128];
    // The GNU strerror_r: returns the text, in 'text' or a static string.
    const char* said = ::strerror_r(error, text, sizeof text);
    writeLine({what}, said != nullptr ? std::string_view(said) : std::string_view("unknown error"));
}

} // namespace hakop
