#include "SignalRequests.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace hakop::hosted {

SignalRequests takeSignalRequests(int fd)
{
    SignalRequests asked;
    pollfd ready{fd, POLLIN, 0};
    while (::poll(&ready, 1, 0) == 1 && (ready.revents & POLLIN) != 0) {
        unsigned char numbers[256];
        const ssize_t n = ::read(fd, numbers, sizeof numbers);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i) {
            if (numbers[i] == SIGUSR1)
                asked.restart = true;
            else
                asked.end = true;
        }
    }
    return asked;
}

} // namespace hakop::hosted
