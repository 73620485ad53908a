#include "PlainHttpExchange.h"

#include <QMetaObject>

namespace
{

// Far more than any real answer's head; a peer sending more is not one.
constexpr qsizetype maxHeadBytes = 64 * 1024;

} // namespace

PlainHttpExchange::PlainHttpExchange(const QString &host, quint16 port, QByteArray request,
    std::chrono::milliseconds timeout, qint64 maxBodyBytes, QObject *parent)
    : QObject(parent)
    , m_request(std::move(request))
    , m_maxBodyBytes(maxBodyBytes)
{
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        m_answer.timedOut = true;
        finish();
    });
    connect(&m_socket, &QTcpSocket::connected, this, [this] {
        m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_socket.write(m_request);
        m_request.clear();
    });
    connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
        m_received += m_socket.readAll();
        if (parse(false))
            finish();
    });
    connect(&m_socket, &QTcpSocket::disconnected, this, [this] {
        m_received += m_socket.readAll();
        parse(true);
        finish();
    });
    connect(&m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        // A peer that closes after its answer ends the exchange through
        // `disconnected`, where the answer is read.
        if (error != QAbstractSocket::RemoteHostClosedError)
            fail(m_socket.errorString());
    });
    m_deadline.start(timeout);
    m_socket.connectToHost(host, port);
}

bool PlainHttpExchange::parse(bool closed)
{
    const auto incomplete = [&] {
        if (closed)
            fail(QStringLiteral("Connection closed"));
        return closed;
    };
    const qsizetype headEnd = m_received.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        if (m_received.size() > maxHeadBytes) {
            fail(QStringLiteral("Invalid reply"));
            return true;
        }
        return incomplete();
    }
    const QList<QByteArray> lines = m_received.left(headEnd).split('\n');
    const QByteArray statusLine = lines.first().trimmed();
    bool ok = false;
    const int status = statusLine.mid(9, 3).toInt(&ok);
    if (!statusLine.startsWith("HTTP/1.") || statusLine.size() < 12 || !ok) {
        fail(QStringLiteral("Invalid reply"));
        return true;
    }
    // An interim answer (100 Continue) comes before the real one.
    if (status >= 100 && status < 200) {
        m_received.remove(0, headEnd + 4);
        return parse(closed);
    }

    qint64 contentLength = -1;
    bool chunked = false;
    for (const QByteArray &line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length")
            contentLength = value.toLongLong(&ok);
        else if (name == "transfer-encoding")
            chunked = value.toLower().contains("chunked");
    }

    m_answer.status = status;
    m_answer.reason = statusLine.mid(13);
    const QByteArray body = m_received.mid(headEnd + 4);
    if (body.size() > m_maxBodyBytes + (chunked ? maxHeadBytes : 0)) {
        m_answer.tooLarge = true;
        return true;
    }
    if (status == 204 || status == 304) {
        m_answer.body.clear();
        return true;
    }
    if (chunked) {
        QByteArray decoded;
        qsizetype at = 0;
        for (;;) {
            const qsizetype lineEnd = body.indexOf("\r\n", at);
            if (lineEnd < 0)
                return incomplete();
            const qint64 size = body.mid(at, lineEnd - at).split(';').first().trimmed().toLongLong(&ok, 16);
            if (!ok || size < 0 || size > m_maxBodyBytes) {
                fail(QStringLiteral("Invalid reply"));
                return true;
            }
            if (size == 0)
                break;
            if (body.size() < lineEnd + 2 + size + 2)
                return incomplete();
            decoded += body.mid(lineEnd + 2, size);
            at = lineEnd + 2 + size + 2;
        }
        m_answer.body = decoded;
        return true;
    }
    if (contentLength >= 0) {
        if (body.size() < contentLength)
            return incomplete();
        m_answer.body = body.left(contentLength);
        return true;
    }
    // No length given: the answer ends where the connection does.
    if (!closed)
        return false;
    m_answer.body = body;
    return true;
}

void PlainHttpExchange::fail(const QString &reason)
{
    if (m_answer.transportError.isEmpty())
        m_answer.transportError = reason;
    m_answer.status = 0;
    finish();
}

void PlainHttpExchange::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_deadline.stop();
    m_socket.disconnect(this);
    // Queued: whoever waits may delete this exchange, which must not happen
    // inside one of its socket's signals.
    QMetaObject::invokeMethod(this, &PlainHttpExchange::finished, Qt::QueuedConnection);
}
