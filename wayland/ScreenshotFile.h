#pragma once
// A picture another program saved for us and told us about by URI (the
// desktop portal's screenshot): read once and deleted at once, so that no
// picture of the user's screen stays behind. Only a local regular file is
// touched: another scheme, a symbolic link, a FIFO or a device is left alone.
#include <QByteArray>
#include <QString>

#include <optional>
#include <string>

namespace hakop::platform::wayland {

// The local path a "file:" URI names (percent-escapes decoded); nothing for
// another scheme, another host than this one, or no absolute path.
std::optional<std::string> localFilePath(const QString& uri);

// Reads the regular file at 'path' without following a symbolic link there
// and deletes it, whatever it holds. Nothing, with the reason in 'why', when
// it was no regular file or could not be read whole.
std::optional<QByteArray> takeFile(const std::string& path, std::string* why = nullptr);

} // namespace hakop::platform::wayland
