#include "app/SingleInstance.h"

#include "common/Log.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>
#include <QVariantMap>

#include <optional>

#include <unistd.h>

namespace
{

constexpr int handOffTimeoutMs = 3000;
// The owner of the lock may not listen yet: it took the lock a moment ago.
constexpr int connectRetryMs = 20;
// One request per line on the fallback socket.
constexpr char openCommand[] = "open ";
constexpr char activateCommand[] = "activate";
constexpr char actionCommand[] = "action ";
// A peer that never finishes its line is cut off at this size.
constexpr qint64 maxRequestBytes = 64 * 1024;

} // namespace

// The standard interface desktop environments and `gapplication` speak to a
// running application.
class ApplicationAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    explicit ApplicationAdaptor(SingleInstance *instance)
        : QDBusAbstractAdaptor(instance)
        , m_instance(instance)
    {
    }

public slots:
    void Activate(const QVariantMap &platformData)
    {
        Q_UNUSED(platformData);
        m_instance->receiveActivate();
    }
    void Open(const QStringList &uris, const QVariantMap &platformData)
    {
        Q_UNUSED(platformData);
        m_instance->receiveOpen(uris);
    }
    void ActivateAction(
        const QString &actionName, const QVariantList &parameter, const QVariantMap &platformData)
    {
        Q_UNUSED(parameter);
        Q_UNUSED(platformData);
        // An unknown action just brings the panel back.
        if (SingleInstance::isKnownAction(actionName))
            m_instance->receiveAction(actionName);
        else
            m_instance->receiveActivate();
    }

private:
    SingleInstance *m_instance;
};

SingleInstance::SingleInstance(QObject *parent)
    : QObject(parent)
{
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        QLocalServer::removeServer(m_server->fullServerName());
}

QString SingleInstance::socketPath()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (base.isEmpty())
        base = QDir::tempPath() + QStringLiteral("/tellwind-") + QString::number(getuid());
    return base + QStringLiteral("/tellwind/instance");
}

bool SingleInstance::isKnownAction(const QString &action)
{
    return action == QLatin1String("toggle-recording") || action == QLatin1String("start-recording")
        || action == QLatin1String("stop-recording");
}

bool SingleInstance::claim(const QStringList &urls, const QString &action)
{
    if (QDBusConnection::sessionBus().isConnected())
        return claimOnBus(urls, action);
    return claimSocket(urls, action);
}

QDBusMessage SingleInstance::handOffCall(const QStringList &urls, const QString &action)
{
    QDBusMessage call = !action.isEmpty()
        ? QDBusMessage::createMethodCall(QString::fromLatin1(busName), QString::fromLatin1(objectPath),
            QStringLiteral("org.freedesktop.Application"), QStringLiteral("ActivateAction"))
        : urls.isEmpty()
        ? QDBusMessage::createMethodCall(QString::fromLatin1(busName), QString::fromLatin1(objectPath),
            QStringLiteral("org.freedesktop.Application"), QStringLiteral("Activate"))
        : QDBusMessage::createMethodCall(QString::fromLatin1(busName), QString::fromLatin1(objectPath),
            QStringLiteral("org.freedesktop.Application"), QStringLiteral("Open"));
    if (!action.isEmpty())
        call << action << QVariantList() << QVariantMap();
    else if (urls.isEmpty())
        call << QVariantMap();
    else
        call << urls << QVariantMap();
    return call;
}

QByteArray SingleInstance::socketRequest(const QStringList &urls, const QString &action)
{
    QByteArray request;
    for (const QString &url : urls)
        request += openCommand + url.toUtf8() + '\n';
    if (!action.isEmpty())
        request += actionCommand + action.toUtf8() + '\n';
    else if (urls.isEmpty())
        request += QByteArray(activateCommand) + '\n';
    return request;
}

bool SingleInstance::handOffToRunning(const QStringList &urls, const QString &action)
{
    // A connection of its own, closed before the GUI's application object is
    // made: the shared session connection would outlive this one.
    const QString connectionName = QStringLiteral("tellwind-hand-off");
    std::optional<bool> handedOver;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName);
        if (bus.isConnected()) {
            if (!bus.interface()->isServiceRegistered(QString::fromLatin1(busName)).value()) {
                handedOver = false;
            } else {
                const QDBusMessage answer
                    = bus.call(handOffCall(urls, action), QDBus::Block, handOffTimeoutMs);
                handedOver = answer.type() != QDBusMessage::ErrorMessage;
                if (!*handedOver)
                    qCWarning(lcApp).noquote()
                        << "Could not reach the running Tellwind:" << answer.errorMessage();
            }
        }
    }
    QDBusConnection::disconnectFromBus(connectionName);
    if (handedOver)
        return *handedOver;

    QLocalSocket peer;
    peer.connectToServer(socketPath());
    if (!peer.waitForConnected(handOffTimeoutMs))
        return false;
    peer.write(socketRequest(urls, action));
    const bool written = peer.waitForBytesWritten(handOffTimeoutMs);
    peer.disconnectFromServer();
    return written;
}

