#include "app/AppDelegate.h"

#include "account/AuthManager.h"
#include "account/LogRedaction.h"

#include "app/AppState.h"
#include "app/DictationNeighbours.h"
#include "common/Log.h"
#include "common/Settings.h"
#include "platform/WindowSystem.h"

#include <QGuiApplication>
#include <QPainterPath>
#include <QPointer>
#include <QQuickWindow>
#include <QRegion>
#include <QScreen>
#include <QTimer>

namespace {

// Corner radius of the dark card the panel stands on without a compositor.
constexpr int opaqueCardRadius = 18;

QRegion roundedRegion(QSize size, int radius)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), radius, radius);
    return QRegion(path.toFillPolygon().toPolygon());
}

} // namespace

AppDelegate::AppDelegate(AppState *appState, DictationTyping *typing, WindowSystem *windowSystem,
                         QObject *parent)
    : QObject(parent),
      m_ownedAppState(appState ? nullptr : std::make_unique<AppState>()),
      m_appState(appState ? appState : m_ownedAppState.get()),
      m_typing(typing ? *typing : DictationTyping::sharedTyping()),
      m_windowSystem(windowSystem ? *windowSystem : WindowSystem::shared())
{
    // Desktop integration and sign-in: fetch the shared managers here, in this
    // order (sign-in, launch at login, hotkey, tray item, panel position), so
    // that they read their settings before launch has finished.
    // The stored session is restored (and checked with the server) here.
    m_authManager = &AuthManager::shared();
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

    // 3. Tray item: fill its callbacks here.

    // 4. Global hotkey: set its callback and start it here.
}

void AppDelegate::applicationWillTerminate()
{
    if (m_terminated)
        return;
    m_terminated = true;
    // 1. Panel position: save it here.
    // 2. Global hotkey: stop it here.
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
    QPointer<AppDelegate> self(this);
    if (!m_appState->isRecording())
        co_await m_appState->startRecording();
    else
        co_await m_appState->stopRecording();
    if (!self)
        co_return;
    // Tray item: push appState().isRecording() into it here.
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

void AppDelegate::openSettings()
{
    if (openSettingsAction)
        openSettingsAction();
    // Settings: open the settings window here when no action is set.
}

void AppDelegate::configureWindow(QWindow *window)
{
    if (!window || window == m_floatingWindow)
        return;
    if (window->objectName().contains(QLatin1String("Settings")))
        return;
    logLine(QStringLiteral("🪟 Configuring main window via WindowAccessor"));

    window->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                     | Qt::WindowDoesNotAcceptFocus);
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
        const QPoint centre = frame.isNull() ? QPoint(0, 0)
                                             : frame.topLeft()
                + QPoint(frame.width() / 2, frame.height() / 2);
        window->setGeometry(QRect(centre - QPoint(panelSize.width() / 2, panelSize.height() / 2),
                                  panelSize));
    } else {
        window->resize(panelSize);
    }
    m_windowSystem.setOnAllDesktops(window);
    m_floatingWindow = window;

    // Panel position: hand the window to the position memory here.

    logLine(QStringLiteral("✅ Window configured as floating borderless"));
}

void AppDelegate::handleURL(const QUrl &url)
{
    if (!url.isValid() || url.isEmpty() || url.scheme().isEmpty())
        return;
    // A sign-in link carries the session token: never into the log.
    logLine(QStringLiteral("🔗 [App] Received URL: ") + redactedUrlText(url));
    m_authManager->handleDeepLink(url);
}
