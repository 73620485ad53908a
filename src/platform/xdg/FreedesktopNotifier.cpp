#include "platform/xdg/FreedesktopNotifier.h"

#include "common/Log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

FreedesktopNotifier::FreedesktopNotifier(QDBusConnection bus)
    : m_bus(std::move(bus))
{
}

void FreedesktopNotifier::notify(const QString &summary, const QString &body)
{
    if (!m_bus.isConnected())
        return;
    QDBusMessage call
        = QDBusMessage::createMethodCall(serviceName, objectPath, serviceName, QStringLiteral("Notify"));
    // The notification server's default time-out (-1): it knows what its
    // user wants better than we do.
    // The desktop entry lets the desktop group these under Tellwind and
    // offer the user its own per-application notification settings.
    const QVariantMap hints { { QStringLiteral("desktop-entry"), desktopEntry } };
    call << appName << quint32(0) << appIcon << summary << body << QStringList() << hints << qint32(-1);
    // Asynchronous: a wedged notification daemon must not hold up dictation.
    // The reply is only watched so that a missing service leaves a trace.
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call));
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, watcher, [](QDBusPendingCallWatcher *self) {
            const QDBusPendingReply<quint32> reply = *self;
            if (reply.isError())
                qCInfo(lcApp).noquote()
                    << QStringLiteral("ℹ️ [App] No desktop notification: %1").arg(reply.error().name());
            self->deleteLater();
        });
}
