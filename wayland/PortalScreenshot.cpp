#include "PortalScreenshot.h"

#include "PortalResponse.h"
#include "ScreenshotFile.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <QVariantMap>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <system_error>
#include <optional>

namespace hakop::platform::wayland {

const char* const allowPortalScreenshotCommand =
    "gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore "
    "--object-path /org/freedesktop/impl/portal/PermissionStore "
    "--method org.freedesktop.impl.portal.PermissionStore.SetPermission screenshot true screenshot '' \"['yes']\"";

namespace {

using Clock = std::chrono::steady_clock;
using Result = PortalScreenshot::Result;

constexpr QLatin1String portalService("org.freedesktop.portal.Desktop");
constexpr QLatin1String storeService("org.freedesktop.impl.portal.PermissionStore");
constexpr QLatin1String busName("hakop-portal-screenshot");

// How long past the caller's deadline the helper still waits for a late
// picture, only to delete it.
constexpr std::chrono::seconds lateGrace(30);

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return int(std::clamp<long long>(left, 1, 60'000));
}

PortalScreenshot outcome(Result result, std::string detail)
{
    PortalScreenshot shot;
    shot.result = result;
    shot.detail = std::move(detail);
    return shot;
}

// A failed call's result: a service that is not there is no portal; an
// answer that did not come is late.
PortalScreenshot failedCall(const QDBusMessage& reply, const char* what)
{
    const QDBusError::ErrorType type = QDBusError(reply).type();
    std::string detail = std::string(what) + ": " + reply.errorMessage().toStdString();
    if (type == QDBusError::ServiceUnknown || type == QDBusError::UnknownObject
        || type == QDBusError::UnknownInterface || type == QDBusError::UnknownMethod)
        return outcome(Result::NoPortal, std::move(detail));
    if (type == QDBusError::NoReply || type == QDBusError::Timeout || type == QDBusError::TimedOut)
        return outcome(Result::Late, std::move(detail));
    return outcome(Result::Failed, std::move(detail));
}

// Whether the permission store says the host's programs (app id "") may take
// screenshots without a dialog; a failed look-up as its result.
std::optional<PortalScreenshot> refusedPermission(QDBusConnection& bus, Clock::time_point deadline)
{
    QDBusMessage lookup = QDBusMessage::createMethodCall(storeService, QStringLiteral("/org/freedesktop/impl/portal/PermissionStore"),
                                                         storeService, QStringLiteral("Lookup"));
    lookup << QStringLiteral("screenshot") << QStringLiteral("screenshot");
    const QDBusMessage reply = bus.call(lookup, QDBus::Block, remainingMs(deadline));
    if (reply.type() == QDBusMessage::ErrorMessage) {
        // No table or no entry yet: never allowed.
        if (reply.errorName() == QLatin1String("org.freedesktop.portal.Error.NotFound"))
            return outcome(Result::NotAllowed, "no screenshot permission is stored");
        return failedCall(reply, "the permission store's look-up failed");
    }
    if (reply.arguments().isEmpty() || !reply.arguments().front().canConvert<QDBusArgument>())
        return outcome(Result::Failed, "the permission store answered in an unknown form");
    const auto permissions = qdbus_cast<QMap<QString, QStringList>>(reply.arguments().front());
    if (!permissions.value(QString()).contains(QStringLiteral("yes")))
        return outcome(Result::NotAllowed, "screenshots without asking are not allowed");
    return std::nullopt;
}

// The object path the portal gives the request named 'token' of the caller
// 'sender' (":1.42" becomes "1_42").
QString requestPath(QString sender, const QString& token)
{
    sender.remove(0, sender.startsWith(QLatin1Char(':')) ? 1 : 0).replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/") + sender + QLatin1Char('/') + token;
}

// 'deadline' is the caller's; a late picture is waited for until 'lastCall'
// only to be deleted.
PortalScreenshot screenshot(QDBusConnection& bus, Clock::time_point deadline, Clock::time_point lastCall)
{
    if (auto refused = refusedPermission(bus, deadline))
        return *refused;
    if (Clock::now() >= deadline)
        return outcome(Result::Late, "the permission store answered too late");

    static std::atomic<unsigned> serial = 0;
    const QString token = QStringLiteral("hakop%1_%2").arg(::getpid()).arg(++serial);
    QString path = requestPath(bus.baseService(), token);
    const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
    const QString responseSignal = QStringLiteral("Response");

    QEventLoop loop;
    PortalResponse catcher(loop);
    // Listening before asking: the answer may come before the call returns.
    auto listen = [&](const QString& at) {
        return bus.connect(portalService, at, requestInterface, responseSignal, &catcher,
                           SLOT(response(uint, QVariantMap)));
    };
    if (!listen(path))
        return outcome(Result::Failed, "cannot listen for the portal's answer");

    QDBusMessage call = QDBusMessage::createMethodCall(portalService, QStringLiteral("/org/freedesktop/portal/desktop"),
                                                       QStringLiteral("org.freedesktop.portal.Screenshot"),
                                                       QStringLiteral("Screenshot"));
    call << QString() << QVariantMap{{QStringLiteral("handle_token"), token}, {QStringLiteral("interactive"), false}};
    // Past the caller's deadline too: a request still pending may yet leave a file.
    const QDBusMessage reply = bus.call(call, QDBus::Block, remainingMs(lastCall));
    if (reply.type() == QDBusMessage::ErrorMessage)
        return failedCall(reply, "the portal's Screenshot failed");
    // A portal older than the token's convention answers with a path of its own.
    if (!reply.arguments().isEmpty()) {
        const QString given = qvariant_cast<QDBusObjectPath>(reply.arguments().front()).path();
        if (!given.isEmpty() && given != path) {
            bus.disconnect(portalService, path, requestInterface, responseSignal, &catcher,
                           SLOT(response(uint, QVariantMap)));
            path = given;
            listen(path);
        }
    }

    if (!catcher.arrived && Clock::now() < lastCall) {
        QTimer::singleShot(remainingMs(lastCall), &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (!catcher.arrived) {
        // Withdrawn, so that no picture is taken for nobody (answered before
        // this process ends, or the request might never leave the bus).
        bus.call(QDBusMessage::createMethodCall(portalService, path, requestInterface, QStringLiteral("Close")),
                 QDBus::Block, 1000);
        return outcome(Result::Late, "the portal's screenshot did not come in time");
    }
    if (catcher.code != 0)
        return outcome(Result::Failed, "the portal refused the screenshot (response " + std::to_string(catcher.code) + ")");
    const QString uri = catcher.results.value(QStringLiteral("uri")).toString();
    const std::optional<std::string> file = localFilePath(uri);
    if (!file)
        return outcome(Result::Failed, "the portal's screenshot is not a local file: " + uri.toStdString());
    std::string why;
    const std::optional<QByteArray> bytes = takeFile(*file, &why);
    if (!bytes)
        return outcome(Result::Failed, why);
    PortalScreenshot shot = outcome(Result::Taken, std::string());
    shot.encoded = *bytes;
    return shot;
}

// The child's whole life: QtDBus needs a QCoreApplication for its event
// loop, and it lives here, in a process that ends with the talk.
[[noreturn]] void talkInChild(int resultFd, Clock::time_point deadline)
{
    sigset_t none;
    sigemptyset(&none);
    ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGALRM})
        ::signal(signal, SIG_DFL);
    ::signal(SIGPIPE, SIG_IGN); // the caller may have stopped listening
    ::alarm(std::chrono::duration_cast<std::chrono::seconds>(lateGrace).count() + 15);
    // What goes wrong reaches the caller in the answer; the toolkit's own
    // warnings would be lines of another form on the shared stderr.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});

    PortalScreenshot shot;
    {
        int argc = 1;
        char name[] = "hakop";
        char* argv[] = {name, nullptr};
        QCoreApplication application(argc, argv);
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, busName);
        if (bus.isConnected())
            shot = screenshot(bus, deadline, deadline + lateGrace);
        else
            shot = outcome(Result::NoPortal, "no session bus: " + bus.lastError().message().toStdString());
    }
    QByteArray message;
    const auto detailSize = std::uint32_t(shot.detail.size());
    message.append(char(shot.result));
    message.append(reinterpret_cast<const char*>(&detailSize), sizeof detailSize);
    message.append(shot.detail.data(), qsizetype(shot.detail.size()));
    message.append(shot.encoded);
    for (qsizetype sent = 0; sent < message.size();) {
        const ssize_t wrote = ::write(resultFd, message.constData() + sent, std::size_t(message.size() - sent));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            break;
        sent += wrote;
    }
    // Nothing of the caller's (its buffers, its exit handlers) runs here.
    ::_exit(0);
}

// Everything the child says, or nothing when it has not finished by 'deadline'.
std::optional<QByteArray> readUntil(int fd, Clock::time_point deadline)
{
    QByteArray all;
    char chunk[65536];
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return std::nullopt;
        pollfd readable = {fd, POLLIN, 0};
        const int ready = ::poll(&readable, 1, int(left));
        if (ready < 0 && errno != EINTR)
            return std::nullopt;
        if (ready <= 0)
            continue;
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            return all;
        all.append(chunk, got);
    }
}

} // namespace

