#pragma once
// One saver per Wayland display. The saver holds an exclusive flock on a
// file beside the display's socket (in the compositor's XDG_RUNTIME_DIR)
// for as long as it runs. Taking it is one atomic step, and the kernel drops
// it when the process dies however it dies, so a crash leaves nothing stale.
#include <memory>
#include <string>

namespace hakop::platform::wayland {

class DisplayLock {
public:
    // The lock file for a display named as WAYLAND_DISPLAY names it (a name
    // in 'runtimeDir', or an absolute socket path). Empty when it cannot be
    // placed (a relative name with no runtime folder).
    static std::string pathFor(const std::string& display, const std::string& runtimeDir);
    // The lock file for the display this process's environment names.
    static std::string pathForEnvironment();

    // Takes the lock at 'path'; null when another process holds it. A lock
    // that cannot be made at all (no such folder, no permission) does not
    // keep the saver from running: 'unusable' says so.
    static std::unique_ptr<DisplayLock> take(const std::string& path, bool* unusable = nullptr);
    // Whether another process holds the lock at 'path' now.
    static bool heldElsewhere(const std::string& path);

    ~DisplayLock();
    DisplayLock(const DisplayLock&) = delete;
    DisplayLock& operator=(const DisplayLock&) = delete;

private:
    explicit DisplayLock(int fd) : m_fd(fd) {}
    int m_fd;
};

} // namespace hakop::platform::wayland
