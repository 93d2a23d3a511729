#include "KWinScreenShot.h"

#include "Connection.h"
#include "Protocols.h"
#include "ShmBuffer.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QImage>
#include <QVariantMap>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

namespace hakop::platform::wayland {

namespace {

using Clock = std::chrono::steady_clock;

// The opaque wl_shm format with the same bytes as the QImage format KWin
// names; none for one the compositor need not take. A screen is opaque:
// whatever KWin's alpha says (a translucent window leaves less than full),
// what the user saw is the colour alone.
std::optional<std::uint32_t> shmFormat(uint qtFormat)
{
    switch (QImage::Format(qtFormat)) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied: return WL_SHM_FORMAT_XRGB8888;
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888:
    case QImage::Format_RGBA8888_Premultiplied: return WL_SHM_FORMAT_XBGR8888;
    default: return std::nullopt;
    }
}

std::size_t bytesOf(const ShmBuffer& buffer)
{
    return std::size_t(buffer.stride()) * std::size_t(buffer.size().height());
}

struct Shot {
    Capture* capture = nullptr;
    int pipe = -1; // our end; KWin writes the pixels into the other
    std::optional<QDBusPendingCall> call;
    bool answered = false;
    std::size_t expected = 0; // the bytes the answer announced
    std::size_t got = 0;
    bool ended = false; // KWin closed its end
    bool done = false;
    KWinScreenShot::Outcome failure = KWinScreenShot::Outcome::Taken;
    QString error;

    ~Shot()
    {
        if (pipe >= 0)
            ::close(pipe);
    }

    void fail(KWinScreenShot::Outcome why, QString what = QString())
    {
        failure = why;
        error = std::move(what);
        capture->buffer.reset();
        done = true;
    }

    // The pixels are read into the buffer guessed from the output's mode;
    // an answer that says otherwise moves what came so far into one that fits.
    void answer(Connection& connection, const QVariantMap& results)
    {
        answered = true;
        const int width = results.value(QStringLiteral("width")).toInt();
        const int height = results.value(QStringLiteral("height")).toInt();
        const int stride = results.value(QStringLiteral("stride")).toInt();
        const std::optional<std::uint32_t> format = shmFormat(results.value(QStringLiteral("format")).toUInt());
        const QString type = results.value(QStringLiteral("type"), QStringLiteral("raw")).toString();
        // Sizes no output has are no picture (and no multiplication may overflow).
        constexpr int largest = 1 << 15;
        if (type != QLatin1String("raw") || !format || width <= 0 || height <= 0 || width > largest
            || height > largest || stride < width * 4 || stride > largest * 8) {
            fail(KWinScreenShot::Outcome::Failed, QStringLiteral("a picture in a form it cannot show"));
            return;
        }
        expected = std::size_t(stride) * std::size_t(height);
        ShmBuffer& guessed = *capture->buffer;
        if (guessed.size() != QSize(width, height) || guessed.stride() != stride || guessed.format() != *format) {
            auto fitting = ShmBuffer::create(connection.shm(), QSize(width, height), stride, *format);
            if (!fitting) {
                fail(KWinScreenShot::Outcome::Failed, QStringLiteral("no shared memory for the picture"));
                return;
            }
            got = std::min(got, expected);
            std::memcpy(fitting->data(), guessed.data(), got);
            capture->buffer = std::move(fitting);
        }
        settle();
    }

    void read()
    {
        const std::size_t room = bytesOf(*capture->buffer) - got;
        const ssize_t n = ::read(pipe, capture->buffer->data() + got, room);
        if (n > 0)
            got += std::size_t(n);
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            ended = true;
        settle();
    }

    void settle()
    {
        if (done || !answered)
            return;
        if (got >= expected)
            done = true;
        else if (ended)
            fail(KWinScreenShot::Outcome::Failed, QStringLiteral("a picture cut short"));
    }

    // Whether the pipe is worth polling: before the answer only while the
    // guessed buffer has room.
    bool reading() const
    {
        return !done && !ended && (answered || got < bytesOf(*capture->buffer));
    }
};

void ask(QDBusConnection& bus, const Output& output, Shot& shot, std::chrono::milliseconds limit)
{
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        shot.fail(KWinScreenShot::Outcome::Failed, QStringLiteral("no pipe"));
        return;
    }
    shot.pipe = fds[0];
    // Only our end waits without blocking: KWin's writer keeps its own habits.
    (void)::fcntl(shot.pipe, F_SETFL, O_NONBLOCK);
    {
        QDBusMessage message =
            QDBusMessage::createMethodCall(QStringLiteral("org.kde.KWin"), QStringLiteral("/org/kde/KWin/ScreenShot2"),
                                           QStringLiteral("org.kde.KWin.ScreenShot2"), QStringLiteral("CaptureScreen"));
        // A bus that would start a KWin for us is no KWin showing this desktop.
        message.setAutoStartService(false);
        const QVariantMap options = {{QStringLiteral("native-resolution"), true},
                                     {QStringLiteral("include-cursor"), false}};
        message << QString::fromStdString(output.name) << options
                << QVariant::fromValue(QDBusUnixFileDescriptor(fds[1]));
        shot.call = bus.asyncCall(message, int(limit.count()));
    }
    // The message's copies of the write end are gone once it is sent: with
    // ours closed too, KWin's end is the last, and its close ends the pipe.
    ::close(fds[1]);
}

