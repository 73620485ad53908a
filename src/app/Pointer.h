#pragma once

#include <QCursor>
#include <QObject>
#include <QtQmlIntegration/qqmlintegration.h>

// Where the pointer is on the screen now, for views that move their window
// by hand: a mouse event's position is relative to the window as it stood
// when the event was made, which lags behind a window being moved.
class Pointer : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    Q_INVOKABLE QPoint globalPosition() const { return QCursor::pos(); }
};
