#include "app/TellwindApp.h"

#include "account/AuthManager.h"
#include "app/AppDelegate.h"
#include "app/AppState.h"
#include "app/CompositionRoot.h"
#include "app/ErrorReporter.h"
#include "app/LanguageAvailability.h"
#include "app/OnboardingManager.h"
#include "app/QmlTypes.h"
#include "app/SettingsWindow.h"
#include "app/SingleInstance.h"
#include "app/SpeechSettings.h"
#include "common/Log.h"
#include "desktop/GlobalHotkeyManager.h"
#include "desktop/LaunchAtLoginManager.h"
#include "desktop/MenuBarManager.h"
#include "desktop/WindowPositionManager.h"
#include "output/TextInsertionService.h"
#include "speech/SpeechRecognitionManager.h"

#include <QCoreApplication>
#include <QPointer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QUrl>

TellwindApp::TellwindApp(SingleInstance &instance, QObject *parent)
    : QObject(parent)
    , m_instance(instance)
    , m_root(std::make_unique<CompositionRoot>())
    , m_engine(std::make_unique<QQmlApplicationEngine>())
    , m_settingsWindow(std::make_unique<SettingsWindow>(*m_engine, m_root->workspace()))
    , m_appDelegate(
          std::make_unique<AppDelegate>(m_root->appState(), m_root->textInsertion(), m_root->windowSystem(),
              AppDelegate::Services { m_root->authManager(), m_root->launchAtLoginManager(),
                  m_root->hotkeyManager(), m_root->menuBarManager(), m_settingsWindow.get() }))
{

    // The panel, the picker and the badge are a few small shapes: the
    // software renderer draws them without loading an OpenGL driver, which
    // would take more memory than all the rest of Tellwind.
    if (!qEnvironmentVariableIsSet("QT_QUICK_BACKEND"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);

    m_onboardingManager = &m_root->onboardingManager();
    provideQmlObjects(*m_engine,
        QmlObjects { .appState = &m_appDelegate->appState(),
            .errorReporter = &m_root->errorReporter(),
            .languageAvailability = &m_root->languageAvailability(),
            .speechSettings = &m_root->speechSettings(),
            .recognitionManager = &m_root->recognitionManager(),
            .launchAtLoginManager = &m_appDelegate->launchAtLoginManager(),
            .hotkeyManager = &m_root->hotkeyManager(),
            .menuBarManager = &m_root->menuBarManager(),
            .windowPositionManager = &m_appDelegate->windowPositionManager(),
            .authManager = &m_appDelegate->authManager(),
            .onboardingManager = m_onboardingManager,
            .platformStatus = &m_root->platformStatus(),
            .windowSystem = &m_root->windowSystem() });

    // Quit from the tray, the window manager's session end, SIGTERM: every
    // way out runs the termination sequence, once.
    connect(
        qApp, &QCoreApplication::aboutToQuit, m_appDelegate.get(), &AppDelegate::applicationWillTerminate);
}

TellwindApp::~TellwindApp()
{
    m_settingsWindow.reset();
    m_engine.reset();
}

QCoro::Task<> TellwindApp::terminate()
{
    // Ctrl+C in `make run` reaches Tellwind twice, from the terminal and from
    // the script ending it: a later signal must not cut the wait short, which
    // is bounded anyway.
    if (std::exchange(m_terminating, true))
        co_return;
    co_await finishTypingForQuit(m_root->textInsertion(), terminationTypingBound);
    QCoreApplication::quit();
}

QCoro::Task<bool> TellwindApp::finishTypingForQuit(
    TextInsertionService &typing, std::chrono::milliseconds bound)
{
    const bool finished = co_await typing.finishTyping(bound);
    if (finished)
        co_return true;
    // The count only: what was being typed is the user's dictation.
    qCWarning(lcApp).noquote() << QStringLiteral("⚠️ [App] Quit while typing: %1 characters not typed%2")
                                      .arg(typing.charactersLeft())
                                      .arg(typing.pendingText() ? QStringLiteral(", nor a newer transcript")
                                                                : QString());
    co_return false;
}

void TellwindApp::launch(const QStringList &urls)
{
    QPointer<AppDelegate> delegate(m_appDelegate.get());
    m_instance.setUrlHandler([delegate](const QString &text) {
        if (delegate)
            delegate->handleURL(QUrl(text, QUrl::StrictMode));
    });
    m_instance.setActivateHandler([delegate] {
        if (delegate)
            delegate->showWindow();
    });
    m_appDelegate->applicationDidFinishLaunching();
    showMainWindow();
    // After the panel: a recording started from the command line shows there.
    m_instance.setActionHandler([delegate](const QString &action) {
        if (!delegate)
            return;
        qCInfo(lcApp).noquote() << QStringLiteral("🎬 [App] Action: ") + action;
        AppState &state = delegate->appState();
        if (action == QLatin1String("toggle-recording"))
            delegate->toggleRecording();
        else if (action == QLatin1String("start-recording"))
            state.startRecording();
        else if (action == QLatin1String("stop-recording"))
            state.stopRecording();
    });
    for (const QString &url : urls)
        m_appDelegate->handleURL(QUrl(url, QUrl::StrictMode));
}

void TellwindApp::showMainWindow()
{
    m_engine->load(QUrl(QStringLiteral("qrc:/Tellwind/Views/MainWindow.qml")));
    const QList<QObject *> roots = m_engine->rootObjects();
    auto *window = roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.first());
    if (!window) {
        qCWarning(lcApp).noquote() << QStringLiteral("❌ [App] The panel could not be created");
        return;
    }
    // What the window accessor does: hand the window to the delegate, which
    // makes it the floating panel before it is first mapped.
    m_appDelegate->configureWindow(window);
    window->show();

    // The onboarding sheet shows itself while the manager says so, and goes with the panel.
    QQmlComponent onboarding(
        m_engine.get(), QUrl(QStringLiteral("qrc:/Tellwind/Views/OnboardingViewSheet.qml")));
    QObject *sheet = onboarding.createWithInitialProperties(
        { { QStringLiteral("transientParent"), QVariant::fromValue<QObject *>(window) } });
    if (sheet)
        sheet->setParent(window);
    else
        qCWarning(lcApp).noquote() << QStringLiteral("❌ [App] The onboarding could not be created: ")
                + onboarding.errorString().trimmed();
}
