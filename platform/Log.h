#pragma once
// The program's one voice on stderr: every line it writes there is
// "<program>: <what>", written here and nowhere else. A line is one write,
// so lines from two threads never mix, and it allocates nothing, so it may
// be said on the way out of a lost connection or an exhausted heap. A line
// that would have to wait for a full pipe is dropped (and counted in the next
// one): no program of ours stalls on a log nobody reads.
#include <string_view>

namespace hakop {

// The name each line starts with: "hakop" unless a program says otherwise.
// Set it once, before anything is logged; the text must outlive the program.
void setLogProgramName(const char* name);

// One line: "<program>: <what>". 'what' has no newline of its own.
void logLine(std::string_view what);
// The same, followed by ": " and the text for 'error' (an errno value).
void logErrno(std::string_view what, int error);

} // namespace hakop
