#include "ConnectionGuard.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

namespace {

// After a rejection the client's remaining bytes are read and dropped, so
// that closing does not reset the connection before it has read the answer;
// but only while they keep coming, and never for long.
constexpr std::chrono::milliseconds lingerIdle { 2000 };
constexpr std::chrono::milliseconds lingerLimit { 30'000 };

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 400:
        return "Bad Request";
    case 408:
        return "Request Timeout";
    case 411:
        return "Length Required";
    case 413:
        return "Payload Too Large";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    }
    return "Error";
}

QByteArray errorResponse(int status, const QString &message)
{
    const QByteArray body = QJsonDocument(QJsonObject { { QStringLiteral("type"), QStringLiteral("error") },
                                                        { QStringLiteral("error"), message } })
                                .toJson(QJsonDocument::Compact);
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status)
        + "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\nConnection: close\r\n\r\n" + body;
}

// Follows one connection's requests byte by byte, without consuming them:
// the HTTP layer reads the same bytes right after.
class ConnectionWatch : public QObject
{
public:
    enum class State { idle, headers, body, handling, rejected };

    ConnectionWatch(QTcpSocket *socket, const ConnectionLimits &limits, QObject *httpLayer,
                    ConnectionGuard::RejectionLog onRejected)
        : QObject(socket), m_socket(socket), m_limits(limits), m_httpLayer(httpLayer),
          m_onRejected(std::move(onRejected))
    {
        for (QTimer *timer : { &m_stepTimer, &m_deadline, &m_keepAlive, &m_linger, &m_lingerLimit })
            timer->setSingleShot(true);
        connect(socket, &QIODevice::readyRead, this, &ConnectionWatch::onReadyRead);
        connect(socket, &QIODevice::bytesWritten, this, &ConnectionWatch::onBytesWritten);
        connect(&m_stepTimer, &QTimer::timeout, this, [this] {
            reject(408, m_state == State::headers ? QStringLiteral("Request timeout: the headers did not arrive in time")
                                                  : QStringLiteral("Request timeout: the body stopped arriving"));
        });
        connect(&m_deadline, &QTimer::timeout, this,
                [this] { reject(408, QStringLiteral("Request timeout: the request took too long to arrive")); });
        connect(&m_keepAlive, &QTimer::timeout, this, [this] { m_socket->disconnectFromHost(); });
        connect(&m_linger, &QTimer::timeout, this, [this] { m_socket->abort(); });
        connect(&m_lingerLimit, &QTimer::timeout, this, [this] { m_socket->abort(); });
        m_keepAlive.start(m_limits.keepAliveTimeout);
    }

private:
    void onReadyRead()
    {
        if (m_state == State::rejected) {
            if (m_socket->isTransactionStarted())
                m_socket->commitTransaction();
            m_socket->readAll();
            m_linger.start(lingerIdle);
            return;
        }
        const QByteArray data = m_socket->peek(m_socket->bytesAvailable());
        qsizetype offset = 0;
        while (offset < data.size() && m_state != State::rejected)
            offset = consume(data, offset);
    }

    // Takes what belongs to the current step and returns where the rest begins.
    qsizetype consume(const QByteArray &data, qsizetype offset)
    {
        switch (m_state) {
        case State::idle:
        case State::handling:
            // Blank lines between requests are allowed.
            while (offset < data.size() && (data[offset] == '\r' || data[offset] == '\n'))
                ++offset;
            if (offset < data.size())
                beginRequest();
            return offset;
        case State::headers: {
            const qsizetype before = m_header.size();
            m_header.append(data.constData() + offset, data.size() - offset);
            const qsizetype end = m_header.indexOf("\r\n\r\n", std::max<qsizetype>(0, before - 3));
            if (end < 0) {
                if (m_header.size() > m_limits.maxHeaderBytes)
                    reject(431, QStringLiteral("Request headers too large"));
                return data.size();
            }
            const qsizetype used = end + 4 - before;
            m_header.truncate(end);
            if (m_header.size() > m_limits.maxHeaderBytes) {
                reject(431, QStringLiteral("Request headers too large"));
                return data.size();
            }
            headersComplete();
            return offset + used;
        }
        case State::body: {
            const qsizetype taken = qsizetype(std::min<qint64>(m_remaining, data.size() - offset));
            m_remaining -= taken;
            m_bodyBytes += taken;
            if (m_remaining == 0)
                requestComplete();
            else
                m_stepTimer.start(m_limits.bodyIdleTimeout);
            return offset + taken;
        }
        case State::rejected:
            return data.size();
        }
        return data.size();
    }

