#pragma once
// Signals turned into bytes on a pipe, so that an event loop wakes for them
// like for any other descriptor and handles them outside the handler. Each
// caught signal writes its number as one byte; the pipe never blocks the
// handler (a full pipe drops the byte: one already waiting wakes the loop).
#include <initializer_list>

namespace hakop::platform {

// Catches 'numbers' (restarting interrupted calls; SIGCHLD only for ended
// children, not stopped ones) and returns the pipe's end to read them from,
// or -1 with errno set when there is no pipe.
int catchSignalsInPipe(std::initializer_list<int> numbers);

} // namespace hakop::platform
