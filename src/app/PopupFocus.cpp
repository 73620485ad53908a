#include "app/PopupFocus.h"

#include "app/QmlTypes.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <algorithm>

PopupFocus::PopupFocus(WindowSystem &windowSystem, QObject *parent)
    : QObject(parent)
    , m_windowSystem(windowSystem)
{
}

PopupFocus *PopupFocus::create(QQmlEngine *engine, QJSEngine *)
{
    WindowSystem *windowSystem = providedQmlObjects(engine).windowSystem;
    return windowSystem ? new PopupFocus(*windowSystem) : nullptr;
}

void PopupFocus::take(QWindow *popup)
{
    if (!popup)
        return;
    if (!m_popup)
        m_previous = m_windowSystem.focusedWindow();
    m_popup = popup;
    popup->requestActivate();
}

void PopupFocus::giveBack(QWindow *popup)
{
    if (!popup || popup != m_popup)
        return;
    m_popup.clear();
    const WindowSystem::WindowId previous = std::exchange(m_previous, 0);
    // Only while the focus is still ours (or nowhere): if the user has moved
    // on to another application meanwhile, it stays there.
    const WindowSystem::WindowId now = m_windowSystem.focusedWindow();
    const bool ours = QGuiApplication::focusWindow() != nullptr || now == 0
        || now == WindowSystem::WindowId(popup->winId());
    if (ours)
        m_windowSystem.restoreFocus(previous);
}

QPoint PopupFocus::besideAnchor(const QRect &anchor, const QSize &size, const QRect &area, int gap)
{
    int x = anchor.x() + anchor.width() + gap;
    int y = anchor.y() + (anchor.height() - size.height()) / 2;
    if (area.isEmpty())
        return { x, y };
    if (x + size.width() > area.x() + area.width())
        x = anchor.x() - gap - size.width();
    // A screen too narrow for either side still shows the whole popup, over the panel.
    x = std::max(area.x(), std::min(x, area.x() + area.width() - size.width()));
    y = std::max(area.y(), std::min(y, area.y() + area.height() - size.height()));
    return { x, y };
}

QPoint PopupFocus::placeBeside(QWindow *anchor, int width, int height, int gap) const
{
    if (!anchor)
        return {};
    const QScreen *screen = anchor->screen();
    return besideAnchor(
        anchor->geometry(), QSize(width, height), screen ? screen->availableGeometry() : QRect(), gap);
}

QPoint PopupFocus::tipPosition(
    const QRect &target, const QRect &spare, const QSize &size, const QRect &area, int gap)
{
    int x = target.center().x() + 1 - size.width() / 2;
    int y = spare.y() + spare.height() + gap;
    if (area.isEmpty())
        return { x, y };
    if (y + size.height() > area.y() + area.height())
        y = spare.y() - gap - size.height();
    x = std::max(area.x(), std::min(x, area.x() + area.width() - size.width()));
    y = std::max(area.y(), std::min(y, area.y() + area.height() - size.height()));
    return { x, y };
}

QPoint PopupFocus::placeTip(
    QWindow *window, const QRectF &target, const QRectF &spare, int width, int height, int gap) const
{
    const QScreen *screen = window ? window->screen() : nullptr;
    return tipPosition(target.toAlignedRect(), spare.toAlignedRect(), QSize(width, height),
        screen ? screen->availableGeometry() : QRect(), gap);
}
