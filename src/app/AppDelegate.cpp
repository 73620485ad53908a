#include "app/AppDelegate.h"

#include "account/AuthManager.h"
#include "account/LogRedaction.h"

#include "app/AppState.h"
#include "app/DictationNeighbours.h"
#include "app/SettingsWindow.h"
#include "common/Log.h"
#include "common/Settings.h"
#include "desktop/GlobalHotkeyManager.h"
#include "desktop/LaunchAtLoginManager.h"
#include "desktop/MenuBarManager.h"
#include "desktop/WindowPositionManager.h"
#include "platform/DesktopNotice.h"
#include "platform/WindowSystem.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPainterPath>
#include <QPointer>
#include <QQuickWindow>
#include <QRegion>
#include <QScreen>
#include <QTimer>

namespace
{

// Corner radius of the dark card the panel stands on without a compositor.
constexpr int opaqueCardRadius = 18;

QRegion roundedRegion(QSize size, int radius)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), radius, radius);
    return QRegion(path.toFillPolygon().toPolygon());
}

} // namespace

AppDelegate::AppDelegate(AppState &appState, DictationTyping &typing, WindowSystem &windowSystem,
    Services services, QObject *parent)
    : QObject(parent)
    , m_appState(&appState)
    , m_typing(typing)
    , m_windowSystem(windowSystem)
    , m_authManager(services.authManager)
    , m_launchAtLoginManager(services.launchAtLoginManager)
    , m_hotkeyManager(services.hotkeyManager)
    , m_menuBarManager(services.menuBarManager)
    , m_windowPositionManager(std::make_unique<WindowPositionManager>())
    , m_settingsWindow(services.settingsWindow)
{

    // The tray shows the real recording state whatever changed it: the
    // panel's button and the recognizer ending by itself as well as a toggle.
    connect(m_appState, &AppState::isRecordingChanged, &m_menuBarManager, &MenuBarManager::showRecordingState,
        Qt::QueuedConnection);
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching()
{
    // 1. Incoming URLs reach handleURL(); the single-instance service is
    // connected by the application before this runs.

    // 2. The Accessibility check, once the event loop runs.
    QPointer<AppDelegate> self(this);
    QTimer::singleShot(accessibilityCheckDelayMs, this, [self] {
        if (self)
            self->checkAccessibilityOnLaunch();
    });

    setupMenuBar();
    setupGlobalHotkey();
}

void AppDelegate::setupMenuBar()
{
    m_menuBarManager.createStatusItem();
    QPointer<AppDelegate> self(this);
    m_menuBarManager.onToggleRecording = [self] {
        if (self)
            self->toggleRecording();
    };
    m_menuBarManager.onShowWindow = [self] {
        if (self)
            self->showWindow();
    };
    m_menuBarManager.onChooseLanguage = [self] {
        if (self)
            self->chooseLanguage();
    };
    m_menuBarManager.onOpenSettings = [self] {
        if (self)
            self->openSettings();
    };
    m_menuBarManager.onQuit = [] { QCoreApplication::quit(); };
    qCInfo(lcApp).noquote() << QStringLiteral("📍 Menubar setup complete");
}

void AppDelegate::setupGlobalHotkey()
{
    QPointer<AppDelegate> self(this);
    m_hotkeyManager.onHotkeyPressed = [self] {
        if (self)
            self->toggleRecording();
    };
    m_hotkeyManager.start();
    qCInfo(lcApp).noquote()
        << QStringLiteral("🎹 Global hotkey setup complete (%1)").arg(m_hotkeyManager.hotkeyText());
}

void AppDelegate::applicationWillTerminate()
{
    if (m_terminated)
        return;
    m_terminated = true;
    if (m_floatingWindow)
        m_windowPositionManager->savePosition(m_floatingWindow);
    m_hotkeyManager.unregisterHotkey();
    qCInfo(lcApp).noquote() << QStringLiteral("🎹 Global hotkey manager stopped");
}

QCoro::Task<> AppDelegate::checkAccessibilityOnLaunch()
{
    if (m_typing.isAccessibilityTrusted())
        co_return;
    if (!m_typing.requestAccessibilityTrust()) {
        m_typing.setNeedsAccessibilityPermission(true);
        co_await m_typing.showAccessibilityPermissionAlert();
    }
}

QCoro::Task<> AppDelegate::toggleRecording()
{
    // The panel never asks for the focus, but a Wayland compositor without
    // Xwayland gives it to every new window: the words would then go into
    // the panel. The user can still click into the target before they are typed.
    if (!m_appState->isRecording() && m_floatingWindow
        && QGuiApplication::focusWindow() == m_floatingWindow) {
        qCInfo(lcApp) << "Dictation started while the panel has the keyboard focus";
        showDesktopNotice(tr("Click into your text first"),
            tr("Tellwind's panel has the keyboard focus. Click into the application you are dictating "
               "into, or the words cannot reach it."));
    }
    // The tray follows isRecordingChanged; the toggle itself is the
    // controller's, so every source is applied in one order.
    co_await m_appState->toggleRecording();
}

void AppDelegate::showWindow()
{
    if (!m_floatingWindow)
        return;
    // Brought to the front but never activated: the panel must not take the
    // keyboard focus from the application being dictated into.
    if (m_floatingWindow->windowStates() & Qt::WindowMinimized)
        m_floatingWindow->setWindowStates(Qt::WindowNoState);
    m_floatingWindow->show();
    m_floatingWindow->raise();
}

void AppDelegate::chooseLanguage()
{
    if (!m_floatingWindow)
        return;
    showWindow();
    if (QObject *content = m_floatingWindow->findChild<QObject *>(QStringLiteral("contentView")))
        content->setProperty("showLanguagePicker", true);
}

void AppDelegate::openSettings()
{
    if (m_settingsWindow)
        m_settingsWindow->open(m_floatingWindow);
}

void AppDelegate::configureWindow(QWindow *window)
{
    if (!window || window == m_floatingWindow)
        return;
    if (window->objectName().contains(QLatin1String("Settings")))
        return;
    qCInfo(lcApp).noquote() << QStringLiteral("🪟 Configuring main window via WindowAccessor");

    window->setFlags(
        Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
    const bool translucent = m_windowSystem.isCompositing();
    window->setProperty("translucent", translucent);
    if (auto *quickWindow = qobject_cast<QQuickWindow *>(window))
        quickWindow->setColor(translucent ? Qt::transparent : QColor(0x2a, 0x2a, 0x2f));
    if (!translucent)
        window->setMask(roundedRegion(panelSize, opaqueCardRadius));
    window->setMinimumSize(panelSize);
    window->setMaximumSize(panelSize);

    if (!Settings::boolValue(QStringLiteral("hasStoredWindowPosition"), false)) {
        QScreen *screen = QGuiApplication::primaryScreen();
        const QRect frame = screen ? screen->availableGeometry() : QRect();
        const QPoint centre
            = frame.isNull() ? QPoint(0, 0) : frame.topLeft() + QPoint(frame.width() / 2, frame.height() / 2);
        window->setGeometry(QRect(centre - QPoint(panelSize.width() / 2, panelSize.height() / 2), panelSize));
    } else {
        window->resize(panelSize);
    }
    m_windowSystem.setOnAllDesktops(window);
    m_floatingWindow = window;

    m_windowPositionManager->restorePosition(window);
    m_windowPositionManager->startObserving(window);

    qCInfo(lcApp).noquote() << QStringLiteral("✅ Window configured as floating borderless");
}

void AppDelegate::handleURL(const QUrl &url)
{
    if (!url.isValid() || url.isEmpty() || url.scheme().isEmpty())
        return;
    // A sign-in link carries the session token: never into the log.
    qCInfo(lcApp).noquote() << QStringLiteral("🔗 [App] Received URL: ") + redactedUrlText(url);
    m_authManager.handleDeepLink(url);
}
