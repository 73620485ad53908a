#pragma once

#include "app/DictationNeighbours.h"
#include "platform/SessionInfo.h"

#include <QObject>
#include <QString>

#include <memory>

class AlertPresenter;
class AppState;
class ApplicationBundle;
class TypingBackend;
class AuthManager;
class ErrorReporter;
class LanguageAvailability;
class MicrophoneAuthorization;
class Notifier;
class Pasteboard;
class PlatformStatus;
class SettingsWriteAlert;
class EngineRegistry;
class SpeechService;
class SpeechSettings;
class SyntheticKeyLog;
class WindowSystem;
class Workspace;
class CursorIndicatorService;
class GlobalHotkeyManager;
class LaunchAtLoginManager;
class MenuBarManager;
class OnboardingManager;
class SpeechRecognitionManager;
class TextInsertionService;

// The one place that builds the program: it detects the session, makes each
// platform backend (a real one, or a null one that says why it cannot work),
// and hands them to the components through their constructors. Nothing in
// the program makes a backend of its own or reaches one through a global.
class CompositionRoot : public QObject
{
    Q_OBJECT

public:
    explicit CompositionRoot(SessionInfo session = SessionInfo::current(), QObject *parent = nullptr);
    ~CompositionRoot() override;

    const SessionInfo &session() const { return m_session; }
    AppState &appState() const { return *m_appState; }
    TextInsertionService &textInsertion() const { return *m_textInsertion; }
    SpeechRecognitionManager &recognitionManager() const { return *m_recognitionManager; }
    CursorIndicatorService &cursorIndicator() const { return *m_cursorIndicator; }
    AuthManager &authManager() const { return *m_authManager; }
    LaunchAtLoginManager &launchAtLoginManager() const { return *m_launchAtLoginManager; }
    GlobalHotkeyManager &hotkeyManager() const { return *m_hotkeyManager; }
    MenuBarManager &menuBarManager() const { return *m_menuBarManager; }
    OnboardingManager &onboardingManager() const { return *m_onboardingManager; }
    ErrorReporter &errorReporter() const { return *m_errorReporter; }
    LanguageAvailability &languageAvailability() const { return *m_languageAvailability; }
    SpeechSettings &speechSettings() const { return *m_speechSettings; }
    WindowSystem &windowSystem() const { return *m_windowSystem; }
    Workspace &workspace() const { return *m_workspace; }
    PlatformStatus &platformStatus() const { return *m_platformStatus; }
    // Which backend types into other applications ("X11 (XTEST)", …).
    QString typingBackendName() const { return m_typingBackendName; }

private:
    SessionInfo m_session;

    // The platform's facilities, one each for the whole program.
    std::unique_ptr<AlertPresenter> m_alerts;
    std::unique_ptr<Workspace> m_workspace;
    std::unique_ptr<Pasteboard> m_pasteboard;
    std::unique_ptr<ApplicationBundle> m_bundle;
    std::unique_ptr<WindowSystem> m_windowSystem;
    std::unique_ptr<Notifier> m_notifier;
    std::unique_ptr<SyntheticKeyLog> m_syntheticKeys;
    std::unique_ptr<TypingBackend> m_keyboard;
    QString m_typingBackendName;
    // What the session gave the program, for the settings to show.
    std::unique_ptr<PlatformStatus> m_platformStatus;
    std::unique_ptr<MicrophoneAuthorization> m_microphone;
    std::unique_ptr<SpeechService> m_speechService;
    std::unique_ptr<EngineRegistry> m_engines;

    // Before the managers below: they write their first settings as they start.
    std::unique_ptr<SettingsWriteAlert> m_settingsWriteAlert;
    std::unique_ptr<AuthManager> m_authManager;
    std::unique_ptr<LaunchAtLoginManager> m_launchAtLoginManager;
    std::unique_ptr<GlobalHotkeyManager> m_hotkeyManager;
    std::unique_ptr<MenuBarManager> m_menuBarManager;
    std::unique_ptr<TextInsertionService> m_textInsertion;
    std::unique_ptr<OnboardingManager> m_onboardingManager;
    std::unique_ptr<CursorIndicatorService> m_cursorIndicator;
    std::unique_ptr<SpeechRecognitionManager> m_recognitionManager;
    std::unique_ptr<AppState> m_appState;
    std::unique_ptr<ErrorReporter> m_errorReporter;
    std::unique_ptr<LanguageAvailability> m_languageAvailability;
    std::unique_ptr<SpeechSettings> m_speechSettings;
};
