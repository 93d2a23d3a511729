#include "ScreenshotFile.h"

#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace hakop::platform::wayland {

namespace {

// Far above any desktop's PNG; a bigger file is no screenshot of ours.
constexpr off_t largestPicture = off_t(512) << 20;

void say(std::string* why, std::string text)
{
    if (why != nullptr)
        *why = std::move(text);
}

} // namespace

std::optional<std::string> localFilePath(const QString& uri)
{
    const QUrl url(uri, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("file"))
        return std::nullopt;
    if (!url.host().isEmpty() && url.host() != QLatin1String("localhost"))
        return std::nullopt;
    const QString path = url.path(QUrl::FullyDecoded);
    if (!path.startsWith(QLatin1Char('/')) || path.contains(QChar(0)))
        return std::nullopt;
    return path.toStdString();
}

std::optional<QByteArray> takeFile(const std::string& path, std::string* why)
{
    // O_NONBLOCK: a FIFO put there must not hold us at open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        say(why, "cannot open " + path + ": " + std::generic_category().message(errno));
        return std::nullopt;
    }
    struct stat opened = {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(fd);
        say(why, path + " is not a regular file");
        return std::nullopt;
    }
    QByteArray bytes;
    bool complete = opened.st_size <= largestPicture;
    if (complete) {
        bytes.resize(qsizetype(opened.st_size));
        std::size_t done = 0;
        while (done < std::size_t(bytes.size())) {
            const ssize_t got = ::read(fd, bytes.data() + done, std::size_t(bytes.size()) - done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            done += std::size_t(got);
        }
        complete = done == std::size_t(bytes.size());
    }
    ::close(fd);
    // Deleted only while the name still leads to the file we read: never
    // something put in its place meanwhile.
    struct stat named = {};
    if (::lstat(path.c_str(), &named) == 0 && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino)
        ::unlink(path.c_str());
    if (!complete) {
        say(why, "cannot read " + path + " whole");
        return std::nullopt;
    }
    return bytes;
}

} // namespace hakop::platform::wayland
