#pragma once

#include "app/DictationNeighbours.h"
#include "platform/SessionInfo.h"

#include <QObject>
#include <QString>

#include <memory>

class AppState;
class TypingBackend;
class AuthManager;
class CursorIndicatorService;
class GlobalHotkeyManager;
class LaunchAtLoginManager;
class MenuBarManager;
class OnboardingManager;
class SpeechRecognitionManager;
class TextInsertionService;

// The one place that builds the program: it detects the session, makes each
// platform backend (a real one, or a null one that says why it cannot work),
// and hands them to the components through their constructors. The
// components' shared() accessors hand out what was made here.
class CompositionRoot : public QObject
{
    Q_OBJECT

public:
    explicit CompositionRoot(SessionInfo session = SessionInfo::current(), QObject *parent = nullptr);
    ~CompositionRoot() override;

    const SessionInfo &session() const { return m_session; }
    AppState &appState() const { return *m_appState; }
    DictationTyping &typing() const { return *m_typing; }
    TextInsertionService &textInsertion() const { return *m_textInsertion; }
    SpeechRecognitionManager &recognitionManager() const { return *m_recognitionManager; }
    CursorIndicatorService &cursorIndicator() const { return *m_cursorIndicator; }
    AuthManager &authManager() const { return *m_authManager; }
    LaunchAtLoginManager &launchAtLoginManager() const { return *m_launchAtLoginManager; }
    GlobalHotkeyManager &hotkeyManager() const { return *m_hotkeyManager; }
    MenuBarManager &menuBarManager() const { return *m_menuBarManager; }
    OnboardingManager &onboardingManager() const { return *m_onboardingManager; }
    // Which backend types into other applications, in words for the user.
    QString typingBackendName() const { return m_typingBackendName; }

private:
    SessionInfo m_session;
    QString m_typingBackendName;
    std::unique_ptr<TypingBackend> m_keyboard;
    std::unique_ptr<AuthManager> m_authManager;
    std::unique_ptr<LaunchAtLoginManager> m_launchAtLoginManager;
    std::unique_ptr<GlobalHotkeyManager> m_hotkeyManager;
    std::unique_ptr<MenuBarManager> m_menuBarManager;
    std::unique_ptr<TextInsertionService> m_textInsertion;
    std::unique_ptr<OnboardingManager> m_onboardingManager;
    std::unique_ptr<CursorIndicatorService> m_cursorIndicator;
    std::unique_ptr<SpeechRecognitionManager> m_recognitionManager;
    std::unique_ptr<DictationRecognizer> m_recognizer;
    std::unique_ptr<DictationTyping> m_typing;
    std::unique_ptr<AppState> m_appState;
};
