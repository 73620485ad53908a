#include "app/SettingsWindow.h"

#include "common/Log.h"
#include "platform/Workspace.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QScreen>
#include <QUrl>

#include <algorithm>

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
        qCWarning(lcApp).noquote() << QStringLiteral("❌ Settings window could not be created: ")
                + component.errorString().trimmed();
        delete object;
        return nullptr;
    }
    QQmlEngine::setObjectOwnership(window, QQmlEngine::CppOwnership);
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

QPoint SettingsWindow::besidePanel(
    const QRect &panel, const QSize &size, const QRect &area, const QMargins &frame)
{
    constexpr int gap = 12;
    const QSize outer = size.grownBy(frame);
    const int middleY = panel.center().y() - outer.height() / 2;
    const int middleX = panel.center().x() - outer.width() / 2;
    // Frame positions: the window's own is inside its frame.
    struct Side {
        QPoint at;
        int room;
        bool horizontal;
    };
    const Side sides[] = {
        { { panel.right() + 1 + gap, middleY }, area.right() - panel.right() - gap, true },
        { { panel.left() - gap - outer.width(), middleY }, panel.left() - area.left() - gap, true },
        { { middleX, panel.bottom() + 1 + gap }, area.bottom() - panel.bottom() - gap, false },
        { { middleX, panel.top() - gap - outer.height() }, panel.top() - area.top() - gap, false },
    };
    const Side *chosen = nullptr;
    for (const Side &side : sides) {
        if (side.room >= (side.horizontal ? outer.width() : outer.height())) {
            chosen = &side;
            break;
        }
    }
    if (!chosen) {
        chosen = &sides[0];
        for (const Side &side : sides) {
            const int spare = side.room - (side.horizontal ? outer.width() : outer.height());
            if (spare > chosen->room - (chosen->horizontal ? outer.width() : outer.height()))
                chosen = &side;
        }
    }
    QPoint at = chosen->at;
    if (!area.isEmpty()) {
        at.setX(std::max(area.left(), std::min(at.x(), area.right() + 1 - outer.width())));
        at.setY(std::max(area.top(), std::min(at.y(), area.bottom() + 1 - outer.height())));
    }
    return at + QPoint(frame.left(), frame.top());
}

void SettingsWindow::place(QWindow *panel)
{
    QQuickWindow *settings = window();
    QScreen *screen = panel ? panel->screen() : settings->screen();
    const QRect area = screen ? screen->availableGeometry() : QRect();
    if (!panel || !panel->isVisible()) {
        QRect frame(QPoint(), settings->size());
        frame.moveCenter(area.center());
        settings->setPosition(frame.topLeft());
        return;
    }
    // Before the first showing the window manager has not said how big its
    // frame is; a usual title bar and border stand in.
    QMargins frame = settings->frameMargins();
    if (frame.isNull())
        frame = QMargins(2, 32, 2, 2);
    settings->setPosition(besidePanel(panel->geometry(), settings->size(), area, frame));
}

void SettingsWindow::open(QWindow *panel)
{
    if (!m_window) {
        m_window = create();
        if (!m_window)
            return;
        place(panel);
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
        qCWarning(lcApp).noquote() << QStringLiteral("⚠️ Not opening '%1': not a web address").arg(url);
        return;
    }
    m_workspace.openUrl(target);
}