PortalScreenshot takePortalScreenshot(std::chrono::steady_clock::time_point deadline)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return outcome(Result::Failed, "cannot make a pipe: " + std::generic_category().message(errno));
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return outcome(Result::Failed, "cannot start the portal's helper: " + std::generic_category().message(errno));
    }
    if (child == 0) {
        // The talk runs in a grandchild that init adopts, so that one that
        // outlives our wait never becomes our zombie. It keeps only the pipe
        // and the standard streams: not the display's lock nor its socket.
        if (::fork() != 0)
            ::_exit(0);
        if (::dup2(pipeFds[1], 3) != 3)
            ::_exit(1);
        ::close_range(4, ~0U, 0);
        talkInChild(3, deadline);
    }
    ::close(pipeFds[1]);
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    const std::optional<QByteArray> said = readUntil(pipeFds[0], deadline);
    ::close(pipeFds[0]);
    if (!said)
        return outcome(Result::Late, "no answer in time");
    std::uint32_t detailSize = 0;
    if (said->size() < qsizetype(1) + qsizetype(sizeof detailSize))
        return outcome(Result::Failed, "the portal's helper ended without an answer");
    std::memcpy(&detailSize, said->constData() + 1, sizeof detailSize);
    constexpr qsizetype detailAt = 1 + qsizetype(sizeof(std::uint32_t)); // the result, then the detail's size
    const qsizetype pictureAt = detailAt + qsizetype(detailSize);
    const auto result = Result(said->at(0));
    if (pictureAt > said->size() || result < Result::Taken || result > Result::Failed)
        return outcome(Result::Failed, "the portal's helper gave a garbled answer");
    PortalScreenshot shot = outcome(result, said->mid(detailAt, qsizetype(detailSize)).toStdString());
    if (result == Result::Taken) {
        shot.picture = QImage::fromData(said->mid(pictureAt));
        if (shot.picture.isNull())
            return outcome(Result::Failed, "the portal's file holds no picture this program can read");
    }
    return shot;
}

} // namespace hakop::platform::wayland
