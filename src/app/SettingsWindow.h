#pragma once

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

    void open();
    QQuickWindow *window() const { return qobject_cast<QQuickWindow *>(m_window.data()); }

    // Opens a web page in the user's browser (the account tab's "Sign In").
    Q_INVOKABLE void openUrl(const QString &url);

signals:
    void windowChanged(QQuickWindow *window);

private:
    QQuickWindow *create();

    QQmlEngine &m_engine;
    Workspace &m_workspace;
    // As a QWindow: it is still looked at while its QQuickWindow part is gone.
    QPointer<QWindow> m_window;
};
