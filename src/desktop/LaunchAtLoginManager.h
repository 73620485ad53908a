#pragma once

#include "platform/AutostartStore.h"

#include <QObject>
#include <QString>

#include <memory>

// Starts the program when the user logs in, only once the user has said so.
// Only an installed program (under /usr, /opt or ~/.local) is registered: an
// entry naming a build or download folder would start whatever happens to be
// there at the next login, or nothing.
class LaunchAtLoginManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isEnabled READ isEnabled WRITE setIsEnabled NOTIFY isEnabledChanged)
    // False where this program cannot be started at login; the reason says why.
    Q_PROPERTY(bool available READ available CONSTANT)
    Q_PROPERTY(QString unavailableReason READ unavailableReason CONSTANT)

public:
    enum Status { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };
    Q_ENUM(Status)

    // `programPath` is the running program's file unless given.
    explicit LaunchAtLoginManager(
        std::unique_ptr<AutostartStore> store, QString programPath = {}, QObject *parent = nullptr);

    bool isEnabled() const { return m_isEnabled; }
    // A different value registers or unregisters; the same value does nothing.
    void setIsEnabled(bool enabled);
    bool available() const { return m_unavailableReason.isEmpty(); }
    QString unavailableReason() const { return m_unavailableReason; }

    // What the desktop will do at the next login, read afresh.
    Q_INVOKABLE LaunchAtLoginManager::Status status() const;

signals:
    void isEnabledChanged(bool value);

private:
    void assign(bool enabled, bool isUndo);
    void setLaunchAtLogin(bool enabled, bool isUndo);

    std::unique_ptr<AutostartStore> m_store;
    QString m_unavailableReason;
    bool m_isEnabled = false;
};
