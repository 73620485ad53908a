#pragma once

#include <QByteArray>
#include <QHash>
#include <QTcpSocket>
#include <QTest>

// A bare HTTP/1.1 client for tests: sends exactly the bytes it is given (so
// malformed headers reach the server; empty header lines are left out),
// follows no redirects, keeps no cookies.
struct RawReply {
    int status = 0;
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;

    QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
};

// The server may run in this thread: the event loop turns until the whole
// answer has come.
inline RawReply rawRequest(quint16 port, const QByteArray &method, const QByteArray &target,
    const QByteArray &body = {}, const QList<QByteArray> &headers = {})
{
    QByteArray request = method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const QByteArray &line : headers)
        request += line.isEmpty() ? QByteArray() : line + "\r\n";
    if (method == "POST")
        request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    socket.write(request + "\r\n" + body);
    QByteArray data;
    RawReply reply;
    const auto complete = [&] {
        data += socket.readAll();
        const qsizetype headerEnd = data.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return false;
        const QList<QByteArray> lines = data.left(headerEnd).split('\n');
        reply.status = lines.first().split(' ').value(1).toInt();
        for (const QByteArray &line : lines.mid(1))
            reply.headers.insert(
                line.left(line.indexOf(':')).trimmed().toLower(), line.mid(line.indexOf(':') + 1).trimmed());
        reply.body = data.mid(headerEnd + 4);
        return reply.body.size() >= reply.header("Content-Length").toLongLong();
    };
    return QTest::qWaitFor(complete, 10000) ? reply : RawReply();
}

inline QByteArray formBody(const QList<QPair<QByteArray, QByteArray>> &fields)
{
    QByteArrayList pairs;
    for (const auto &[name, value] : fields)
        pairs.append(name.toPercentEncoding() + '=' + value.toPercentEncoding());
    return pairs.join('&');
}

inline RawReply postForm(quint16 port, const QByteArray &path, const QByteArray &body)
{
    return rawRequest(port, "POST", path, body, { "Content-Type: application/x-www-form-urlencoded" });
}
