#pragma once

#include "platform/KeyMonitor.h"
#include "platform/SessionInfo.h"

#include <QObject>

#include <qcoro/qcorotask.h>

class GlobalShortcutsPortal;
class X11HotkeyGrab;

#include <functional>
#include <memory>
#include <optional>

// Recognises the shortcut wherever the user types and reports each press:
// grabbed from every application on X11 (watched, for Shift + R), bound by
// the desktop's shortcut portal on Wayland.
class GlobalHotkeyManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isEnabled READ isEnabled WRITE setIsEnabled NOTIFY isEnabledChanged)
    Q_PROPERTY(QString hotkeyText READ hotkeyText NOTIFY hotkeyChanged)
    Q_PROPERTY(bool isShiftR READ isShiftR NOTIFY hotkeyChanged)
    // What the user must know about how this desktop took the shortcut;
    // empty where Tellwind takes it itself (X11).
    Q_PROPERTY(QString shortcutNote READ shortcutNote NOTIFY hotkeyChanged)

public:
    static constexpr const char *enabledKey = "globalHotkeyEnabled";
    static constexpr const char *toggleShortcutId = "toggle-recording";
    // Produces no text in any application, unlike Shift + R.
    static constexpr const char *portalTrigger = "CTRL+ALT+d";

    // On a Wayland `session` the desktop's shortcut portal stands in for the
    // key monitor and for key grabs.
    explicit GlobalHotkeyManager(std::unique_ptr<KeyMonitor> keyMonitor,
        SessionInfo session = SessionInfo::current(), QObject *parent = nullptr);
    ~GlobalHotkeyManager() override;

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

    // The shortcut in use, for people ("Shift + R", "Ctrl+Alt+D"): on
    // Wayland the trigger the desktop chose.
    QString hotkeyText() const;
    QString shortcutNote() const;

    enum class DesktopBinding { none, pending, bound, unavailable };
    DesktopBinding desktopBinding() const { return m_desktopBinding; }
    bool isShiftR() const;
    // A key the user pressed in the recorder (Qt key and modifiers). False,
    // and nothing stored, for one that cannot serve: a modifier alone, or a
    // key without Ctrl, Alt or Super other than Shift + R.
    Q_INVOKABLE bool recordHotkey(int key, int modifiers);
    // Chooses Shift + R (the settings' "Use Shift + R").
    Q_INVOKABLE void resetHotkey();

signals:
    void isEnabledChanged(bool value);
    void hotkeyChanged();

private:
    void isEnabledDidChange();
    QCoro::Task<> bindThroughDesktop(QString trigger);
    void setDesktopBinding(DesktopBinding binding, const QString &trigger = {});

    std::unique_ptr<KeyMonitor> m_keyMonitor;
    SessionInfo m_session;
    bool m_isEnabled = true;
    std::optional<KeyMonitor::Handle> m_eventMonitor;
    std::optional<KeyMonitor::Handle> m_localEventMonitor;
    // On Wayland the desktop watches the shortcut for us.
    std::unique_ptr<GlobalShortcutsPortal> m_shortcutsPortal;
    // On X11 a shortcut with Ctrl, Alt or Super is taken from every application.
    std::unique_ptr<X11HotkeyGrab> m_grab;
    DesktopBinding m_desktopBinding = DesktopBinding::none;
    QString m_desktopTrigger;
};
