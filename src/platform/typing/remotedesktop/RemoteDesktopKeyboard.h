#pragma once

#include "platform/TypingBackend.h"

#include <QSet>

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

// Types through the desktop's RemoteDesktop portal (GNOME, KDE and wlroots
// alike), keys as keysyms so the compositor's own layout applies.
//
// One session serves the whole run: it is opened at the first dictation,
// with the permission remembered across runs by the restore token kept in
// the settings. A refused or closed session is reported once and opened
// again at the next dictation.
//
// The portal hands each call to the compositor from a worker thread, so
// calls in flight together overtake one another: each key waits for the
// answer to the one before. The compositor silently drops a keysym its
// layout lacks, so only what the layout holds is typed as keys.
class RemoteDesktopKeyboard : public QObject, public TypingBackend
{
    Q_OBJECT

public:
    static constexpr const char *restoreTokenKey = "remoteDesktopRestoreToken";

    // Without a pasteboard, text the layout cannot type is not pasted.
    explicit RemoteDesktopKeyboard(QDBusConnection bus = QDBusConnection::sessionBus(),
        Pasteboard *pasteboard = nullptr, QObject *parent = nullptr);
    ~RemoteDesktopKeyboard() override;

    // Whether a RemoteDesktop portal with a keyboard answers on `bus`.
    static bool isOffered(QDBusConnection bus = QDBusConnection::sessionBus());

    // Asked when a recording starts: that is when a session is opened, or
    // opened again after a refusal.
    bool canSynthesizeInput() override;
    bool canType(const QString &grapheme) override;
    QCoro::Task<TypingResult> typeText(QString text) override;
    QCoro::Task<TypingResult> erase(int graphemes) override;
    QCoro::Task<TypingResult> pressKey(KeyChord chord) override;
    QCoro::Task<TypingResult> pasteText(QString text) override;

    bool hasSession() const { return !m_session.isEmpty(); }
    // Key calls the portal refused.
    int failedCalls() const { return m_failed; }

    // The keysyms the desktop's layout types without AltGr; empty when that
    // cannot be found out, and then only printable ASCII counts as typable.
    std::function<QSet<quint32>()> layoutKeysyms;
    // False where pasting through the portal is known to reach nothing.
    bool canPaste = true;

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
    // Waits for the session being opened; the failure when there is none.
    QCoro::Task<std::optional<TypingResult>> awaitSession();
    // One call, its answer awaited: true when the portal took it.
    QCoro::Task<bool> sendKeysym(quint32 keysym, bool down);
    QCoro::Task<TypingResult> stroke(quint32 keysym);
    TypingResult keyRefused() const;
    void fail(const QString &message);

    QDBusConnection m_bus;
    QString m_session;
    bool m_opening = false;
    bool m_tried = false;
    QElapsedTimer m_idle;
    int m_failed = 0;
    QString m_lastRefusal;
    // Keysyms pressed and not yet released, for the destructor.
    QList<quint32> m_down;
    Pasteboard *m_pasteboard = nullptr;
    QSet<quint32> m_layout;
    QElapsedTimer m_layoutAge;
};
