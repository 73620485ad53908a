#pragma once

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

// Shortcuts the desktop itself watches for us (org.freedesktop.portal.
// GlobalShortcuts): the user confirms or changes the trigger in the
// desktop's own dialog, and the key reaches no application.
class GlobalShortcutsPortal : public QObject
{
    Q_OBJECT

public:
    explicit GlobalShortcutsPortal(
        QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);
    ~GlobalShortcutsPortal() override;

    static bool isOffered(QDBusConnection bus = QDBusConnection::sessionBus());

    // Opens the session (once) and binds `id`; `preferredTrigger` is in the
    // portal's notation ("CTRL+ALT+d"). Gives the trigger the desktop chose,
    // as the desktop writes it for people, once the desktop has bound it;
    // nothing when it did not, or when it opened no session within
    // `sessionWait` (a desktop's backend may serve the interface and never
    // answer).
    QCoro::Task<std::optional<QString>> bind(QString id, QString description, QString preferredTrigger);

    static inline std::chrono::milliseconds sessionWait = std::chrono::seconds(10);

signals:
    void activated(const QString &id);

private slots:
    void onActivated(
        const QDBusObjectPath &session, const QString &id, qulonglong timestamp, const QVariantMap &options);

private:
    QDBusConnection m_bus;
    QString m_session;
};
