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
    : QObject(parent)
    , m_engine(engine)
    , m_workspace(workspace)
{
}

SettingsWindow::~SettingsWindow()
{
    if (QWindow *window = m_window) {
        disconnect(window, nullptr, this, nullptr);
        delete window;
    }
}

QQuickWindow *SettingsWindow::create()
{
    QQmlComponent component(&m_engine, QUrl(viewUrl));
    QObject *object = component.createWithInitialProperties(
        { { QStringLiteral("controller"), QVariant::fromValue<QObject *>(this) } });
    auto *window = qobject_cast<QQuickWindow *>(object);
    if (!window) {
        logLine(
            QStringLiteral("❌ Settings window could not be created: ") + component.errorString().trimmed());
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
    QObject *handle = window;
    connect(window, &QWindow::visibleChanged, this, [this, handle](bool visible) {
        if (visible || handle != static_cast<QObject *>(m_window.data()))
            return;
        m_window = nullptr;
        handle->deleteLater();
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
        emit windowChanged(window());
    }
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
}

void SettingsWindow::openUrl(const QString &url)
{
    const QUrl target(url, QUrl::StrictMode);
    if (!target.isValid()
        || (target.scheme() != QLatin1String("http") && target.scheme() != QLatin1String("https"))) {
        logLine(QStringLiteral("⚠️ Not opening '%1': not a web address").arg(url));
        return;
    }
    m_workspace.openUrl(target);
}