bool SingleInstance::claimOnBus(const QStringList &urls, const QString &action)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.registerObject(QString::fromLatin1(objectPath), this);
    new ApplicationAdaptor(this);
    const auto reply = bus.interface()->registerService(QString::fromLatin1(busName),
        QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered)
        return true;

    bus.unregisterObject(QString::fromLatin1(objectPath));
    const QDBusMessage call = handOffCall(urls, action);
    const QDBusMessage answer = bus.call(call, QDBus::Block, handOffTimeoutMs);
    if (answer.type() == QDBusMessage::ErrorMessage)
        qCWarning(lcApp).noquote() << QStringLiteral("❌ [App] Could not reach the running Tellwind: ")
                + answer.errorMessage();
    return false;
}

bool SingleInstance::claimSocket(const QStringList &urls, const QString &action)
{
    const QString path = socketPath();
    const QString folder = QFileInfo(path).absolutePath();
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    // Whoever holds the lock owns the socket. Checking for a listener and then
    // listening is no claim: two starts at once both find nobody, and the
    // second removes the first one's socket to put its own there.
    auto lock = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
    // Only a dead holder makes a lock stale, however long Tellwind has run.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        if (lock->error() != QLockFile::LockFailedError) {
            qCWarning(lcApp).noquote() << QStringLiteral("⚠️ [App] No single-instance lock in ") + folder;
            return true;
        }
        QLocalSocket peer;
        QDeadlineTimer deadline(handOffTimeoutMs);
        for (;;) {
            peer.connectToServer(path);
            if (peer.waitForConnected(int(deadline.remainingTime())) || deadline.hasExpired())
                break;
            // Before the event loop runs: there is nothing else to do meanwhile.
            QThread::msleep(connectRetryMs);
        }
        if (peer.state() != QLocalSocket::ConnectedState) {
            qCWarning(lcApp).noquote()
                << QStringLiteral("❌ [App] Could not reach the running Tellwind: ") + peer.errorString();
            return false;
        }
        peer.write(socketRequest(urls, action));
        peer.waitForBytesWritten(handOffTimeoutMs);
        peer.disconnectFromServer();
        return false;
    }
    m_socketLock = std::move(lock);

    // The lock is ours: whatever is left at the path is stale.
    QLocalServer::removeServer(path);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(path)) {
        qCWarning(lcApp).noquote() << QStringLiteral("⚠️ [App] No single-instance socket: ")
                + m_server->errorString();
        m_server.reset();
        return true;
    }
    connect(m_server.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                while (socket->canReadLine()) {
                    const QByteArray line = socket->readLine().trimmed();
                    if (line.startsWith(openCommand))
                        receiveOpen({ QString::fromUtf8(line.mid(qsizetype(sizeof openCommand) - 1)) });
                    else if (line == activateCommand)
                        receiveActivate();
                    else if (line.startsWith(actionCommand)) {
                        const QString action
                            = QString::fromUtf8(line.mid(qsizetype(sizeof actionCommand) - 1));
                        if (isKnownAction(action))
                            receiveAction(action);
                    }
                }
                if (socket->bytesAvailable() > maxRequestBytes)
                    socket->abort();
            });
        }
    });
    return true;
}

void SingleInstance::setUrlHandler(std::function<void(const QString &)> handler)
{
    m_urlHandler = std::move(handler);
    const QStringList pending = std::exchange(m_pendingUrls, {});
    for (const QString &url : pending)
        m_urlHandler(url);
}

void SingleInstance::setActivateHandler(std::function<void()> handler)
{
    m_activateHandler = std::move(handler);
    for (int i = std::exchange(m_pendingActivations, 0); i > 0; --i)
        m_activateHandler();
}

void SingleInstance::setActionHandler(std::function<void(const QString &)> handler)
{
    m_actionHandler = std::move(handler);
    const QStringList pending = std::exchange(m_pendingActions, {});
    for (const QString &action : pending)
        m_actionHandler(action);
}

void SingleInstance::receiveAction(const QString &action)
{
    if (m_actionHandler)
        m_actionHandler(action);
    else
        m_pendingActions << action;
}

void SingleInstance::receiveOpen(const QStringList &urls)
{
    for (const QString &url : urls) {
        if (m_urlHandler)
            m_urlHandler(url);
        else
            m_pendingUrls << url;
    }
}

void SingleInstance::receiveActivate()
{
    if (m_activateHandler)
        m_activateHandler();
    else
        ++m_pendingActivations;
}

#include "SingleInstance.moc"
