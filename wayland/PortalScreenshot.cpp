#include "PortalScreenshot.h"

#include "ScreenshotFile.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <QVariantMap>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <optional>

namespace hakop::platform::wayland {

const char* const allowPortalScreenshotCommand =
    "gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore "
    "--object-path /org/freedesktop/impl/portal/PermissionStore "
    "--method org.freedesktop.impl.portal.PermissionStore.SetPermission screenshot true screenshot '' \"['yes']\"";

namespace {

using Clock = std::chrono::steady_clock;
using Result = PortalScreenshot::Result;

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString storeService = QStringLiteral("org.freedesktop.impl.portal.PermissionStore");
const QString busName = QStringLiteral("hakop-portal-screenshot");

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return int(std::clamp<long long>(left, 1, 60'000));
}

// QtDBus delivers replies and signals through an event loop, which needs a
// QCoreApplication. The saver on Wayland has none, so one lives just for
// the talk with the portal, and the locale it sets is put back after.
class CoreApplicationScope {
public:
    CoreApplicationScope()
    {
        if (QCoreApplication::instance() != nullptr)
            return;
        m_locale = std::setlocale(LC_ALL, nullptr);
        m_app.emplace(m_argc, m_argv);
    }
    ~CoreApplicationScope()
    {
        if (!m_app)
            return;
        m_app.reset();
        std::setlocale(LC_ALL, m_locale.c_str());
    }
    CoreApplicationScope(const CoreApplicationScope&) = delete;
    CoreApplicationScope& operator=(const CoreApplicationScope&) = delete;

private:
    char m_name[6] = "hakop";
    char* m_argv[2] = {m_name, nullptr};
    int m_argc = 1;
    std::string m_locale;
    std::optional<QCoreApplication> m_app;
};

// One Request's Response: ends the wait when it comes.
class ResponseCatcher : public QObject {
    Q_OBJECT
public:
    explicit ResponseCatcher(QEventLoop& loop) : m_loop(loop) {}
    bool arrived = false;
    uint code = 2;
    QVariantMap results;

public slots:
    void response(uint responseCode, const QVariantMap& responseResults)
    {
        arrived = true;
        code = responseCode;
        results = responseResults;
        m_loop.quit();
    }

private:
    QEventLoop& m_loop;
};

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

PortalScreenshot screenshot(QDBusConnection& bus, Clock::time_point deadline)
{
    if (auto refused = refusedPermission(bus, deadline))
        return *refused;

    static std::atomic<unsigned> serial = 0;
    const QString token = QStringLiteral("hakop%1_%2").arg(::getpid()).arg(++serial);
    QString path = requestPath(bus.baseService(), token);
    const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
    const QString responseSignal = QStringLiteral("Response");

    QEventLoop loop;
    ResponseCatcher catcher(loop);
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
    const QDBusMessage reply = bus.call(call, QDBus::Block, remainingMs(deadline));
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

    if (!catcher.arrived && Clock::now() < deadline) {
        QTimer::singleShot(remainingMs(deadline), &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (!catcher.arrived) {
        // Withdrawn, so that no picture is taken for nobody.
        bus.call(QDBusMessage::createMethodCall(portalService, path, requestInterface, QStringLiteral("Close")),
                 QDBus::NoBlock);
        return outcome(Result::Late, "the portal's screenshot did not come in time");
    }
    if (catcher.code != 0)
        return outcome(Result::Failed, "the portal refused the screenshot (response " + std::to_string(catcher.code) + ")");
    const QString uri = catcher.results.value(QStringLiteral("uri")).toString();
    const std::optional<std::string> file = localFilePath(uri);
    if (!file)
        return outcome(Result::Failed, "the portal's screenshot is not a local file: " + uri.toStdString());
    std::string why;
    PortalScreenshot shot;
    shot.picture = takePictureFile(*file, &why);
    shot.result = shot.picture.isNull() ? Result::Failed : Result::Taken;
    shot.detail = why;
    return shot;
}

} // namespace

PortalScreenshot takePortalScreenshot(std::chrono::steady_clock::time_point deadline)
{
    CoreApplicationScope application;
    PortalScreenshot shot;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, busName);
        if (bus.isConnected())
            shot = screenshot(bus, deadline);
        else
            shot = outcome(Result::NoPortal, "no session bus: " + bus.lastError().message().toStdString());
    }
    QDBusConnection::disconnectFromBus(busName);
    return shot;
}

} // namespace hakop::platform::wayland

#include "PortalScreenshot.moc"
