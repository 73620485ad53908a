#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

// A loopback HTTP server that answers each request with the next reply of its
// script and records what it was sent. A reply can be delayed or withheld.
class ScriptedHttpServer : public QObject
{
public:
    struct Reply {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/json";
        int delayMs = 0;
        bool never = false; // keep the connection open and say nothing
    };
    struct Request {
        QByteArray method;
        QByteArray target; // path and query, as sent
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;

        QByteArray header(const QByteArray &name) const
        {
            for (const auto &[key, value] : headers) {
                if (key.compare(name, Qt::CaseInsensitive) == 0)
                    return value;
            }
            return {};
        }
    };

    QList<Reply> script;
    QList<Request> requests;

    bool start()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                connect(socket, &QIODevice::readyRead, this, [this, socket] { readFrom(socket); });
        });
        return m_server.listen(QHostAddress::LocalHost, 0);
    }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }

    static Reply transcript(const QByteArray &text, int delayMs = 0)
    {
        return { 200, R"({"type":"transcript","text":")" + text + R"(","isFinal":true})", "application/json", delayMs };
    }

private:
    void readFrom(QTcpSocket *socket)
    {
        QByteArray &pending = m_buffers[socket];
        pending += socket->readAll();
        const qsizetype headerEnd = pending.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        Request request;
        const QList<QByteArray> lines = pending.left(headerEnd).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.target = first.value(1);
        qsizetype length = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon < 0)
                continue;
            const QByteArray name = lines[i].left(colon).trimmed();
            const QByteArray value = lines[i].mid(colon + 1).trimmed();
            request.headers.append({ name, value });
            if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
                length = value.toLongLong();
        }
        if (pending.size() < headerEnd + 4 + length)
            return;
        request.body = pending.mid(headerEnd + 4, length);
        pending.remove(0, headerEnd + 4 + length);
        requests.append(request);

        const Reply reply = script.isEmpty() ? transcript("") : script.takeFirst();
        if (reply.never)
            return;
        QPointer<QTcpSocket> guard(socket);
        QTimer::singleShot(reply.delayMs, this, [guard, reply] {
            if (!guard)
                return;
            guard->write("HTTP/1.1 " + QByteArray::number(reply.status) + " Scripted\r\nContent-Type: "
                         + reply.contentType + "\r\nContent-Length: " + QByteArray::number(reply.body.size())
                         + "\r\n\r\n" + reply.body);
        });
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};
