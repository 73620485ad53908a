#pragma once

#include "platform/TypingBackend.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>

// Types through the desktop's RemoteDesktop portal (GNOME, KDE and wlroots
// alike), keys as keysyms so the compositor's own layout applies.
//
// One session serves the whole run: it is opened at the first dictation,
// with the permission remembered across runs by the restore token kept in
// the settings. A refused or closed session is reported once and opened
// again at the next dictation. Keys are sent without waiting for each reply;
// calls on one connection arrive in order.
class RemoteDesktopKeyboard : public QObject, public TypingBackend
{
    Q_OBJECT

public:
    static constexpr const char *restoreTokenKey = "remoteDesktopRestoreToken";

    explicit RemoteDesktopKeyboard(
        QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);
    ~RemoteDesktopKeyboard() override;

    // Whether a RemoteDesktop portal with a keyboard answers on `bus`.
    static bool isOffered(QDBusConnection bus = QDBusConnection::sessionBus());

    // Asked when a recording starts: that is when a session is opened, or
    // opened again after a refusal.
    bool isTrusted() const override;
    bool requestTrust() override;

    QCoro::Task<> prepareKeystroke() override;
    bool postKeyEvent(quint16 keyCode, bool keyDown, quint64 flags) override;

    bool typesCharacters() const override { return true; }
    bool postCharacter(const QString &character, bool keyDown) override;

    bool hasSession() const { return !m_session.isEmpty(); }
    // Key calls sent and not yet answered, and those the portal refused.
    int pendingCalls() const { return m_pending; }
    int failedCalls() const { return m_failed; }

    // What the user is told when typing is refused or ends; the default
    // sends a desktop notification.
    std::function<void(const QString &)> report;
    // A pause this long between typing runs separates two dictations: a
    // refused session is asked for again after it, never within one.
    std::chrono::milliseconds dictationGap { 3000 };

signals:
    void sessionSettled(bool open);

private slots:
    void onSessionClosed();

private:
    QCoro::Task<> openSession();
    void closeSession(const QString &session);
    void sendKeysym(quint32 keysym, bool down);
    void fail(const QString &message);

    QDBusConnection m_bus;
    QString m_session;
    bool m_opening = false;
    bool m_tried = false;
    QElapsedTimer m_idle;
    int m_pending = 0;
    int m_failed = 0;
    quint32 m_modifierDown = 0;
    QHash<quint16, quint32> m_pressed;
};
