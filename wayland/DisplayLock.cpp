#include "DisplayLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace hakop::platform::wayland {

namespace {

// O_NOFOLLOW: a link planted under our name must not make us open (and
// create) some other file. Close-on-exec: the verifier helper must not
// inherit the lock and keep it after we are gone.
int openLockFile(const std::string& path)
{
    int fd = -1;
    do
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    while (fd < 0 && errno == EINTR);
    return fd;
}

bool tryLock(int fd)
{
    int result = 0;
    do
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    while (result < 0 && errno == EINTR);
    return result == 0;
}

} // namespace

std::string DisplayLock::pathFor(const std::string& display, const std::string& runtimeDir)
{
    std::string socket = display.empty() ? std::string("wayland-0") : display;
    if (socket.front() != '/') {
        if (runtimeDir.empty())
            return {};
        socket = runtimeDir + "/" + socket;
    }
    // Beside the socket, named after it: every client of this display,
    // whichever way its environment names it, finds the same file.
    const auto slash = socket.rfind('/');
    return socket.substr(0, slash + 1) + "hakop-" + socket.substr(slash + 1) + ".lock";
}

std::string DisplayLock::pathForEnvironment()
{
    const char* display = std::getenv("WAYLAND_DISPLAY");
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    return pathFor(display != nullptr ? display : "", runtimeDir != nullptr ? runtimeDir : "");
}

std::unique_ptr<DisplayLock> DisplayLock::take(const std::string& path, bool* unusable)
{
    if (unusable != nullptr)
        *unusable = false;
    const int fd = path.empty() ? -1 : openLockFile(path);
    if (fd < 0) {
        if (unusable != nullptr)
            *unusable = true;
        return nullptr;
    }
    if (!tryLock(fd)) {
        const bool busy = errno == EWOULDBLOCK;
        ::close(fd);
        if (unusable != nullptr)
            *unusable = !busy;
        return nullptr;
    }
    return std::unique_ptr<DisplayLock>(new DisplayLock(fd));
}

bool DisplayLock::heldElsewhere(const std::string& path)
{
    const int fd = path.empty() ? -1 : openLockFile(path);
    if (fd < 0)
        return false;
    // Taken and let go at once: asking must not keep a saver from starting.
    const bool held = !tryLock(fd) && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

DisplayLock::~DisplayLock()
{
    ::close(m_fd);
}

} // namespace hakop::platform::wayland
