#pragma once
// How the saver talks to hakop-verifier: over one stream socket, descriptor 3
// in the helper. The helper lives for the whole saver run, so that the module
// it loaded keeps its state from one question to the next. Each question is
// the saver window's X id as one line; each answer one line:
//
//   answer N        VerifyScreenSavePwd returned N (the saver keeps its lowest byte)
//   none            no PASSWORD.CPL was found, or it lacks the entry point:
//                   there is no verifier, so the saver may close
//   refused WHY     a PASSWORD.CPL was found but could not be asked
//
// After "refused" the helper exits with 0 at once; after the others it waits
// for the next question, and exits with 0 when the saver closes its end. A
// line that does not arrive whole, or an exit of any other kind, is no answer.
#include <sys/socket.h>
#include <sys/types.h>

#include <cerrno>
#include <string_view>

namespace hakop::verifier {

inline constexpr int answerDescriptor = 3;
// Run as: hakop-verifier SAVER-PID
inline constexpr const char* helperName = "hakop-verifier";
// The helper's own exits without an answer.
inline constexpr int exitUsage = 120;
inline constexpr int exitOrphaned = 121;
inline constexpr int exitNoChannel = 122;

// Sends all of 'text' on the channel 'fd', however the socket splits it;
// false when the other end is gone (no SIGPIPE) or the send fails.
inline bool sendAll(int fd, std::string_view text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace hakop::verifier
