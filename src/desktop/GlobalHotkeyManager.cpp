#include "desktop/GlobalHotkeyManager.h"

#include "common/Log.h"
#include "common/Settings.h"

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
