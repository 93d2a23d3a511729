#pragma once
// The saver's side of the conversation with hakop-verifier: one line each
// way over a stream socket (see VerifierAnswer.h, which also sends), and the
// environment the helper is started with.
#include <chrono>
#include <string>
#include <vector>

namespace hakop {

enum class HelperRead {
    Line,  // a whole line, nothing after it
    Ended, // the helper ended (or closed its end) before a whole line
    Broken // more than one line, or one far too long: the helper is not sane
};

// The helper's line, without its newline. Once the helper has ended
// (helperEnded, a pidfd, becomes readable; -1 without one) only what it
// already wrote counts: a process it left behind may still hold the socket
// open, and must not keep us waiting. Past 'patience' the wait is said once
// on stderr, and goes on.
HelperRead readHelperLine(int fd, int helperEnded, std::string& line, std::chrono::milliseconds patience);

// The saver's environment, with only the absolute LD_LIBRARY_PATH entries:
// the loader searches it for the helper's own libraries before the helper
// runs a line, and an empty entry there means the current directory.
std::vector<std::string> helperEnvironment();

} // namespace hakop
