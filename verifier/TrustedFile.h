#pragma once
// A module opened so that what is judged is what gets loaded. Its path is
// walked one name at a time, each looked up in the folder already opened
// before it, and links are followed by hand; the file at the end stays open
// and is loaded through that descriptor (loaderPath), so nobody can swap it
// between the check and the load.
//
// The rule, for each name on the way (those of the path as written, and
// those of every link's target):
//  - the folder it is taken from belongs to root or the user, and either
//    no one else may write that folder, or the folder is sticky (as /tmp is:
//    there only an entry's owner may rename or remove it) and the entry
//    belongs to root or the user;
//  - the file at the end is a regular file that belongs to root or the user,
//    and no one else may write it.
// So a link someone else planted in a shared folder is refused, and so is a
// link from a safe folder into an unsafe one; a folder of root's own inside
// /tmp is as good as any.
#include <sys/types.h>

#include <string>
#include <utility>

namespace hakop::verifier {

class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : m_fd(fd) { }
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) { }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    void reset();

private:
    int m_fd = -1;
};

struct TrustedOpen {
    enum class Outcome {
        Absent,   // nothing there: the loader would look on
        Opened,   // 'file' is the module, open for reading
        Unusable, // something is there but cannot be read or looked into
        Untrusted // it is there, but the rule above refuses it
    };
    Outcome outcome = Outcome::Absent;
    FileDescriptor file;
    std::string why; // Unusable, Untrusted: what is wrong, as one clause
};

// Opens the file at the absolute 'path' for 'user' (root is trusted too).
TrustedOpen openTrusted(const std::string& path, uid_t user);

// The name the loader opens 'file' by: its descriptor in /proc/self/fd. It
// names the module only while 'file' stays open.
std::string loaderPath(const FileDescriptor& file);

} // namespace hakop::verifier
