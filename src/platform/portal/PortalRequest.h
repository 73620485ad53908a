#pragma once

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

// The Request object pattern of xdg-desktop-portal: a call returns at once
// and its outcome comes later as a Response signal on a request object whose
// path we can predict from our own token, so we listen before calling.
namespace Portal
{

inline constexpr const char *service = "org.freedesktop.portal.Desktop";
inline constexpr const char *path = "/org/freedesktop/portal/desktop";

struct Response {
    // 0 success, 1 the user cancelled, 2 anything else; 3 no answer at all.
    uint code = 2;
    QVariantMap results;
    bool ok() const { return code == 0; }
};

// A token unique in this process, for handle_token and session_handle_token.
QString newToken();

// Calls `method` on `interface` with `arguments`, whose last one is the
// options map (handle_token is added), and waits for the Response.
QCoro::Task<Response> request(QDBusConnection bus, QString interface, QString method, QVariantList arguments,
    std::chrono::milliseconds timeout);

// A property of one of the portal's interfaces, asked synchronously (only
// at start-up, to choose a backend); invalid when there is no answer.
QVariant property(QDBusConnection bus, const QString &interface, const QString &name);

// Ends a portal session without waiting for the answer.
void closeSession(QDBusConnection bus, const QString &session);

} // namespace Portal

// Receives one Response signal.
class PortalResponseListener : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
signals:
    void received(uint code, const QVariantMap &results);
public slots:
    void onResponse(uint code, const QVariantMap &results) { emit received(code, results); }
};
