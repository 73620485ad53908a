#include "desktop/LaunchAtLoginManager.h"

#include "common/Log.h"
#include "platform/ApplicationBundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

LaunchAtLoginManager::LaunchAtLoginManager(
    std::unique_ptr<AutostartStore> store, QString programPath, QObject *parent)
    : QObject(parent)
    , m_store(std::move(store))
{
    if (programPath.isEmpty())
        programPath = QCoreApplication::applicationFilePath();
    if (!ApplicationBundle::isInstalledLocation(programPath))
        m_unavailableReason
            = tr("Only an installed Tellwind can start at login (from /usr, /opt or ~/.local); this one runs "
                 "from %1.")
                  .arg(QDir::toNativeSeparators(QFileInfo(programPath).absolutePath()));
    const bool registered = m_store->status() == AutostartStore::Status::enabled;
    if (!available()) {
        // An entry left from an earlier start in a build folder would start that build at login.
        if (registered)
            m_store->unregisterApp();
        return;
    }
    m_isEnabled = registered;
    // Rewritten so that it starts this program, wherever an earlier one was installed.
    if (registered)
        m_store->registerApp();
}

LaunchAtLoginManager::Status LaunchAtLoginManager::status() const
{
    return Status(m_store->status());
}

void LaunchAtLoginManager::setIsEnabled(bool enabled)
{
    if (enabled && !available()) {
        // The switch flips back: it never shows what is not done.
        emit isEnabledChanged(m_isEnabled);
        return;
    }
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

void LaunchAtLoginManager::setLaunchAtLogin(bool enabled, bool isUndo)
{
    const std::optional<QString> error = enabled ? m_store->registerApp() : m_store->unregisterApp();
    if (!error) {
        qCInfo(lcApp).noquote() << (enabled ? QStringLiteral("✅ Launch at login enabled")
                                            : QStringLiteral("✅ Launch at login disabled"));
        return;
    }
    qCWarning(lcApp).noquote() << QStringLiteral("❌ Failed to set launch at login: ") + *error;
    // The undo is one compensating change; if that fails too, the flag stays
    // at the restored value rather than flipping back and forth.
    if (isUndo)
        return;
    QMetaObject::invokeMethod(
        this, [this, previous = !enabled] { assign(previous, true); }, Qt::QueuedConnection);
}
