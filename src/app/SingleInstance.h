#pragma once

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

class QDBusMessage;
class QLocalServer;
class QLockFile;

// One Tellwind per session. The first process owns a well-known name on the
// session bus and answers org.freedesktop.Application there; a later start
// hands its URLs (or a plain "activate") to it and ends. Without a session
// bus a user-only local socket under $XDG_RUNTIME_DIR does the same; a lock
// file beside it decides which of two starts at once owns it.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *busName = "com.tellwind.Tellwind";
    static constexpr const char *objectPath = "/com/tellwind/Tellwind";

    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // Becomes the instance (true), or hands `urls` (or `action`) to the
    // running one (false, the caller should end). Also false when the running
    // one cannot be reached and the name cannot be had either.
    bool claim(const QStringList &urls, const QString &action = {});

    // Hands `urls` (or `action`) to a Tellwind already running in this
    // session and answers true, or false when none answers. Needs only a
    // QCoreApplication: it is how the command line reaches the running
    // program without a display. Takes no claim; a start that finds nobody
    // still goes through claim().
    static bool handOffToRunning(const QStringList &urls, const QString &action);

    // Received requests are held until their handler is set.
    void setUrlHandler(std::function<void(const QString &)> handler);
    void setActivateHandler(std::function<void()> handler);
    void setActionHandler(std::function<void(const QString &)> handler);

    static bool isKnownAction(const QString &action);

    // Where the fallback socket lives.
    static QString socketPath();

    // Called by the bus adaptor and the socket.
    void receiveOpen(const QStringList &urls);
    void receiveActivate();
    void receiveAction(const QString &action);

private:
    bool claimOnBus(const QStringList &urls, const QString &action);
    bool claimSocket(const QStringList &urls, const QString &action);
    static QDBusMessage handOffCall(const QStringList &urls, const QString &action);
    static QByteArray socketRequest(const QStringList &urls, const QString &action);

    std::function<void(const QString &)> m_urlHandler;
    std::function<void()> m_activateHandler;
    std::function<void(const QString &)> m_actionHandler;
    QStringList m_pendingActions;
    QStringList m_pendingUrls;
    int m_pendingActivations = 0;
    std::unique_ptr<QLockFile> m_socketLock;
    std::unique_ptr<QLocalServer> m_server;
};
