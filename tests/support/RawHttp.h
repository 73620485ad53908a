#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QTcpSocket>
#include <QTest>

// A bare HTTP/1.1 client for tests: sends exactly the bytes it is given (so
// malformed headers reach the server), follows no redirects, keeps no cookies.
struct RawReply {
    int status = 0;
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QList<QByteArray> setCookies;
    QByteArray body;

    QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
};

inline RawReply rawRequest(quint16 port, const QByteArray &method, const QByteArray &target,
                           const QByteArray &body = {}, const QList<QByteArray> &extraHeaders = {})
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(5000))
        return {};
    QByteArray request = method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const QByteArray &line : extraHeaders)
        request += line + "\r\n";
    if (!body.isEmpty() || method == "POST")
        request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    request += "\r\n" + body;
    socket.write(request);

    // The server runs in this thread: let the event loop turn until the whole
    // answer (headers plus Content-Length bytes) has arrived.
    QByteArray data;
    RawReply reply;
    QElapsedTimer clock;
    clock.start();
    qsizetype headerEnd = -1;
    qsizetype contentLength = -1;
    while (clock.elapsed() < 10000) {
        QTest::qWait(5);
        data += socket.readAll();
        if (headerEnd < 0) {
            headerEnd = data.indexOf("\r\n\r\n");
            if (headerEnd < 0)
                continue;
            const QList<QByteArray> lines = data.left(headerEnd).split('\n');
            const QList<QByteArray> statusLine = lines.first().trimmed().split(' ');
            reply.status = statusLine.value(1).toInt();
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const qsizetype colon = lines[i].indexOf(':');
                const QByteArray name = lines[i].left(colon).trimmed().toLower();
                const QByteArray value = lines[i].mid(colon + 1).trimmed();
                if (name == "set-cookie")
                    reply.setCookies.append(value);
                reply.headers.insert(name, value);
            }
            contentLength = reply.headers.value("content-length", "0").toLongLong();
        }
        if (data.size() - headerEnd - 4 >= contentLength) {
            reply.body = data.mid(headerEnd + 4, contentLength);
            return reply;
        }
        if (socket.state() == QAbstractSocket::UnconnectedState)
            break;
    }
    return reply;
}

inline QByteArray formBody(const QList<QPair<QByteArray, QByteArray>> &fields)
{
    QByteArray body;
    for (const auto &[name, value] : fields) {
        if (!body.isEmpty())
            body += '&';
        body += QByteArray(name).toPercentEncoding() + '=' + QByteArray(value).toPercentEncoding();
    }
    return body;
}

inline RawReply postForm(quint16 port, const QByteArray &path, const QByteArray &body,
                         QList<QByteArray> extraHeaders = {})
{
    extraHeaders.prepend("Content-Type: application/x-www-form-urlencoded");
    return rawRequest(port, "POST", path, body, extraHeaders);
}
