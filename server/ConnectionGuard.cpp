#include "ConnectionGuard.h"

#include <algorithm>

#include "HttpHead.h"

#include <cctype>

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

#include <sys/socket.h>
#include <unistd.h>

namespace
{

// After a rejection the client's remaining bytes are read and dropped, so
// that closing does not reset the connection before it has read the answer;
// but only while they keep coming, and never for long.
constexpr std::chrono::milliseconds lingerIdle { 2000 };
constexpr std::chrono::milliseconds lingerLimit { 30'000 };

// Reading from a client stops here until the guard has used what it holds,
// so that a client sending faster than it is served meets TCP flow control
// rather than the server's memory.
constexpr qint64 clientReadBuffer = 256 * 1024;

// Answers a client has not read yet; beyond this its pipelined requests wait.
constexpr qint64 maxUnreadAnswerBytes = 1024 * 1024;

// The application's answers are ours and small; a head larger than this is
// a fault, not something to wait for.
constexpr qsizetype maxResponseHeadBytes = 64 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 408:
        return "Request Timeout";
    case 411:
        return "Length Required";
    case 413:
        return "Payload Too Large";
    case 417:
        return "Expectation Failed";
    case 421:
        return "Misdirected Request";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    }
    return "Error";
}

QByteArray errorResponse(int status, const QString &message, const QByteArray &extraHeaders = {})
{
    const QByteArray body = QJsonDocument(
        QJsonObject { { QStringLiteral("type"), QStringLiteral("error") },
            { QStringLiteral("error"),
                message } }).toJson(QJsonDocument::Compact);
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status)
        + "\r\nContent-Type: application/json\r\nX-Content-Type-Options: nosniff\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n" + extraHeaders + "Connection: close\r\n\r\n" + body;
}

