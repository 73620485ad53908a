#include "platform/portal/PortalRequest.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QPointer>

#include <qcoro/qcorodbuspendingcall.h>
#include <qcoro/qcorosignal.h>

#include <atomic>
#include <memory>

namespace Portal
{

QString newToken()
{
    static std::atomic<int> counter { 0 };
    return QStringLiteral("tellwind%1").arg(++counter);
}

QCoro::Task<Response> request(QDBusConnection bus, QString interface, QString method, QVariantList arguments,
    std::chrono::milliseconds timeout)
{
    const QString token = newToken();
    QVariantMap options = arguments.isEmpty() ? QVariantMap() : arguments.takeLast().toMap();
    options.insert(QStringLiteral("handle_token"), token);
    arguments << options;

    // /org/freedesktop/portal/desktop/request/SENDER/TOKEN, SENDER being our
    // unique name without the colon and with dots as underscores.
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString requestPath
        = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);

    auto listener = std::make_unique<PortalResponseListener>();
    bus.connect(QString(), requestPath, QStringLiteral("org.freedesktop.portal.Request"),
        QStringLiteral("Response"), listener.get(), SLOT(onResponse(uint, QVariantMap)));
    std::optional<Response> response;
    QObject::connect(listener.get(), &PortalResponseListener::received, listener.get(),
        [&response](uint code, const QVariantMap &results) {
            response = Response { code, results };
        });

    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(service), QString::fromLatin1(path), interface, method);
    call.setArguments(arguments);
    const QDBusMessage reply = co_await bus.asyncCall(call);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        bus.disconnect(QString(), requestPath, QStringLiteral("org.freedesktop.portal.Request"),
            QStringLiteral("Response"), listener.get(), SLOT(onResponse(uint, QVariantMap)));
        co_return Response { 2, { { QStringLiteral("error"), reply.errorMessage() } } };
    }
    // Portals older than the predictable path name their own.
    const QString actualPath = reply.arguments().value(0).value<QDBusObjectPath>().path();
    const bool elsewhere = !actualPath.isEmpty() && actualPath != requestPath;
    if (elsewhere)
        bus.connect(QString(), actualPath, QStringLiteral("org.freedesktop.portal.Request"),
            QStringLiteral("Response"), listener.get(), SLOT(onResponse(uint, QVariantMap)));
    if (!response)
        co_await qCoro(listener.get(), &PortalResponseListener::received, timeout);
    if (elsewhere)
        bus.disconnect(QString(), actualPath, QStringLiteral("org.freedesktop.portal.Request"),
            QStringLiteral("Response"), listener.get(), SLOT(onResponse(uint, QVariantMap)));
    bus.disconnect(QString(), requestPath, QStringLiteral("org.freedesktop.portal.Request"),
        QStringLiteral("Response"), listener.get(), SLOT(onResponse(uint, QVariantMap)));
    co_return response.value_or(Response { 3, {} });
}

QVariant property(QDBusConnection bus, const QString &interface, const QString &name)
{
    if (!bus.isConnected())
        return {};
    QDBusMessage get = QDBusMessage::createMethodCall(QString::fromLatin1(service), QString::fromLatin1(path),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << interface << name;
    const QDBusMessage reply = bus.call(get, QDBus::Block, 3000);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return {};
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

void closeSession(QDBusConnection bus, const QString &session)
{
    if (!session.isEmpty())
        bus.asyncCall(QDBusMessage::createMethodCall(QString::fromLatin1(service), session,
            QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Close")));
}

} // namespace Portal
