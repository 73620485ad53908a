#pragma once

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QTest>

#include <algorithm>
#include <tuple>

// One HTTP message as it came off the wire, a request or an answer.
struct HttpMessage {
    QByteArray method; // requests
    QByteArray target; // requests: path and query, as sent
    int status = 0; // answers
    QList<QPair<QByteArray, QByteArray>> headers; // in the order sent
    QByteArray body;

    QByteArray header(const QByteArray &name) const
    {
        for (const auto &[key, value] : headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        }
        return {};
    }
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }

    // Takes the message at the front of `stream` once all of it is there; `noBody` for an answer to HEAD.
    static bool take(QByteArray &stream, HttpMessage &message, bool noBody = false)
    {
        const qsizetype headEnd = stream.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return false;
        HttpMessage taken;
        const QList<QByteArray> lines = stream.left(headEnd).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        if (first.value(0).startsWith("HTTP/"))
            taken.status = first.value(1).toInt();
        else
            std::tie(taken.method, taken.target) = std::pair(first.value(0), first.value(1));
        for (const QByteArray &line : lines.mid(1)) {
            if (const qsizetype colon = line.indexOf(':'); colon > 0)
                taken.headers.append({ line.left(colon).trimmed(), line.mid(colon + 1).trimmed() });
        }
        const qsizetype length = noBody ? 0 : taken.header("Content-Length").toLongLong();
        if (stream.size() < headEnd + 4 + length)
            return false;
        taken.body = stream.mid(headEnd + 4, length);
        stream.remove(0, headEnd + 4 + length);
        message = std::move(taken);
        return true;
    }
};

// A request as a client writes it, without empty header lines; a Host line in `headers` replaces the usual.
inline QByteArray httpRequest(const QByteArray &method, const QByteArray &target, const QByteArray &body = {},
    const QList<QByteArray> &headers = {})
{
    const bool ownHost = std::any_of(
        headers.cbegin(), headers.cend(), [](const QByteArray &line) { return line.startsWith("Host:"); });
    QByteArray request = method + ' ' + target + " HTTP/1.1\r\n" + (ownHost ? "" : "Host: 127.0.0.1\r\n");
    for (const QByteArray &line : headers)
        request += line.isEmpty() ? QByteArray() : line + "\r\n";
    if (!body.isEmpty() || method == "POST" || method == "PUT")
        request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    return request + "\r\n" + body;
}

// One connection that sends exactly the bytes it is given, as no well-behaved client would. The event loop
// turns while it waits (the server may live in this thread); from `source`, another loopback address, it
// is another client.
class RawExchange
{
public:
    RawExchange(quint16 port, const QByteArray &bytes, const QHostAddress &source = {})
    {
        if (source.isNull() || socket.bind(source)) {
            socket.connectToHost(QHostAddress::LocalHost, port);
            socket.write(bytes);
        }
    }

    QTcpSocket socket;
    QByteArray received;

    bool closed()
    {
        received += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
    }
    // Every whole answer so far, in order; `heads` marks the answers to HEAD.
    QList<HttpMessage> answers(const QList<bool> &heads = {})
    {
        closed();
        QByteArray rest = received;
        QList<HttpMessage> found;
        for (HttpMessage answer; HttpMessage::take(rest, answer, heads.value(found.size()));)
            found.append(answer);
        return found;
    }
    bool done() { return closed() || !answers().isEmpty(); }
    // The first answer; what came before the server closed when it was cut short.
    HttpMessage wait(int ms = 120000)
    {
        (void)QTest::qWaitFor([this] { return done(); }, ms);
        if (const QList<HttpMessage> all = answers(); !all.isEmpty())
            return all.first();
        const qsizetype headEnd = received.indexOf("\r\n\r\n");
        QByteArray head = received.left(headEnd) + "\r\n\r\n";
        HttpMessage cut;
        HttpMessage::take(head, cut, true);
        cut.body = headEnd < 0 ? QByteArray() : received.mid(headEnd + 4);
        return cut;
    }
    // How many answers came before the server closed the connection; -1 if it did not.
    int answersUntilClosed(int ms = 20000)
    {
        return QTest::qWaitFor([this] { return closed(); }, ms) ? int(answers().size()) : -1;
    }
};

inline HttpMessage rawRequest(quint16 port, const QByteArray &method, const QByteArray &target,
    const QByteArray &body = {}, const QList<QByteArray> &headers = {})
{
    return RawExchange(port, httpRequest(method, target, body, headers)).wait();
}

// What the server answers when it refuses.
inline QJsonObject errorJson(const QString &text)
{
    return { { "type", "error" }, { "error", text } };
}

inline QByteArray formBody(const QList<QPair<QByteArray, QByteArray>> &fields)
{
    QByteArrayList pairs;
    for (const auto &[name, value] : fields)
        pairs.append(name.toPercentEncoding() + '=' + value.toPercentEncoding());
    return pairs.join('&');
}

// Names the row of a table that a failed check was at.
inline auto rowGuard(const QByteArray &row)
{
    return qScopeGuard([row] {
        if (QTest::currentTestFailed())
            qWarning("in the row '%s'", row.constData());
    });
}
