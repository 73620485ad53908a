#include "desktop/LaunchAtLoginManager.h"

#include "common/Log.h"
#include "common/Settings.h"
#include "platform/xdg/XdgAutostartStore.h"

LaunchAtLoginManager::LaunchAtLoginManager(std::unique_ptr<AutostartStore> store, QObject *parent)
    : QObject(parent)
    , m_store(std::move(store))
{
    m_isEnabled = m_store->status() == AutostartStore::Status::enabled;
    applyFirstLaunchDefault();
}

LaunchAtLoginManager::Status LaunchAtLoginManager::status() const
{
    return Status(m_store->status());
}

void LaunchAtLoginManager::setIsEnabled(bool enabled)
{
    assign(enabled, false);
}

void LaunchAtLoginManager::assign(bool enabled, bool isUndo)
{
    if (m_isEnabled == enabled)
        return;
    m_isEnabled = enabled;
    emit isEnabledChanged(enabled);
    setLaunchAtLogin(enabled, isUndo);
}

void LaunchAtLoginManager::applyFirstLaunchDefault()
{
    const QString key = QString::fromLatin1(hasSetupLaunchAtLoginKey);
    if (Settings::boolValue(key, false))
        return;
    Settings::setBool(key, true);
    if (!m_isEnabled) {
        logLine(QStringLiteral("🚀 First launch - enabling Launch at Login by default"));
        setIsEnabled(true);
    }
}

void LaunchAtLoginManager::setLaunchAtLogin(bool enabled, bool isUndo)
{
    const std::optional<QString> error = enabled ? m_store->registerApp() : m_store->unregisterApp();
    if (!error) {
        logLine(enabled ? QStringLiteral("✅ Launch at login enabled")
                        : QStringLiteral("✅ Launch at login disabled"));
        return;
    }
    logLine(QStringLiteral("❌ Failed to set launch at login: ") + *error);
    // The undo is one compensating change; if that fails too, the flag stays
    // at the restored value rather than flipping back and forth.
    if (isUndo)
        return;
    QMetaObject::invokeMethod(
        this, [this, previous = !enabled] { assign(previous, true); }, Qt::QueuedConnection);
}
