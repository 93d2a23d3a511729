#pragma once
// One saver per Wayland display. The saver holds two things for as long as
// it runs, both dropped by the kernel when the process dies however it dies,
// so a crash leaves nothing stale:
// - an exclusive flock on a file beside the display's socket (in the
//   compositor's XDG_RUNTIME_DIR), which every user of the display finds;
// - a listening socket in the abstract namespace, named after the user and
//   that file, which nothing planted in a folder can keep it from taking.
// Either one held by another saver means a saver runs. Each stands in for the
// other when it cannot be had: a file that cannot be made or is not the
// user's own (a link, a folder, another user's file, a read-only folder), a
// name another user has bound first.
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

    struct Attempt {
        std::unique_ptr<DisplayLock> lock; // held until it is destroyed
        bool heldElsewhere = false; // another saver holds it: nothing to do
        // Set when one of the two could not be had, in one line: with a lock
        // the other one guards alone; without, nothing keeps a second saver
        // out and the saver should not run.
        std::string problem;
    };
    // Takes the lock for the display whose lock file is 'path'.
    static Attempt take(const std::string& path);
    // Whether another saver holds the lock for 'path' now.
    static bool heldElsewhere(const std::string& path);

    ~DisplayLock();
    DisplayLock(const DisplayLock&) = delete;
    DisplayLock& operator=(const DisplayLock&) = delete;

private:
    DisplayLock(int file, int name) : m_file(file), m_name(name) {}
    int m_file; // -1 when only the name guards
    int m_name; // -1 when only the file guards
};

} // namespace hakop::platform::wayland
