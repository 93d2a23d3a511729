#pragma once
// What the signals caught so far ask the guest to do. The handler only writes
// each signal's number into a pipe; the guest takes everything waiting there
// in one go, so a burst of restarts asked before it got round to one is one
// restart, and an end asked anywhere in the burst wins.
namespace hakop::hosted {

struct SignalRequests {
    bool end = false; // SIGTERM, SIGINT, SIGHUP: anything but SIGUSR1
    bool restart = false; // SIGUSR1, however many times
};

// Reads every signal number now waiting in the pipe 'fd' without waiting for
// more (the pipe may be blocking or not).
SignalRequests takeSignalRequests(int fd);

} // namespace hakop::hosted
