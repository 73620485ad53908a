#pragma once

#include "platform/KeyMonitor.h"

#include <QObject>

class GlobalShortcutsPortal;

#include <functional>
#include <memory>
#include <optional>

// Recognises Shift + R wherever the user types and reports each press.
class GlobalHotkeyManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isEnabled READ isEnabled WRITE setIsEnabled NOTIFY isEnabledChanged)

public:
    static constexpr const char *enabledKey = "globalHotkeyEnabled";
    static constexpr const char *toggleShortcutId = "toggle-recording";
    // Produces no text in any application, unlike Shift + R.
    static constexpr const char *portalTrigger = "CTRL+ALT+D";

    explicit GlobalHotkeyManager(std::unique_ptr<KeyMonitor> keyMonitor, QObject *parent = nullptr);
    ~GlobalHotkeyManager() override;

    static GlobalHotkeyManager &shared();
    static GlobalHotkeyManager *createShared();

    bool isEnabled() const { return m_isEnabled; }
    // Every assignment applies the value and stores it, changed or not.
    void setIsEnabled(bool enabled);

    void start();
    void registerHotkey();
    void unregisterHotkey();
    void handleKeyEvent(const KeyEvent &event);

    bool hasEventMonitor() const { return m_eventMonitor.has_value(); }
    bool hasLocalEventMonitor() const { return m_localEventMonitor.has_value(); }

    std::function<void()> onHotkeyPressed;

signals:
    void isEnabledChanged(bool value);

private:
    void isEnabledDidChange();

    std::unique_ptr<KeyMonitor> m_keyMonitor;
    bool m_isEnabled = true;
    std::optional<KeyMonitor::Handle> m_eventMonitor;
    std::optional<KeyMonitor::Handle> m_localEventMonitor;
    // On Wayland the desktop watches the shortcut for us.
    std::unique_ptr<GlobalShortcutsPortal> m_shortcutsPortal;
};
