#include "app/SettingsWindow.h"

#include "common/Log.h"
#include "platform/Workspace.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QScreen>
#include <QUrl>

const QString SettingsWindow::viewUrl = QStringLiteral("qrc:/Tellwind/Views/SettingsView.qml");

SettingsWindow::SettingsWindow(QQmlEngine &engine, Workspace &workspace, QObject *parent)
    : QObject(parent), m_engine(engine), m_workspace(workspace)
{
}

SettingsWindow::~SettingsWindow()
{
    delete m_window.data();
}

QQuickWindow *SettingsWindow::create()
{
    QQmlComponent component(&m_engine, QUrl(viewUrl));
    QObject *object = component.createWithInitialProperties({{QStringLiteral("controller"), QVariant::fromValue<QObject *>(this)}});
    auto *window = qobject_cast<QQuickWindow *>(object);
    if (!window) {
        logLine(QStringLiteral("❌ Settings window could not be created: ") + component.errorString().trimmed());
        delete object;
        return nullptr;
    }
    QQmlEngine::setObjectOwnership(window, QQmlEngine::CppOwnership);
    if (QScreen *screen = window->screen()) {
        QRect frame(QPoint(), window->size());
        frame.moveCenter(screen->availableGeometry().center());
        window->setPosition(frame.topLeft());
    }
    // Closed is gone: the next opening builds every tab anew.
    connect(window, &QWindow::visibleChanged, this, [this, window](bool visible) {
        if (visible || window != m_window)
            return;
        m_window = nullptr;
        window->deleteLater();
        emit windowChanged(nullptr);
    });
    return window;
}

void SettingsWindow::open()
{
    if (!m_window) {
        m_window = create();
        if (!m_window)
            return;
        emit windowChanged(m_window);
    }
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
}

void SettingsWindow::openUrl(const QString &url)
{
    const QUrl target(url, QUrl::StrictMode);
    if (!target.isValid() || (target.scheme() != QLatin1String("http") && target.scheme() != QLatin1String("https"))) {
        logLine(QStringLiteral("⚠️ Not opening '%1': not a web address").arg(url));
        return;
    }
    m_workspace.openUrl(target);
}
