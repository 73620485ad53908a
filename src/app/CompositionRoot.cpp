#include "app/CompositionRoot.h"

#include "account/AuthManager.h"
#include "app/AppState.h"
#include "app/ErrorReporter.h"
#include "app/LanguageAvailability.h"
#include "app/OnboardingManager.h"
#include "app/SettingsWriteAlert.h"
#include "app/SpeechSettings.h"
#include "common/Log.h"
#include "desktop/GlobalHotkeyManager.h"
#include "desktop/LaunchAtLoginManager.h"
#include "desktop/MenuBarManager.h"
#include "output/CursorIndicatorService.h"
#include "output/TextInsertionService.h"
#include "platform/KeyMonitor.h"
#include "platform/PlatformStatus.h"
#include "platform/SettingsSecretStore.h"
#include "platform/SyntheticKeyLog.h"
#include "platform/WindowSystem.h"
#include "platform/atspi/AtspiWindowSystem.h"
#include "platform/keyring/KeyringSecretStore.h"
#include "platform/pulse/PulseAudioEngine.h"
#include "platform/pulse/PulseMicrophoneAuthorization.h"
#include "platform/qt/QtAlertPresenter.h"
#include "platform/qt/QtPasteboard.h"
#include "platform/qt/QtStatusBar.h"
#include "platform/qt/RunningApplicationBundle.h"
#include "platform/typing/TypingBackends.h"
#include "platform/xdg/DesktopWorkspace.h"
#include "platform/xdg/FreedesktopNotifier.h"
#include "platform/xdg/XdgAutostartStore.h"
#include "speech/AudioRecordingService.h"
#include "speech/SpeechRecognitionManager.h"
#include "speech/SpeechService.h"
#include "speech/engines/SpeechEngine.h"
#include "speech/engines/pocketsphinx/PocketSphinxEngine.h"
#include "speech/engines/server/ServerEngine.h"

#include <QCoreApplication>
#include <QDBusConnection>

CompositionRoot::CompositionRoot(SessionInfo session, QObject *parent)
    : QObject(parent)
    , m_session(std::move(session))
{
    qCInfo(lcPlatform).noquote()
        << QStringLiteral("🖥️ [Platform] Session: %1").arg(m_session.describe());

    m_alerts = std::make_unique<QtAlertPresenter>();
    m_workspace = std::make_unique<DesktopWorkspace>();
    m_pasteboard = std::make_unique<QtPasteboard>();
    m_bundle = std::make_unique<RunningApplicationBundle>();
    m_windowSystem = WindowSystem::create(m_session);
    // A Wayland compositor does not say which window has the focus; the
    // applications tell screen readers, where an accessibility bus runs.
    if (m_session.isWayland()) {
        if (auto bus = AtspiWindowSystem::connectToAccessibilityBus(QDBusConnection::sessionBus()))
            m_windowSystem = std::make_unique<AtspiWindowSystem>(std::move(m_windowSystem), *bus);
        else
            qCInfo(lcPlatform).noquote()
                << "No accessibility bus: the focused window of Wayland applications is unknown";
    }
    m_notifier = std::make_unique<FreedesktopNotifier>();
    m_syntheticKeys = std::make_unique<SyntheticKeyLog>();
    m_settingsWriteAlert = std::make_unique<SettingsWriteAlert>(*m_alerts);

    // The desktop services first, in this order (sign-in, launch at login,
    // hotkey, tray item), so that they have read their settings, and sign-in
    // has restored its stored session, before launch has finished.
    std::unique_ptr<SecretStore> secrets;
    if (KeyringSecretStore::isServed(QDBusConnection::sessionBus())) {
        secrets = std::make_unique<KeyringSecretStore>();
    } else {
        qCInfo(lcAccount).noquote()
            << "No keyring answers on the session bus; the session token is kept in the "
               "settings file";
        secrets = std::make_unique<SettingsSecretStore>();
    }
    m_authManager = std::make_unique<AuthManager>(std::move(secrets));
    m_launchAtLoginManager = std::make_unique<LaunchAtLoginManager>(std::make_unique<XdgAutostartStore>());
    m_hotkeyManager = std::make_unique<GlobalHotkeyManager>(
        KeyMonitor::createSystemMonitor(m_session, *m_syntheticKeys), m_session);
    m_menuBarManager = std::make_unique<MenuBarManager>(std::make_unique<QtStatusBar>());

    // Typing: the compositor's virtual keyboard, the RemoteDesktop portal,
    // XTEST (X11, or the X11 clients of a Wayland desktop), or nothing, with
    // the reason.
    TypingSetup typing = makeTypingBackend({ m_session, *m_syntheticKeys, *m_pasteboard });
    m_typingBackendName = typing.choice.name();
    m_platformStatus = std::make_unique<PlatformStatus>();
    m_platformStatus->setTypingBackend(typing.choice.displayName());
    m_keyboard = std::move(typing.backend);
    m_textInsertion = std::make_unique<TextInsertionService>(
        *m_keyboard, *m_alerts, *m_workspace, *m_bundle, *m_windowSystem, *m_pasteboard);
    TextInsertionService *typingService = m_textInsertion.get();
    m_onboardingManager = std::make_unique<OnboardingManager>(
        [typingService] { return typingService->isAccessibilityTrusted(); },
        [typingService] { typingService->openAccessibilitySettings(); }, *m_workspace,
        QCoreApplication::applicationFilePath());
    m_cursorIndicator = std::make_unique<CursorIndicatorService>(*m_windowSystem);

    // Speech: PocketSphinx on the device, tellwind-server for the rest, both
    // fed from the sound server through libpulse.
    m_microphone = std::make_unique<PulseMicrophoneAuthorization>(PulseAudioEngine::factory());
    auto audioService
        = std::make_unique<AudioRecordingService>(PulseAudioEngine::factory(), *m_alerts, *m_workspace);
    m_speechService = std::make_unique<SpeechService>();
    m_speechService->setSessionTokenSource([auth = m_authManager.get()] { return auth->sessionToken(); });
    // The engines in the order a session falls back through them: a new
    // engine is a folder under speech/engines and a row here.
    m_engines = std::make_unique<EngineRegistry>();
    m_engines->add(pocketSphinxEngine(PocketSphinxDecoderPool::create()));
    m_engines->add(serverEngine(*m_speechService));
    m_recognitionManager
        = std::make_unique<SpeechRecognitionManager>(*m_engines, *m_microphone, std::move(audioService));

    m_appState = std::make_unique<AppState>(*m_recognitionManager, *m_cursorIndicator, *m_textInsertion);

    // What the user sees of failures, and what the settings and the picker
    // show of the speech set-up.
    m_errorReporter = std::make_unique<ErrorReporter>(*m_notifier);
    m_errorReporter->follow(*m_appState);
    connect(m_textInsertion.get(), &TextInsertionService::typingFailed, m_errorReporter.get(),
        &ErrorReporter::reportError);
    // The picker marks a language as on-device where an engine of this
    // machine serves it.
    m_languageAvailability
        = std::make_unique<LanguageAvailability>([engines = m_engines.get()](const QString &code) {
              for (const SpeechEngine &engine : engines->engines()) {
                  if (!engine.remote && engine.available(code))
                      return true;
              }
              return false;
          });
    m_languageAvailability->refresh();
    m_speechSettings = std::make_unique<SpeechSettings>();
}

CompositionRoot::~CompositionRoot()
{
    // The followers go before what they follow, the controller before the
    // services it drives.
    m_errorReporter.reset();
    m_appState.reset();
}