// The rate a speech upload names, when it names a usable one; the endpoint
// itself answers uploads that do not.
std::optional<qint64> sampleRate(const QByteArray &target)
{
    const qsizetype question = target.indexOf('?');
    if (question < 0)
        return std::nullopt;
    const QUrlQuery query(QString::fromLatin1(target.mid(question + 1)));
    bool ok = false;
    const qint64 rate
        = query.queryItemValue(QStringLiteral("sampleRate"), QUrl::FullyDecoded).toLongLong(&ok);
    if (!ok || rate < 1 || rate > 384'000)
        return std::nullopt;
    return rate;
}

QByteArray field(const RequestHead &request, const char *name)
{
    for (const auto &[key, value] : request.fields) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

// Paths the operator's monitoring reaches by whatever name it knows the
// machine by, so they are not held to the public host.
bool isOperationPath(const QByteArray &path)
{
    return path == "/healthz" || path == "/readyz" || path == "/metrics";
}

// A page on another site can make a browser send a request, and with the
// visitor's cookies; the API is for the program, so any sign of a browser
// sending it on another site's behalf is refused. Nothing when acceptable.
std::optional<QString> crossSiteRefusal(
    const RequestHead &request, const ConnectionLimits &limits, bool isUpload)
{
    const QByteArray site = field(request, "Sec-Fetch-Site").toLower();
    if (site == "cross-site" || site == "same-site")
        return QStringLiteral("Cross-site requests are not accepted");
    const QByteArray origin = field(request, "Origin");
    if (!origin.isEmpty()) {
        const QByteArray own = limits.publicOrigin;
        const QByteArray host = field(request, "Host").toLower();
        const QByteArray lowered = origin.toLower();
        const bool same = !own.isEmpty()
            ? lowered == own
            : !host.isEmpty() && (lowered == "http://" + host || lowered == "https://" + host);
        if (!same)
            return QStringLiteral("Cross-site requests are not accepted");
    }
    if (isUpload) {
        // A missing type is left to the Origin check above: browsers name the
        // origin of every cross-site POST, and the program names the type.
        const QByteArray type = field(request, "Content-Type").split(';').first().trimmed().toLower();
        if (!type.isEmpty() && type != "application/octet-stream")
            return QStringLiteral("Speech must be sent as application/octet-stream");
    }
    return std::nullopt;
}

// The HTTP layer's end of a connection's private stream. It reports the
// client's addresses, so the application sees who it is talking to.
class ApplicationSocket : public QTcpSocket
{
public:
    using QTcpSocket::QTcpSocket;

    bool adopt(int descriptor, const QTcpSocket &client)
    {
        if (!setSocketDescriptor(descriptor))
            return false;
        setPeerAddress(client.peerAddress());
        setPeerPort(client.peerPort());
        setLocalAddress(client.localAddress());
        setLocalPort(client.localPort());
        return true;
    }
};

} // namespace

// One client connection: reads each request strictly, passes it on to the
// HTTP layer once it is whole, and passes the answer back before reading the
// next request.
class ConnectionWatch : public QObject
{
public:
    enum class State { idle, headers, body, answering, closing, rejected };

    ConnectionWatch(ConnectionGuard &guard, QTcpSocket *client, QTcpSocket *application)
        : QObject(&guard)
        , m_guard(guard)
        , m_limits(guard.limits())
        , m_client(client)
        , m_application(application)
        , m_peer(client->peerAddress())
    {
        client->setParent(this);
        application->setParent(this);
        client->setReadBufferSize(clientReadBuffer);
        for (QTimer *timer : { &m_stepTimer, &m_deadline, &m_keepAlive, &m_linger, &m_lingerLimit })
            timer->setSingleShot(true);
        connect(client, &QIODevice::readyRead, this, &ConnectionWatch::onClientReadyRead);
        connect(client, &QIODevice::bytesWritten, this, &ConnectionWatch::onClientBytesWritten);
        connect(client, &QAbstractSocket::disconnected, this, &QObject::deleteLater);
        connect(application, &QIODevice::readyRead, this, &ConnectionWatch::onApplicationReadyRead);
        connect(application, &QAbstractSocket::disconnected, this, &ConnectionWatch::onApplicationClosed);
        connect(&m_stepTimer, &QTimer::timeout, this, [this] {
            reject(408,
                m_state == State::headers
                    ? QStringLiteral("Request timeout: the headers did not arrive in time")
                    : QStringLiteral("Request timeout: the body stopped arriving"));
        });
        connect(&m_deadline, &QTimer::timeout, this, [this] {
            if (m_state == State::answering)
                reject(500, QStringLiteral("The request could not be answered in time"));
            else
                reject(408, QStringLiteral("Request timeout: the request took too long to arrive"));
        });
        connect(&m_keepAlive, &QTimer::timeout, this, &ConnectionWatch::close);
        for (QTimer *timer : { &m_linger, &m_lingerLimit }) {
            connect(timer, &QTimer::timeout, this, [this] {
                m_client->abort();
                deleteLater();
            });
        }
        m_keepAlive.start(m_limits.keepAliveTimeout);
        m_requestClient = m_peer;
    }

    ~ConnectionWatch() override
    {
        releaseUpload();
        m_guard.forget(this);
    }

    // Whether stopping now would cut off a request or its answer.
    bool isBusy() const
    {
        return m_state == State::headers || m_state == State::body || m_state == State::answering
            || m_state == State::closing || (m_state == State::rejected && !m_halfClosed);
    }

    const QHostAddress &peer() const { return m_peer; }
    bool isIdle() const
    {
        return m_state == State::idle && m_in.isEmpty() && m_client->bytesAvailable() == 0;
    }
    void evict() { close(); }

    void giveUp()
    {
        if (m_state == State::headers || m_state == State::body || m_state == State::answering)
            reject(503, QStringLiteral("Server stopping: try again shortly"), "Retry-After: 5\r\n");
    }

    void drain()
    {
        // A request may already wait in the socket, unseen by the event loop.
        if (m_state == State::idle && m_client->bytesAvailable() == 0)
            m_client->waitForReadyRead(0);
        if (m_state == State::idle)
            close();
    }

private:
    void onClientReadyRead()
    {
        if (m_state == State::rejected) {
            m_client->readAll();
            m_linger.start(lingerIdle);
            return;
        }
        // What comes while a request is answered waits in the socket: the
        // next request is read only once this answer is out.
        if (m_state == State::answering || m_state == State::closing)
            return;
        if (m_state == State::idle) {
            readPipelined();
            return;
        }
        processInput();
    }

    // Takes from the socket only what the request being read can use: the
    // rest stays in the kernel, where TCP flow control holds the client back.
    void pull()
    {
        const qint64 wanted = m_state == State::body ? m_request.contentLength : m_limits.maxHeaderBytes + 4;
        const qint64 room = std::min(wanted - m_in.size(), m_client->bytesAvailable());
        if (room > 0)
            m_in += m_client->read(room);
    }

    void processInput()
    {
        while (m_state == State::idle || m_state == State::headers || m_state == State::body) {
            pull();
            if (m_state == State::idle) {
                // Blank lines between requests are allowed.
                qsizetype skip = 0;
                while (skip < m_in.size() && (m_in[skip] == '\r' || m_in[skip] == '\n'))
                    ++skip;
                m_in.remove(0, skip);
                if (m_in.isEmpty())
                    return;
                beginRequest();
            }
            if (m_state == State::headers) {
                const qsizetype end = m_in.indexOf("\r\n\r\n");
                // Only the head is searched: pipelined requests behind it are read in their turn.
                if (QByteArrayView(m_in).first(end < 0 ? m_in.size() : end).contains("\n\n")) {
                    reject(400, QStringLiteral("Bare CR or LF in the request head"));
                    return;
                }
                if (end < 0 ? m_in.size() > m_limits.maxHeaderBytes : end > m_limits.maxHeaderBytes) {
                    reject(431, QStringLiteral("Request headers too large"));
                    return;
                }
                if (end < 0)
                    return;
                const QByteArray head = m_in.left(end);
                m_in.remove(0, end + 4);
                headersComplete(head);
                continue;
            }
            if (m_in.size() < m_request.contentLength) {
                m_stepTimer.start(m_limits.bodyIdleTimeout);
                return;
            }
            forward();
        }
    }

    void beginRequest()
    {
        m_state = State::headers;
        m_request = {};
        m_method = "-";
        m_path = "-";
        m_started.start();
        m_requestClient = m_peer;
        m_keepAlive.stop();
        m_stepTimer.start(m_limits.headerTimeout);
        m_deadline.start(m_limits.requestTimeout);
    }

    void headersComplete(const QByteArray &head)
    {
        auto parsed = parseRequestHead(head);
        if (const auto *failure = std::get_if<HeadError>(&parsed)) {
            // What could be read still names the request in the log.
            const QList<QByteArray> words = head.left(head.indexOf('\r')).split(' ');
            if (words.size() == 3) {
                m_method = words[0].left(16);
                // Kept to what a method may hold: the rest is the sender's to forge log lines with.
                for (char &c : m_method) {
                    if (!std::isalnum(uchar(c)))
                        c = '?';
                }
                m_path = words[1].first(words[1].contains('?') ? words[1].indexOf('?') : words[1].size());
            }
            reject(failure->status, failure->message);
            return;
        }
        m_request = std::get<RequestHead>(std::move(parsed));
        m_method = m_request.method;
        m_path = m_request.path;
        m_requestClient = clientOf(m_request);
        const qint64 length = m_request.contentLength;
        if (length > m_limits.maxBodyBytes) {
            reject(413, QStringLiteral("Body too large: at most %1 bytes").arg(m_limits.maxBodyBytes));
            return;
        }
        if (!m_limits.publicHost.isEmpty() && !isOperationPath(m_request.path)
            && field(m_request, "Host").toLower() != m_limits.publicHost) {
            reject(421,
                QStringLiteral("This server answers for %1 only").arg(QLatin1String(m_limits.publicHost)));
            return;
        }
        const bool isUpload = m_request.method == "POST" && m_limits.uploadPaths.contains(m_request.path);
        if (m_request.path.startsWith("/api/")) {
            if (const auto refusal = crossSiteRefusal(m_request, m_limits, isUpload)) {
                reject(403, *refusal);
                return;
            }
        }
        if (isUpload) {
            const auto rate = sampleRate(m_request.target);
            if (rate && length > qint64(m_limits.maxUploadSeconds) * *rate * 2) {
                reject(413,
                    QStringLiteral("Upload too long: at most %1 seconds of audio")
                        .arg(m_limits.maxUploadSeconds));
                return;
            }
            if (!m_guard.acquireUpload(m_requestClient)) {
                reject(429, QStringLiteral("Too many uploads at once: wait for one to be answered"),
                    "Retry-After: 1\r\n");
                return;
            }
            m_holdsUpload = true;
            m_uploadClient = m_requestClient;
        }
        // HTTP/1.0 clients do not know interim answers.
        if (m_request.expectContinue && m_request.minorVersion == 1 && length > 0 && m_in.size() < length)
            m_client->write("HTTP/1.1 100 Continue\r\n\r\n");
        m_state = State::body;
        m_stepTimer.start(m_limits.bodyIdleTimeout);
    }

    QHostAddress clientOf(const RequestHead &request) const
    {
        const bool fromProxy = std::any_of(m_limits.trustedProxies.cbegin(), m_limits.trustedProxies.cend(),
            [this](const auto &subnet) { return m_peer.isInSubnet(subnet); });
        if (!fromProxy)
            return m_peer;
        QByteArray forwardedFor;
        for (const auto &[name, value] : request.fields) {
            if (name.compare("X-Forwarded-For", Qt::CaseInsensitive) == 0)
                forwardedFor = value;
        }
        const QHostAddress client(QString::fromLatin1(forwardedFor.split(',').constLast().trimmed()));
        return client.isNull() ? m_peer : client;
    }

    void forward()
    {
        const qint64 length = m_request.contentLength;
        // A HEAD is answered as the GET it stands for, and the body is left out on the way back.
        const QByteArray method = m_request.method == "HEAD" ? QByteArrayLiteral("GET") : m_request.method;
        m_application->write(m_request.forwarded(method) + m_in.left(length));
        m_in.remove(0, length);
        m_bodyBytes = length;
        m_state = State::answering;
        m_response.clear();
        m_responseHeadSeen = false;
        m_responseStatus = 0;
        m_stepTimer.stop();
        m_deadline.start(m_limits.responseTimeout);
    }

    bool closesAfterAnswer() const { return m_request.closeAfterReply || m_guard.isDraining(); }

    void onApplicationReadyRead()
    {
        const QByteArray data = m_application->readAll();
        if (m_state != State::answering)
            return; // nothing was asked: nowhere to send it
        m_response += data;
        processResponse();
    }

    void processResponse()
    {
        while (!m_responseHeadSeen) {
            const qsizetype end = m_response.indexOf("\r\n\r\n");
            if (end < 0) {
                if (m_response.size() > maxResponseHeadBytes)
                    reject(500, QStringLiteral("The request could not be answered"));
                return;
            }
            const QByteArray head = m_response.left(end);
            m_response.remove(0, end + 4);
            const auto parsed = parseResponseHead(head);
            if (!parsed) {
                reject(500, QStringLiteral("The request could not be answered"));
                return;
            }
            if (parsed->status < 200)
                continue; // the guard already answered any Expect itself
            m_responseHeadSeen = true;
            m_responseStatus = parsed->status;
            m_responseRemaining = parsed->bodyLength;
            // Nothing the server sends is to be read as anything but its declared type.
            QByteArray out = head + "\r\nX-Content-Type-Options: nosniff\r\n";
            if (closesAfterAnswer() || !m_responseRemaining)
                out += "Connection: close\r\n";
            m_client->write(out + "\r\n");
        }
        const bool withBody = m_request.method != "HEAD";
        if (!m_responseRemaining) {
            if (withBody)
                m_client->write(m_response);
            m_response.clear();
            return; // ends when the application closes the stream
        }
        const qint64 taken = std::min<qint64>(*m_responseRemaining, m_response.size());
        if (withBody)
            m_client->write(m_response.constData(), taken);
        m_response.remove(0, taken);
        *m_responseRemaining -= taken;
        if (*m_responseRemaining == 0)
            answered(false);
    }

    void onApplicationClosed()
    {
        if (m_state == State::answering) {
            if (m_responseHeadSeen && !m_responseRemaining) {
                answered(true);
            } else if (!m_responseHeadSeen) {
                reject(500, QStringLiteral("The request could not be answered"));
            } else {
                // Cut off half-way through a body: the client must not take it for whole.
                m_client->abort();
                deleteLater();
            }
        } else if (m_state == State::idle) {
            close();
        }
    }

    void answered(bool streamEnded)
    {
        m_deadline.stop();
        record(m_responseStatus, false);
        releaseUpload();
        m_response.clear();
        if (streamEnded || closesAfterAnswer() || !m_responseRemaining) {
            close();
            return;
        }
        m_state = State::idle;
        m_keepAlive.start(m_limits.keepAliveTimeout);
        m_guard.checkDrained();
        readPipelined();
    }

    // A request sent behind the one just answered is read now, unless the
    // client is not reading its answers: they would pile up here instead.
    void readPipelined()
    {
        if (m_state != State::idle || m_client->bytesToWrite() > maxUnreadAnswerBytes)
            return;
        processInput();
    }

    void close()
    {
        m_state = State::closing;
        m_stepTimer.stop();
        m_deadline.stop();
        m_keepAlive.stop();
        // A client that stops reading would hold the connection open forever.
        m_lingerLimit.start(lingerLimit);
        m_client->disconnectFromHost();
    }

    void onClientBytesWritten()
    {
        if (m_state == State::idle && (!m_in.isEmpty() || m_client->bytesAvailable() > 0))
            readPipelined();
        if (m_state == State::rejected && m_client->bytesToWrite() == 0 && !m_halfClosed) {
            // The client reads our answer, then sees the end of the stream;
            // whatever it still sends is read and dropped until it closes.
            ::shutdown(int(m_client->socketDescriptor()), SHUT_WR);
            m_halfClosed = true;
            m_guard.checkDrained();
        }
    }

    void reject(int status, const QString &message, const QByteArray &extraHeaders = {})
    {
        if (m_state == State::rejected)
            return;
        m_state = State::rejected;
        m_stepTimer.stop();
        m_deadline.stop();
        m_keepAlive.stop();
        releaseUpload();
        // Whatever the HTTP layer holds of this connection is dropped with its stream.
        m_application->abort();
        record(status, true);
        m_client->write(errorResponse(status, message, extraHeaders));
        m_linger.start(lingerIdle);
        m_lingerLimit.start(lingerLimit);
        m_in.clear();
        m_client->readAll();
    }

    void record(int status, bool answeredByGuard)
    {
        RequestRecord record;
        record.method = m_method.isEmpty() ? QByteArray("-") : m_method;
        record.path = m_path.isEmpty() ? QByteArray("-") : m_path;
        record.status = status;
        record.bodyBytes = answeredByGuard ? 0 : m_bodyBytes;
        record.seconds = m_started.isValid() ? double(m_started.nsecsElapsed()) / 1e9 : 0;
        record.client = m_requestClient;
        record.answeredByGuard = answeredByGuard;
        Q_EMIT m_guard.requestFinished(record);
    }

    void releaseUpload()
    {
        if (m_holdsUpload) {
            m_holdsUpload = false;
            m_guard.releaseUpload(m_uploadClient);
        }
    }

    ConnectionGuard &m_guard;
    const ConnectionLimits &m_limits;
    QTcpSocket *m_client;
    QTcpSocket *m_application;
    // Kept apart: the socket forgets it once disconnected.
    const QHostAddress m_peer;

    State m_state = State::idle;
    QByteArray m_in;
    RequestHead m_request;
    QByteArray m_method;
    QByteArray m_path;
    qint64 m_bodyBytes = 0;
    QHostAddress m_requestClient;
    bool m_holdsUpload = false;
    QHostAddress m_uploadClient;
    QElapsedTimer m_started;

    QByteArray m_response;
    bool m_responseHeadSeen = false;
    int m_responseStatus = 0;
    std::optional<qint64> m_responseRemaining;

    bool m_halfClosed = false;
    QTimer m_stepTimer;
    QTimer m_deadline;
    QTimer m_keepAlive;
    QTimer m_linger;
    QTimer m_lingerLimit;
};

ConnectionGuard::ConnectionGuard(ConnectionLimits limits, QObject *parent)
    : QTcpServer(parent)
    , m_limits(std::move(limits))
{
}

ConnectionGuard::~ConnectionGuard()
{
    // The watches are children and would otherwise call back into a half-destroyed guard.
    const QSet<ConnectionWatch *> watches = std::exchange(m_watches, {});
    for (ConnectionWatch *watch : watches) {
        watch->disconnect();
        delete watch;
    }
}

void ConnectionGuard::incomingConnection(qintptr descriptor)
{
    auto *client = new QTcpSocket(this);
    if (!client->setSocketDescriptor(descriptor)) {
        delete client;
        return;
    }
    const auto turnAway = [this, client](const QString &message) {
        RequestRecord record { "-", "-", 503, 0, 0, client->peerAddress(), true };
        Q_EMIT requestFinished(record);
        connect(client, &QAbstractSocket::disconnected, client, &QObject::deleteLater);
        client->write(errorResponse(503, message));
        client->disconnectFromHost();
    };
    if (m_draining) {
        turnAway(QStringLiteral("Server stopping: try again shortly"));
        return;
    }
    const QHostAddress peer = client->peerAddress();
    if (!isTrustedProxy(peer) && m_connectionsByPeer.value(peer) >= m_limits.maxConnectionsPerClient) {
        turnAway(QStringLiteral("Too many connections from your address"));
        return;
    }
    if (m_watches.size() >= m_limits.maxConnections) {
        // An idle kept-alive connection gives way to one that has something to ask.
        const auto idle = std::find_if(m_watches.cbegin(), m_watches.cend(),
            [](const ConnectionWatch *watch) { return watch->isIdle(); });
        if (idle == m_watches.cend()) {
            turnAway(QStringLiteral("Too many connections"));
            return;
        }
        (*idle)->evict();
    }
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        turnAway(QStringLiteral("Server busy: try again shortly"));
        return;
    }
    auto *ours = new QTcpSocket(this);
    auto *theirs = new ApplicationSocket(this);
    if (!ours->setSocketDescriptor(ends[0]) || !theirs->adopt(ends[1], *client)) {
        delete ours;
        delete theirs;
        ::close(ends[0]);
        ::close(ends[1]);
        turnAway(QStringLiteral("Server busy: try again shortly"));
        return;
    }
    m_watches.insert(new ConnectionWatch(*this, client, ours));
    ++m_connectionsByPeer[peer];
    addPendingConnection(theirs);
}

