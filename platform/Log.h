#pragma once
// The program's one voice on stderr: every line it writes there is
// "<program>: <what>", written here and nowhere else. A line is one write,
// so lines from two threads never mix, and it allocates nothing, so it may
// be said on the way out of a lost connection or an exhausted heap. A line
// that would have to wait for a full pipe is dropped (and counted in the next
// one): no program of ours stalls on a log nobody reads.
#include <cstddef>
#include <initializer_list>
#include <string_view>

namespace hakop {

// The name each line starts with: "hakop" unless a program says otherwise.
// Set it once, before anything is logged; the text must outlive the program.
void setLogProgramName(const char* name);

// One line: "<program>: <what>". 'what' has no newline of its own.
void logLine(std::string_view what);
// The same, with 'what' in pieces that are written one after the other (up
// to maxLogPieces), not joined first: for a line said with the heap used up.
inline constexpr std::size_t maxLogPieces = 8;
void logLine(std::initializer_list<std::string_view> pieces);

// A number's decimal digits, held in the object itself: a piece for the line above.
class Decimal {
public:
    explicit Decimal(unsigned long long n);
    std::string_view text() const { return {m_digits + m_start, sizeof m_digits - m_start}; }

private:
    char m_digits[20] = {};
    std::size_t m_start = sizeof m_digits;
};
// The same, followed by ": " and the text for 'error' (an errno value).
void logErrno(std::string_view what, int error);

} // namespace hakop
