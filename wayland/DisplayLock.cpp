#include "DisplayLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

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

enum class State {
    Taken, // ours now; 'fd' keeps it
    Held, // by another saver of this user
    Unusable, // 'why' says what is wrong
};

struct Part {
    State state = State::Unusable;
    int fd = -1;
    std::string why;
};

std::string withError(const std::string& what, int error)
{
    return what + ": " + std::generic_category().message(error);
}

// Only a regular file of our own is trusted: one that somebody else owns
// could be held by them for ever, or be there to be written through.
Part lockFile(const std::string& path, bool keep)
{
    if (path.empty())
        return {State::Unusable, -1, "no place for the lock file (XDG_RUNTIME_DIR is not set)"};
    const int fd = openLockFile(path);
    if (fd < 0)
        return {State::Unusable, -1, withError("cannot use the lock file " + path, errno)};
    struct stat file = {};
    if (::fstat(fd, &file) != 0 || !S_ISREG(file.st_mode) || file.st_uid != ::geteuid()) {
        ::close(fd);
        return {State::Unusable, -1, "the lock file " + path + " is not a file of this user's"};
    }
    if (!tryLock(fd)) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return {State::Held, -1, {}};
        return {State::Unusable, -1, withError("cannot lock " + path, error)};
    }
    if (!keep) {
        // Taken and let go at once: asking must not keep a saver from starting.
        ::close(fd);
        return {State::Taken, -1, {}};
    }
    return {State::Taken, fd, {}};
}

// The abstract name for a lock file and this user: "@hakop-saver/UID/PATH",
// the path replaced by a hash of it where the whole would not fit.
sockaddr_un abstractAddress(const std::string& path, socklen_t* length)
{
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::string name = "hakop-saver/" + std::to_string(::geteuid()) + "/";
    const std::size_t room = sizeof address.sun_path - 1; // the leading zero byte
    if (name.size() + path.size() <= room) {
        name += path;
    } else {
        std::uint64_t hash = 14695981039346656037ULL; // FNV-1a
        for (const unsigned char c : path)
            hash = (hash ^ c) * 1099511628211ULL;
        char digits[17];
        std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
        name += digits;
    }
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return address;
}

std::string shown(const sockaddr_un& address, socklen_t length)
{
    return "@" + std::string(address.sun_path + 1, length - offsetof(sockaddr_un, sun_path) - 1);
}

// Who listens on the name: Held when a process of this user does, Taken
// when nobody is bound to it, Unusable when somebody else is. A saver binds
// and listens in two steps: 'patient' gives a bound name that refuses
// connections a moment to start listening before it counts as somebody else's.
Part holderOf(const sockaddr_un& address, socklen_t length, bool patient)
{
    for (int attempt = 0;; ++attempt) {
        const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (probe < 0)
            return {State::Unusable, -1, withError("cannot make a socket", errno)};
        if (::connect(probe, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
            ucred peer = {};
            socklen_t size = sizeof peer;
            const bool known = ::getsockopt(probe, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0;
            ::close(probe);
            if (known && peer.uid == ::geteuid())
                return {State::Held, -1, {}};
            return {State::Unusable, -1,
                    "the abstract socket " + shown(address, length) + " is bound by "
                        + (known ? "user " + std::to_string(peer.uid) : std::string("another process"))};
        }
        const int error = errno;
        ::close(probe);
        if (error == ECONNREFUSED && !patient)
            return {State::Taken, -1, {}};
        if (error == ECONNREFUSED && attempt < 20) {
            ::usleep(5000);
            continue;
        }
        return {State::Unusable, -1,
                withError("the abstract socket " + shown(address, length) + " is bound but takes no connection", error)};
    }
}

Part bindName(const std::string& path)
{
    socklen_t length = 0;
    const sockaddr_un address = abstractAddress(path, &length);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {State::Unusable, -1, withError("cannot make a socket", errno)};
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
        // Listening lets another start learn that the holder is of this user.
        if (::listen(fd, SOMAXCONN) == 0)
            return {State::Taken, fd, {}};
        const int error = errno;
        ::close(fd);
        return {State::Unusable, -1, withError("cannot listen on " + shown(address, length), error)};
    }
    const int error = errno;
    ::close(fd);
    if (error != EADDRINUSE)
        return {State::Unusable, -1, withError("cannot bind " + shown(address, length), error)};
    return holderOf(address, length, /*patient=*/true);
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

DisplayLock::Attempt DisplayLock::take(const std::string& path)
{
    Attempt attempt;
    Part file = lockFile(path, /*keep=*/true);
    if (file.state == State::Held) {
        attempt.heldElsewhere = true;
        return attempt;
    }
    Part name = bindName(path);
    if (name.state == State::Held) {
        if (file.fd >= 0)
            ::close(file.fd);
        attempt.heldElsewhere = true;
        return attempt;
    }
    if (file.state == State::Taken || name.state == State::Taken)
        attempt.lock.reset(new DisplayLock(file.fd, name.fd));
    if (file.state == State::Unusable && name.state == State::Unusable)
        attempt.problem = "cannot keep to one saver per display: " + file.why + "; " + name.why;
    else if (file.state == State::Unusable)
        attempt.problem = file.why + "; one saver per display is kept by an abstract socket alone";
    else if (name.state == State::Unusable)
        attempt.problem = name.why + "; one saver per display is kept by the lock file alone";
    return attempt;
}

bool DisplayLock::heldElsewhere(const std::string& path)
{
    if (lockFile(path, /*keep=*/false).state == State::Held)
        return true;
    socklen_t length = 0;
    const sockaddr_un address = abstractAddress(path, &length);
    return holderOf(address, length, /*patient=*/false).state == State::Held;
}

DisplayLock::~DisplayLock()
{
    if (m_file >= 0)
        ::close(m_file);
    if (m_name >= 0)
        ::close(m_name);
}

} // namespace hakop::platform::wayland
