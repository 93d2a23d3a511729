#include "ClientProcess.h"

#include "WindowTree.h"

#include <X11/Xlib.h>
#include <X11/extensions/XRes.h>

#include <fstream>
#include <iterator>
#include <string>

namespace hakop::platform {

namespace {

// The parent of 'pid', or 0.
pid_t parentOf(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // "pid (name) state ppid ...": the name may hold anything, up to the last ')'.
    const auto close = stat.rfind(')');
    if (close == std::string::npos || close + 4 >= stat.size())
        return 0;
    try {
        return static_cast<pid_t>(std::stol(stat.substr(close + 4)));
    } catch (...) {
        return 0;
    }
}

bool treeOwned(Display* dpy, Window window, pid_t ancestor, int depth)
{
    if (descendsFrom(windowProcess(dpy, window), ancestor))
        return true;
    if (depth == 0)
        return false;
    const auto tree = queryTree(dpy, window);
    if (!tree)
        return false;
    for (const unsigned long child : tree->children)
        if (treeOwned(dpy, child, ancestor, depth - 1))
            return true;
    return false;
}

} // namespace

bool serverKnowsClientProcesses(Display* display)
{
    Display* dpy = display;
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    return dpy != nullptr && XResQueryExtension(dpy, &event, &error) != 0
        && XResQueryVersion(dpy, &major, &minor) != 0 && (major > 1 || (major == 1 && minor >= 2));
}

pid_t windowProcess(Display* display, unsigned long window)
{
    Display* dpy = display;
    XResClientIdSpec query{window, XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* values = nullptr;
    if (dpy == nullptr || XResQueryClientIds(dpy, 1, &query, &count, &values) != Success)
        return 0;
    // XResGetClientPid gives -1 for any value that is not a process id.
    pid_t pid = 0;
    for (long i = 0; i < count && pid <= 0; ++i)
        pid = XResGetClientPid(&values[i]);
    XResClientIdsDestroy(count, values);
    return pid > 0 ? pid : 0;
}

bool descendsFrom(pid_t pid, pid_t ancestor)
{
    if (pid == ancestor)
        return false;
    // A bound, in case /proc lies or loops.
    for (int hops = 0; pid > 1 && hops < 64; ++hops, pid = parentOf(pid))
        if (pid == ancestor)
            return true;
    return false;
}

bool windowOfProcessTree(Display* display, unsigned long window, pid_t ancestor)
{
    // A frame holds the client's window one or two levels down.
    return display != nullptr && treeOwned(display, window, ancestor, 3);
}

} // namespace hakop::platform