    void beginRequest()
    {
        m_state = State::headers;
        m_header.clear();
        m_method.clear();
        m_path.clear();
        m_bodyBytes = 0;
        m_keepAlive.stop();
        m_stepTimer.start(m_limits.headerTimeout);
        m_deadline.start(m_limits.requestTimeout);
    }

    void headersComplete()
    {
        const QList<QByteArray> lines = m_header.split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/1.") || requestLine[0].isEmpty()
            || !requestLine[1].startsWith('/')) {
            reject(400, QStringLiteral("Malformed request line"));
            return;
        }
        m_method = requestLine[0];
        m_path = requestLine[1].left(requestLine[1].indexOf('?'));

        qint64 length = 0;
        bool hasLength = false;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray &line = lines[i];
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            if (name == "transfer-encoding") {
                reject(411, QStringLiteral("Length required: send the body with a Content-Length"));
                return;
            }
            if (name == "content-length") {
                bool ok = false;
                const qint64 parsed = value.toLongLong(&ok);
                if (!ok || parsed < 0 || (hasLength && parsed != length)) {
                    reject(400, QStringLiteral("Invalid Content-Length"));
                    return;
                }
                length = parsed;
                hasLength = true;
            }
        }
        if (length > m_limits.maxBodyBytes) {
            m_remaining = length;
            reject(413, QStringLiteral("Body too large: at most %1 bytes").arg(m_limits.maxBodyBytes));
            return;
        }
        m_remaining = length;
        m_state = State::body;
        if (m_remaining == 0)
            requestComplete();
        else
            m_stepTimer.start(m_limits.bodyIdleTimeout);
    }

    void requestComplete()
    {
        m_state = State::handling;
        m_stepTimer.stop();
        m_deadline.stop();
    }

    void onBytesWritten()
    {
        if (m_state == State::rejected) {
            if (m_socket->bytesToWrite() == 0 && !m_halfClosed) {
                // The client reads our answer, then sees the end of the stream;
                // whatever it still sends is read and dropped until it closes.
                ::shutdown(int(m_socket->socketDescriptor()), SHUT_WR);
                m_halfClosed = true;
            }
            return;
        }
        if (m_state == State::handling && m_socket->bytesToWrite() == 0) {
            m_state = State::idle;
            m_keepAlive.start(m_limits.keepAliveTimeout);
        }
    }

    void reject(int status, const QString &message)
    {
        if (m_state == State::rejected)
            return;
        m_state = State::rejected;
        m_stepTimer.stop();
        m_deadline.stop();
        m_keepAlive.stop();
        if (m_httpLayer)
            QObject::disconnect(m_socket, &QIODevice::readyRead, m_httpLayer, nullptr);
        if (m_onRejected)
            m_onRejected(m_method.isEmpty() ? QByteArray("-") : m_method, m_path.isEmpty() ? QByteArray("-") : m_path,
                         status, m_bodyBytes);
        m_socket->write(errorResponse(status, message));
        m_linger.start(lingerIdle);
        m_lingerLimit.start(lingerLimit);
        if (m_socket->isTransactionStarted())
            m_socket->commitTransaction();
        m_socket->readAll();
    }

    QTcpSocket *m_socket;
    const ConnectionLimits &m_limits;
    QObject *m_httpLayer;
    ConnectionGuard::RejectionLog m_onRejected;

    State m_state = State::idle;
    QByteArray m_header;
    QByteArray m_method;
    QByteArray m_path;
    qint64 m_remaining = 0;
    qint64 m_bodyBytes = 0;
    bool m_halfClosed = false;
    QTimer m_stepTimer;
    QTimer m_deadline;
    QTimer m_keepAlive;
    QTimer m_linger;
    QTimer m_lingerLimit;
};

} // namespace

ConnectionGuard::ConnectionGuard(ConnectionLimits limits, RejectionLog onRejected, QObject *parent)
    : QTcpServer(parent), m_limits(limits), m_onRejected(std::move(onRejected))
{
}

void ConnectionGuard::incomingConnection(qintptr descriptor)
{
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    if (m_connections >= m_limits.maxConnections) {
        if (m_onRejected)
            m_onRejected("-", "-", 503, 0);
        socket->write(errorResponse(503, QStringLiteral("Too many connections")));
        socket->disconnectFromHost();
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        return;
    }
    ++m_connections;
    connect(socket, &QObject::destroyed, this, [this] { --m_connections; });
    // Connected before the HTTP layer sees the socket, so the watch reads
    // every chunk first.
    new ConnectionWatch(socket, m_limits, m_httpLayer, m_onRejected);
    addPendingConnection(socket);
}
