#include "TrustedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <deque>
#include <string_view>
#include <system_error>
#include <vector>

namespace hakop::verifier {

void FileDescriptor::reset()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

std::string loaderPath(const FileDescriptor& file)
{
    return "/proc/self/fd/" + std::to_string(file.get());
}

namespace {

// As many links as the kernel follows in one lookup.
constexpr int linkLimit = 40;

std::string errorText(int error)
{
    return std::generic_category().message(error);
}

bool ownerTrusted(uid_t owner, uid_t user)
{
    return owner == 0 || owner == user;
}

bool othersMayWrite(const struct stat& st)
{
    return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

std::string uidText(uid_t uid)
{
    return "(uid " + std::to_string(uid) + ")";
}

// A folder on the way, held open: the next name is looked up in it.
struct Folder {
    FileDescriptor fd;
    struct stat st {};
    std::string shown; // its path, for messages
};

TrustedOpen refusal(TrustedOpen::Outcome outcome, std::string why)
{
    TrustedOpen result;
    result.outcome = outcome;
    result.why = std::move(why);
    return result;
}

// Why 'entry', named 'shown', may not be taken from 'folder'; empty when it may.
std::string entryDistrusted(const Folder& folder, const struct stat& entry, const std::string& shown, uid_t user)
{
    if (!ownerTrusted(folder.st.st_uid, user))
        return folder.shown + " belongs to another user " + uidText(folder.st.st_uid);
    if (!othersMayWrite(folder.st))
        return {};
    if ((folder.st.st_mode & S_ISVTX) == 0)
        return folder.shown + " may be written by others than its owner and root";
    if (!ownerTrusted(entry.st_uid, user))
        return shown + " belongs to another user " + uidText(entry.st_uid) + " in " + folder.shown
            + ", which others may write";
    return {};
}

bool openRoot(Folder& root)
{
    root.fd = FileDescriptor(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    root.shown = "/";
    return root.fd && ::fstat(root.fd.get(), &root.st) == 0;
}

// The names of 'path' in order, to be looked up ahead of those in 'pending'.
void prependNames(std::string_view path, std::deque<std::string>& pending)
{
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > start)
            names.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    pending.insert(pending.begin(), names.begin(), names.end());
}

} // namespace

TrustedOpen openTrusted(const std::string& path, uid_t user)
{
    using Outcome = TrustedOpen::Outcome;
    if (path.empty() || path.front() != '/')
        return refusal(Outcome::Unusable, path + " is not an absolute path");

    std::vector<Folder> folders(1); // from / down to the one the next name is in
    if (!openRoot(folders.front()))
        return refusal(Outcome::Unusable, "/ cannot be examined: " + errorText(errno));
    std::deque<std::string> pending;
    prependNames(path, pending);
    int links = 0;
    while (!pending.empty()) {
        const std::string name = std::move(pending.front());
        pending.pop_front();
        if (name == ".")
            continue;
        if (name == "..") {
            if (folders.size() > 1)
                folders.pop_back();
            continue;
        }
        const Folder& folder = folders.back();
        const std::string shown = (folder.shown == "/" ? std::string() : folder.shown) + "/" + name;
        FileDescriptor entry(::openat(folder.fd.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat st {};
        if (!entry || ::fstat(entry.get(), &st) != 0) {
            if (errno == ENOENT)
                return {};
            return refusal(Outcome::Unusable, "cannot tell whether " + shown + " is there: " + errorText(errno));
        }
        if (std::string why = entryDistrusted(folder, st, shown, user); !why.empty())
            return refusal(Outcome::Untrusted, why);

        if (S_ISLNK(st.st_mode)) {
            char target[PATH_MAX];
            const ssize_t n = ::readlinkat(entry.get(), "", target, sizeof target);
            if (n < 0 || ++links > linkLimit)
                return refusal(Outcome::Unusable, shown + " cannot be followed: " + errorText(n < 0 ? errno : ELOOP));
            const std::string_view to(target, static_cast<std::size_t>(n));
            if (to.empty())
                return {};
            if (to.front() == '/')
                folders.resize(1);
            prependNames(to, pending);
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            if (pending.empty())
                return refusal(Outcome::Unusable, shown + " is not a file");
            folders.push_back({std::move(entry), st, shown});
            continue;
        }
        if (!pending.empty())
            return {}; // a file where a folder should be: the loader looks on
        if (!S_ISREG(st.st_mode))
            return refusal(Outcome::Unusable, shown + " is not a file");
        if (!ownerTrusted(st.st_uid, user))
            return refusal(Outcome::Untrusted, shown + " belongs to another user " + uidText(st.st_uid));
        if (othersMayWrite(st))
            return refusal(Outcome::Untrusted, shown + " may be written by others than its owner and root");

        // The same file, now for reading: the folder is trusted, so only
        // root or the user could have put another one there meanwhile.
        TrustedOpen result;
        result.file = FileDescriptor(
            ::openat(folder.fd.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat opened {};
        if (!result.file || ::fstat(result.file.get(), &opened) != 0)
            return refusal(Outcome::Unusable, shown + " cannot be read: " + errorText(errno));
        if (opened.st_dev != st.st_dev || opened.st_ino != st.st_ino)
            return refusal(Outcome::Unusable, shown + " was replaced while it was examined");
        result.outcome = Outcome::Opened;
        return result;
    }
    return refusal(Outcome::Unusable, path + " is not a file"); // it ended at a folder
}

} // namespace hakop::verifier
