#include "app/CompositionRoot.h"

#include "account/AuthManager.h"
#include "app/AppState.h"
#include "app/OnboardingManager.h"
#include "app/SharedNeighbours.h"
#include "common/Log.h"
#include "common/Shared.h"
#include "desktop/GlobalHotkeyManager.h"
#include "desktop/LaunchAtLoginManager.h"
#include "desktop/MenuBarManager.h"
#include "output/CursorIndicatorService.h"
#include "output/TextInsertionService.h"
#include "platform/KeyMonitor.h"
#include "platform/KeyboardBackends.h"
#include "platform/WindowSystem.h"
#include "platform/pulse/PulseAudioEngine.h"
#include "platform/pulse/PulseMicrophoneAuthorization.h"
#include "platform/qt/QtAlertPresenter.h"
#include "platform/qt/QtPasteboard.h"
#include "platform/qt/QtStatusBar.h"
#include "platform/qt/RunningApplicationBundle.h"
#include "platform/xdg/DesktopWorkspace.h"
#include "platform/xdg/XdgAutostartStore.h"
#include "speech/AudioRecordingService.h"
#include "speech/PocketSphinxSpeechBackend.h"
#include "speech/SpeechRecognitionManager.h"
#include "speech/SpeechService.h"

#include <QCoreApplication>

CompositionRoot::CompositionRoot(SessionInfo session, QObject *parent)
    : QObject(parent)
    , m_session(std::move(session))
{
    logLine(lcPlatform(), QStringLiteral("🖥️ [Platform] Session: %1").arg(m_session.describe()));

    // The desktop services first, in this order (sign-in, launch at login,
    // hotkey, tray item), so that they have read their settings, and sign-in
    // has restored its stored session, before launch has finished.
    m_authManager = std::make_unique<AuthManager>();
    m_launchAtLoginManager = std::make_unique<LaunchAtLoginManager>(std::make_unique<XdgAutostartStore>());
    m_hotkeyManager = std::make_unique<GlobalHotkeyManager>(KeyMonitor::createSystemMonitor());
    m_menuBarManager = std::make_unique<MenuBarManager>(std::make_unique<QtStatusBar>());

    // Typing: the compositor's virtual keyboard, the RemoteDesktop portal,
    // XTEST (X11, or the X11 clients of a Wayland desktop), or nothing, with
    // the reason.
    KeyboardSink sink = makeKeyboardSink(m_session);
    m_typingBackendName = sink.choice.name();
    m_keyboard = std::move(sink.backend);
    TypingBackend &keyboard = *m_keyboard;
    m_textInsertion = std::make_unique<TextInsertionService>(keyboard, keyboard, QtPasteboard::shared(),
        QtAlertPresenter::shared(), DesktopWorkspace::shared(), RunningApplicationBundle::shared());
    Shared<TextInsertionService>::install(m_textInsertion.get());
    TextInsertionService *typingService = m_textInsertion.get();
    m_onboardingManager = std::make_unique<OnboardingManager>(
        [typingService] { return typingService->isAccessibilityTrusted(); },
        [typingService] { typingService->openAccessibilitySettings(); }, DesktopWorkspace::shared(),
        QCoreApplication::applicationFilePath());
    m_cursorIndicator = std::make_unique<CursorIndicatorService>(WindowSystem::shared());

    // Speech: PocketSphinx on the device, tellwind-server for the rest, both
    // fed from the sound server through libpulse.
    auto audioService = std::make_unique<AudioRecordingService>(
        PulseAudioEngine::factory(), QtAlertPresenter::shared(), DesktopWorkspace::shared());
    m_recognitionManager = std::make_unique<SpeechRecognitionManager>(PocketSphinxSpeechBackend::shared(),
        PulseMicrophoneAuthorization::shared(), std::make_unique<SpeechService>(), std::move(audioService));
    Shared<SpeechRecognitionManager>::install(m_recognitionManager.get());

    m_recognizer = std::make_unique<ManagerRecognizer>(*m_recognitionManager);
    m_typing = std::make_unique<ServiceTyping>(*m_textInsertion);
    m_appState = std::make_unique<AppState>(*m_recognizer, *m_cursorIndicator, *m_typing);
}

CompositionRoot::~CompositionRoot()
{
    // The controller goes before the services it drives.
    m_appState.reset();
    m_typing.reset();
    m_recognizer.reset();
    Shared<SpeechRecognitionManager>::install(nullptr);
    Shared<TextInsertionService>::install(nullptr);
}
