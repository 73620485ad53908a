#pragma once

#include "platform/WindowSystem.h"

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>

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

    // Where a popup of `size` goes beside `anchor`: to its right, or to its
    // left where `area` (the anchor's screen less its panels) has no room,
    // centred on it vertically, and always inside `area` when that is known.
    static QPoint besideAnchor(const QRect &anchor, const QSize &size, const QRect &area, int gap);
    // The same on the screen `anchor` is on.
    Q_INVOKABLE QPoint placeBeside(QWindow *anchor, int width, int height, int gap) const;

private:
    WindowSystem &m_windowSystem;
    WindowSystem::WindowId m_previous = 0;
    QPointer<QWindow> m_popup;
};
