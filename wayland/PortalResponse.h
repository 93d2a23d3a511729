#pragma once
// The desktop portal's answer to one request (its Request object's Response
// signal), caught for the portal's screenshot. A class of its own because
// QtDBus delivers signals only to slots.
#include <QEventLoop>
#include <QObject>
#include <QVariantMap>

namespace hakop::platform::wayland {

// One Request's Response: ends the wait when it comes.
class PortalResponse : public QObject {
    Q_OBJECT
public:
    explicit PortalResponse(QEventLoop& loop) : m_loop(loop) {}
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

} // namespace hakop::platform::wayland
