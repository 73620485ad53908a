#include "app/PopupFocus.h"

#include <QGuiApplication>
#include <QWindow>

PopupFocus::PopupFocus(WindowSystem &windowSystem, QObject *parent)
    : QObject(parent), m_windowSystem(windowSystem)
{
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
