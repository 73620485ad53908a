#pragma once

#include "platform/Notifier.h"

#include <QDBusConnection>

// org.freedesktop.Notifications on the session bus, as every Linux desktop
// (and most notification daemons of tiling window managers) provides it.
class FreedesktopNotifier : public Notifier
{
public:
    static inline const QString serviceName = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString objectPath = QStringLiteral("/org/freedesktop/Notifications");
    static inline const QString appName = QStringLiteral("Tellwind");
    // The icon the desktop entry names, looked up in the icon theme.
    static inline const QString appIcon = QStringLiteral("tellwind");
    static inline const QString desktopEntry = QStringLiteral("tellwind");

    explicit FreedesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus());

    void notify(const QString &summary, const QString &body) override;

private:
    QDBusConnection m_bus;
};
