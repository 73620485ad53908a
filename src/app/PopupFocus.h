#pragma once

#include "platform/WindowSystem.h"

#include <QObject>
#include <QPointer>

class QWindow;

// Lends keyboard focus to a popup (the language search) and returns it to
// the window that had it, usually the application the user dictates into.
class PopupFocus : public QObject
{
    Q_OBJECT

public:
    explicit PopupFocus(WindowSystem &windowSystem, QObject *parent = nullptr);

    Q_INVOKABLE void take(QWindow *popup);
    Q_INVOKABLE void giveBack(QWindow *popup);

private:
    WindowSystem &m_windowSystem;
    WindowSystem::WindowId m_previous = 0;
    QPointer<QWindow> m_popup;
};
