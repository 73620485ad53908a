#pragma once

#include "platform/AutostartStore.h"

#include <QObject>

#include <memory>

// Starts the program when the user logs in. The first launch ever switches it
// on; after that it follows the user's choice.
class LaunchAtLoginManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isEnabled READ isEnabled WRITE setIsEnabled NOTIFY isEnabledChanged)

public:
    enum Status { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };
    Q_ENUM(Status)

    static constexpr const char *hasSetupLaunchAtLoginKey = "hasSetupLaunchAtLogin";

    explicit LaunchAtLoginManager(std::unique_ptr<AutostartStore> store, QObject *parent = nullptr);

    bool isEnabled() const { return m_isEnabled; }
    // A different value registers or unregisters; the same value does nothing.
    void setIsEnabled(bool enabled);

    // What the desktop will do at the next login, read afresh.
    Q_INVOKABLE LaunchAtLoginManager::Status status() const;

signals:
    void isEnabledChanged(bool value);

private:
    void assign(bool enabled, bool isUndo);
    void setLaunchAtLogin(bool enabled, bool isUndo);
    void applyFirstLaunchDefault();

    std::unique_ptr<AutostartStore> m_store;
    bool m_isEnabled = false;
};
