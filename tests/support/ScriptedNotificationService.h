#pragma once

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

// The desktop's notification daemon: records every Notify call, on a bus connection of its own so
// that the program's calls really travel through the bus.
class ScriptedNotificationService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call {
        QString appName, appIcon, summary, body;
        QVariantMap hints;
    };
    QList<Call> calls;

    // On the test's session bus, or on the bus at `address`.
    explicit ScriptedNotificationService(const QString &address = QString())
        : m_bus(address.isEmpty()
                ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, "scripted-notifications")
                : QDBusConnection::connectToBus(address, "scripted-notifications"))
    {
        m_bus.registerObject("/org/freedesktop/Notifications", this, QDBusConnection::ExportAllSlots);
        m_registered = m_bus.registerService("org.freedesktop.Notifications");
    }
    ~ScriptedNotificationService() override
    {
        m_bus.unregisterService("org.freedesktop.Notifications");
        m_bus.unregisterObject("/org/freedesktop/Notifications");
        QDBusConnection::disconnectFromBus(m_bus.name());
    }

    bool isRegistered() const { return m_registered; }

public slots:
    uint Notify(const QString &appName, uint, const QString &appIcon, const QString &summary,
        const QString &body, const QStringList &, const QVariantMap &hints, int)
    {
        calls.append({ appName, appIcon, summary, body, hints });
        return uint(calls.size());
    }

private:
    QDBusConnection m_bus;
    bool m_registered = false;
};
