#pragma once

#include <QMargins>
#include <QObject>
#include <QPointer>
#include <QQuickWindow>
#include <QString>
#include <QtQmlIntegration/qqmlintegration.h>

class QQmlEngine;
class Workspace;

// The "Tellwind Settings" window: made when first asked for, brought to the
// front when asked again, and let go when the user closes it, so that the
// next opening starts fresh.
class SettingsWindow : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The application makes the settings window")

public:
    static const QString viewUrl;

    // The engine must be the one the application registered its objects in.
    SettingsWindow(QQmlEngine &engine, Workspace &workspace, QObject *parent = nullptr);
    ~SettingsWindow() override;

    // Opens beside `panel` where one is given, so that the always-on-top
    // panel never covers it.
    void open(QWindow *panel = nullptr);

    // Where a window of `size` goes beside `panel` inside `area` (the screen
    // less its panels): right of it, else left, below or above, whichever
    // holds the whole window first; where none does, the side with the most
    // room, kept inside `area`. `frame` is what the window manager adds
    // around the window: a title bar above, borders on the sides.
    static QPoint besidePanel(
        const QRect &panel, const QSize &size, const QRect &area, const QMargins &frame);
    QQuickWindow *window() const { return qobject_cast<QQuickWindow *>(m_window.data()); }

    // Opens a web page in the user's browser (the account tab's "Sign In").
    Q_INVOKABLE void openUrl(const QString &url);

signals:
    void windowChanged(QQuickWindow *window);

private:
    QQuickWindow *create();
    void place(QWindow *panel);

    QQmlEngine &m_engine;
    Workspace &m_workspace;
    // As a QWindow: it is still looked at while its QQuickWindow part is gone.
    QPointer<QWindow> m_window;
};
