#pragma once

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QWindow>

#include <functional>
#include <memory>

#include <qcoro/qcorotask.h>

class AppState;
class AuthManager;
class DictationTyping;
class GlobalHotkeyManager;
class LaunchAtLoginManager;
class MenuBarManager;
class SettingsWindow;
class WindowPositionManager;
class WindowSystem;

// The hub of the running program: owns the dictation controller, turns the
// main window into the floating panel, and is where the desktop features
// (hotkey, tray item, login item, panel position) and sign-in plug in.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    // The panel's fixed size: the content's own 122 x 90, so nothing is cut off.
    static constexpr QSize panelSize { 122, 90 };
    static constexpr int accessibilityCheckDelayMs = 500;

    // The desktop services it plugs in, made by the composition root (or a test).
    struct Services {
        AuthManager &authManager;
        LaunchAtLoginManager &launchAtLoginManager;
        GlobalHotkeyManager &hotkeyManager;
        MenuBarManager &menuBarManager;
        // What the tray's "Settings…" opens, from launch on (none in tests that never open it).
        SettingsWindow *settingsWindow = nullptr;
    };

    AppDelegate(AppState &appState, DictationTyping &typing, WindowSystem &windowSystem, Services services,
        QObject *parent = nullptr);
    ~AppDelegate() override;

    AppState &appState() const { return *m_appState; }
    AuthManager &authManager() const { return m_authManager; }
    LaunchAtLoginManager &launchAtLoginManager() const { return m_launchAtLoginManager; }
    WindowPositionManager &windowPositionManager() const { return *m_windowPositionManager; }
    QWindow *floatingWindow() const { return m_floatingWindow; }

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    bool applicationShouldTerminateAfterLastWindowClosed() const { return false; }

    QCoro::Task<> toggleRecording();
    void showWindow();
    // The picker beside the panel, its search field focused.
    void chooseLanguage();
    void openSettings();
    void configureWindow(QWindow *window);
    // Every URL the program is asked to open (its own command line, or one
    // handed over by a second start).
    void handleURL(const QUrl &url);

private:
    QCoro::Task<> checkAccessibilityOnLaunch();
    void setupMenuBar();
    void setupGlobalHotkey();

    AppState *m_appState;
    DictationTyping &m_typing;
    WindowSystem &m_windowSystem;
    AuthManager &m_authManager;
    LaunchAtLoginManager &m_launchAtLoginManager;
    GlobalHotkeyManager &m_hotkeyManager;
    MenuBarManager &m_menuBarManager;
    std::unique_ptr<WindowPositionManager> m_windowPositionManager;
    QPointer<QWindow> m_floatingWindow;
    QPointer<SettingsWindow> m_settingsWindow;
    bool m_terminated = false;
};
