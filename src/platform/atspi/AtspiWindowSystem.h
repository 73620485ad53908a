#pragma once

#include "platform/WindowSystem.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class QDBusMessage;
class QDBusServiceWatcher;

// Which window has the keyboard focus where the display server will not say
// (a Wayland compositor tells only the focused client): applications announce
// their windows' activation on the accessibility bus, as they do for screen
// readers. A window that is not accessible (or whose toolkit keeps its
// accessibility off) is never named: while it has the focus, the focused
// window is unknown (0), as it is without this backend. Whatever the X
// display (Xwayland) tells about its own clients comes first, and everything
// else is the session's window system's.
class AtspiWindowSystem : public QObject, public WindowSystem
{
    Q_OBJECT

public:
    // The accessibility bus the session bus names, if one answers; `timeoutMs`
    // bounds the start of its launcher.
    static std::optional<QDBusConnection> connectToAccessibilityBus(
        const QDBusConnection &sessionBus, int timeoutMs = 2000);

    AtspiWindowSystem(
        std::unique_ptr<WindowSystem> windows, QDBusConnection accessibilityBus, QObject *parent = nullptr);
    ~AtspiWindowSystem() override;

    bool isCompositing() const override { return m_windows->isCompositing(); }
    void setOnAllDesktops(QWindow *window) override { m_windows->setOnAllDesktops(window); }
    WindowId focusedWindow() const override;
    void restoreFocus(WindowId window) override { m_windows->restoreFocus(window); }
    bool knowsPointerPosition() const override { return m_windows->knowsPointerPosition(); }

private Q_SLOTS:
    void windowActivated(const QDBusMessage &message);
    void windowDeactivated(const QDBusMessage &message);
    void stateChanged(const QDBusMessage &message);

private:
    void setActive(const QString &application, const QString &path, bool active);

    std::unique_ptr<WindowSystem> m_windows;
    QDBusConnection m_bus;
    // The active accessible window and the application that owns it; a
    // window whose application left the bus has no focus any more.
    WindowId m_active = 0;
    QDBusServiceWatcher *m_applicationWatcher = nullptr;
};