void take(Connection& connection, const std::vector<Output*>& outputs, KWinScreenShot& result,
          std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    // No QCoreApplication is needed, nor made: the connection lives on
    // QtDBus's own thread, and the answers are looked at here under its lock
    // (isFinished), never through an event loop of this thread. One would
    // also set the process's locale behind the saver's back. A connection
    // of our own, closed when done, so no bus socket outlives the pictures.
    const QString busName = QStringLiteral("hakop-kwin-screenshot");
    const struct Closer {
        const QString& name;
        ~Closer() { QDBusConnection::disconnectFromBus(name); }
    } closer{busName};
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, busName);
    // Asked of the bus before any screen-sized memory is taken: on other
    // desktops (GNOME) there is no KWin to ask.
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(QStringLiteral("org.kde.KWin")).value()) {
        result.outcome = KWinScreenShot::Outcome::Absent;
        return;
    }

    std::vector<Shot> shots(outputs.size());
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        Shot& shot = shots[i];
        shot.capture = &result.captures[i];
        // What KWin 5.27 sends: the output upright at its device pixels, in
        // QImage's ARGB32.
        const QSize size = outputs[i]->uprightSize();
        shot.capture->buffer = ShmBuffer::create(connection.shm(), size, size.width() * 4, WL_SHM_FORMAT_XRGB8888);
        if (!shot.capture->buffer || outputs[i]->name.empty()) {
            shot.fail(KWinScreenShot::Outcome::Failed, QStringLiteral("an output without a name or memory"));
            continue;
        }
        ask(bus, *outputs[i], shot, limit);
    }

    std::vector<pollfd> fds;
    std::vector<Shot*> polled;
    while (true) {
        bool waitingForAnswer = false;
        for (Shot& shot : shots) {
            if (shot.done || shot.answered)
                continue;
            if (!shot.call->isFinished()) {
                waitingForAnswer = true;
                continue;
            }
            const QDBusPendingReply<QVariantMap> reply = *shot.call;
            if (!reply.isError()) {
                shot.answer(connection, reply.value());
                continue;
            }
            const QDBusError error = reply.error();
            if (error.type() == QDBusError::ServiceUnknown)
                shot.fail(KWinScreenShot::Outcome::Absent);
            else if (error.name().endsWith(QLatin1String(".NoAuthorized")) || error.type() == QDBusError::AccessDenied)
                shot.fail(KWinScreenShot::Outcome::Refused, error.message());
            else if (error.type() == QDBusError::UnknownObject || error.type() == QDBusError::UnknownInterface)
                shot.fail(KWinScreenShot::Outcome::Failed,
                          QStringLiteral("KWin offers it only when it composites with OpenGL"));
            else if (error.type() == QDBusError::NoReply || error.type() == QDBusError::Timeout)
                shot.fail(KWinScreenShot::Outcome::Failed, QStringLiteral("no answer in time"));
            else
                shot.fail(KWinScreenShot::Outcome::Failed, error.message());
        }
        fds.clear();
        polled.clear();
        for (Shot& shot : shots)
            if (shot.reading()) {
                fds.push_back({shot.pipe, POLLIN, 0});
                polled.push_back(&shot);
            }
        const auto now = Clock::now();
        if ((fds.empty() && !waitingForAnswer) || now >= deadline)
            break;
        // The answers come on the bus's own thread: look again soon while any is due.
        auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        if (waitingForAnswer)
            wait = std::min(wait, std::chrono::milliseconds(5));
        if (::poll(fds.data(), fds.size(), int(wait.count())) < 0 && errno != EINTR)
            break;
        for (std::size_t i = 0; i < fds.size(); ++i)
            if (fds[i].revents != 0)
                polled[i]->read();
    }

    bool anyAbsent = false;
    for (Shot& shot : shots) {
        if (!shot.done)
            shot.fail(KWinScreenShot::Outcome::Failed,
                      QStringLiteral("no picture within %1 ms").arg(qint64(limit.count())));
        if (shot.failure == KWinScreenShot::Outcome::Absent)
            anyAbsent = true;
        else if (shot.failure != KWinScreenShot::Outcome::Taken
                 && (result.outcome == KWinScreenShot::Outcome::Taken
                     || shot.failure == KWinScreenShot::Outcome::Refused)) {
            result.outcome = shot.failure;
            result.reason = shot.error.toStdString();
        }
    }
    if (anyAbsent) {
        result.outcome = KWinScreenShot::Outcome::Absent;
        for (Capture& capture : result.captures)
            capture.buffer.reset();
    }
}

} // namespace

KWinScreenShot captureThroughKWin(Connection& connection, const std::vector<Output*>& outputs,
                                  std::chrono::milliseconds limit)
{
    KWinScreenShot result;
    result.captures.resize(outputs.size());
    result.outcome = KWinScreenShot::Outcome::Taken;
    if (outputs.empty())
        return result;
    result.outcome = KWinScreenShot::Outcome::Absent;
    if (qgetenv("DBUS_SESSION_BUS_ADDRESS").isEmpty())
        return result;
    result.outcome = KWinScreenShot::Outcome::Taken;
    take(connection, outputs, result, limit);
    return result;
}

} // namespace hakop::platform::wayland