bool ConnectionGuard::acquireUpload(const QHostAddress &client)
{
    int &count = m_uploadsByClient[client];
    if (count >= m_limits.maxUploadsPerClient) {
        if (count == 0)
            m_uploadsByClient.remove(client);
        return false;
    }
    ++count;
    ++m_uploads;
    return true;
}

void ConnectionGuard::releaseUpload(const QHostAddress &client)
{
    const auto it = m_uploadsByClient.find(client);
    if (it == m_uploadsByClient.end())
        return;
    --m_uploads;
    if (--it.value() <= 0)
        m_uploadsByClient.erase(it);
}

bool ConnectionGuard::isTrustedProxy(const QHostAddress &address) const
{
    return std::any_of(m_limits.trustedProxies.cbegin(), m_limits.trustedProxies.cend(),
        [&address](const auto &subnet) { return address.isInSubnet(subnet); });
}

void ConnectionGuard::forget(ConnectionWatch *watch)
{
    if (!m_watches.remove(watch))
        return;
    if (const auto it = m_connectionsByPeer.find(watch->peer()); it != m_connectionsByPeer.end()) {
        if (--it.value() <= 0)
            m_connectionsByPeer.erase(it);
    }
    checkDrained();
}

void ConnectionGuard::answerRemaining()
{
    const QSet<ConnectionWatch *> watches = m_watches;
    for (ConnectionWatch *watch : watches)
        watch->giveUp();
    checkDrained();
}

void ConnectionGuard::drain()
{
    // Connections the kernel has completed but nobody accepted yet would be
    // reset by closing the listening socket, requests and all.
    bool timedOut = false;
    for (int i = 0; i < m_limits.maxConnections && waitForNewConnection(0, &timedOut) && !timedOut; ++i) { }
    m_draining = true;
    close();
    const QSet<ConnectionWatch *> watches = m_watches;
    for (ConnectionWatch *watch : watches)
        watch->drain();
    checkDrained();
}

void ConnectionGuard::checkDrained()
{
    if (!m_draining || m_drainedSignalled)
        return;
    if (std::any_of(m_watches.cbegin(), m_watches.cend(),
            [](const ConnectionWatch *watch) { return watch->isBusy(); }))
        return;
    m_drainedSignalled = true;
    Q_EMIT drained();
}
