#include "SignalPipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace hakop::platform {

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int number)
{
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(number);
    [[maybe_unused]] auto written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

int catchSignalsInPipe(std::initializer_list<int> numbers)
{
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    for (int number : numbers)
        sigaction(number, &action, nullptr);
    return signalPipe[0];
}

} // namespace hakop::platform
