#pragma once

#include "platform/WindowSystem.h"

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QtQmlIntegration/qqmlintegration.h>

class QJSEngine;
class QQmlEngine;
class QWindow;

// Lends keyboard focus to a popup (the language search) and returns it to
// the window that had it, usually the application the user dictates into.
class PopupFocus : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    explicit PopupFocus(WindowSystem &windowSystem, QObject *parent = nullptr);
    // One per engine, over the window system lent to it.
    static PopupFocus *create(QQmlEngine *engine, QJSEngine *);

    Q_INVOKABLE void take(QWindow *popup);
    Q_INVOKABLE void giveBack(QWindow *popup);

    // Where a popup of `size` goes beside `anchor`: to its right, or to its
    // left where `area` (the anchor's screen less its panels) has no room,
    // centred on it vertically, and always inside `area` when that is known.
    static QPoint besideAnchor(const QRect &anchor, const QSize &size, const QRect &area, int gap);
    // The same on the screen `anchor` is on.
    Q_INVOKABLE QPoint placeBeside(QWindow *anchor, int width, int height, int gap) const;

    // Where a tooltip of `size` for `target` goes: below `spare` (what it must
    // not hide: the panel's other buttons), or above it where `area` has no
    // room below, centred on the target, and inside `area` when that is known.
    static QPoint tipPosition(
        const QRect &target, const QRect &spare, const QSize &size, const QRect &area, int gap);
    // The same on the screen of `window`, which holds the target.
    Q_INVOKABLE QPoint placeTip(
        QWindow *window, const QRectF &target, const QRectF &spare, int width, int height, int gap) const;

private:
    WindowSystem &m_windowSystem;
    WindowSystem::WindowId m_previous = 0;
    QPointer<QWindow> m_popup;
};
