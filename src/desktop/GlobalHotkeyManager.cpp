#include "desktop/GlobalHotkeyManager.h"

#include "common/Log.h"
#include "common/Settings.h"
#include "common/Shared.h"

#include "platform/SessionInfo.h"
#include "platform/portal/GlobalShortcutsPortal.h"

#include <QCoreApplication>
#include <QPointer>

GlobalHotkeyManager::GlobalHotkeyManager(std::unique_ptr<KeyMonitor> keyMonitor, QObject *parent)
    : QObject(parent)
    , m_keyMonitor(std::move(keyMonitor))
{
    setIsEnabled(Settings::boolValue(QString::fromLatin1(enabledKey), true));
}

GlobalHotkeyManager::~GlobalHotkeyManager()
{
    unregisterHotkey();
}

GlobalHotkeyManager &GlobalHotkeyManager::shared()
{
    return Shared<GlobalHotkeyManager>::get();
}

GlobalHotkeyManager *GlobalHotkeyManager::createShared()
{
    return new GlobalHotkeyManager(KeyMonitor::createSystemMonitor());
}

void GlobalHotkeyManager::setIsEnabled(bool enabled)
{
    const bool changed = m_isEnabled != enabled;
    m_isEnabled = enabled;
    if (changed)
        emit isEnabledChanged(enabled);
    isEnabledDidChange();
}

void GlobalHotkeyManager::isEnabledDidChange()
{
    if (m_isEnabled)
        registerHotkey();
    else
        unregisterHotkey();
    Settings::setBool(QString::fromLatin1(enabledKey), m_isEnabled);
}

void GlobalHotkeyManager::start()
{
    if (!m_isEnabled)
        return;
    registerHotkey();
    logLine(QStringLiteral("🎹 Global hotkey manager started (Shift + R)"));
}

void GlobalHotkeyManager::registerHotkey()
{
    unregisterHotkey();
    QPointer<GlobalHotkeyManager> weakSelf(this);
    if (SessionInfo::current().isWayland() && GlobalShortcutsPortal::isOffered()) {
        m_shortcutsPortal = std::make_unique<GlobalShortcutsPortal>();
        connect(m_shortcutsPortal.get(), &GlobalShortcutsPortal::activated, this, [weakSelf](const QString &id) {
            if (!weakSelf || id != QLatin1String(toggleShortcutId))
                return;
            logLine(QStringLiteral("🎹 Hotkey triggered: desktop shortcut"));
            if (weakSelf->onHotkeyPressed)
                weakSelf->onHotkeyPressed();
        });
        m_shortcutsPortal->bind(QString::fromLatin1(toggleShortcutId),
                                QCoreApplication::translate("GlobalHotkeyManager", "Start or stop dictation"),
                                QString::fromLatin1(portalTrigger));
    }
    m_eventMonitor = m_keyMonitor->addGlobalMonitor([weakSelf](const KeyEvent &event) {
        if (weakSelf)
            weakSelf->handleKeyEvent(event);
    });
    m_localEventMonitor = m_keyMonitor->addLocalMonitor([weakSelf](const KeyEvent &event) {
        if (weakSelf)
            weakSelf->handleKeyEvent(event);
    });
    logLine(QStringLiteral("✅ Global hotkey registered: Shift + R"));
}

void GlobalHotkeyManager::unregisterHotkey()
{
    m_shortcutsPortal.reset();
    if (m_eventMonitor) {
        m_keyMonitor->removeMonitor(*m_eventMonitor);
        m_eventMonitor.reset();
    }
    if (m_localEventMonitor) {
        m_keyMonitor->removeMonitor(*m_localEventMonitor);
        m_localEventMonitor.reset();
    }
}

void GlobalHotkeyManager::handleKeyEvent(const KeyEvent &event)
{
    const quint32 flags = event.modifierFlags;
    const bool matches = (flags & KeyModifier::shift) && event.keyCode == KeyEvent::ansiR
        && (flags & KeyModifier::deviceIndependentMask) == KeyModifier::shift;
    if (!matches)
        return;
    logLine(QStringLiteral("🎹 Hotkey triggered: Shift + R"));
    // Never from inside the monitor: the callback may start a whole dictation.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (onHotkeyPressed)
                onHotkeyPressed();
        },
        Qt::QueuedConnection);
}
