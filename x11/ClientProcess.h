#pragma once
// Which process a window on the X server belongs to, as the X-Resource
// extension tells it (the server knows the process of each local client).
// While the saver lets a password prompt show above it, this tells the
// prompt's windows from every other program's.
#include "XHandles.h"
#include <sys/types.h>

namespace hakop::platform {

// Whether the server can tell a window's process at all (X-Resource 1.2).
bool serverKnowsClientProcesses(Display* display);

// The process of the client that created 'window'; 0 when the server cannot
// tell (a remote client, or no X-Resource).
pid_t windowProcess(Display* display, unsigned long window);

// Whether 'pid' is a descendant of 'ancestor' (a child, a grandchild, ...;
// parents read from /proc). A process is not its own descendant.
bool descendsFrom(pid_t pid, pid_t ancestor);

// Whether 'window' or a window inside it (a window manager's frame holds the
// client's own window) belongs to a descendant of 'ancestor'.
bool windowOfProcessTree(Display* display, unsigned long window, pid_t ancestor);

} // namespace hakop::platform
