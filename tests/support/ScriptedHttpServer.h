#pragma once

#include "support/RawHttp.h"

#include <QTcpServer>
#include <QTimer>

#include <memory>

// A loopback HTTP server for client tests. Every request is recorded and answered with the next reply of
// `script` (`fallback` once it has run out), late, never, or as raw bytes that need not be HTTP.
class ScriptedHttpServer : public QObject
{
public:
    struct Reply {
        Reply(int status = 200, QByteArray body = {}, QByteArray contentType = "application/json",
            int delayMs = 0)
            : status(status)
            , body(std::move(body))
            , contentType(std::move(contentType))
            , delayMs(delayMs)
        {
        }
        static Reply withheld() { return Reply(200, {}, {}, -1); }
        // Sent instead of a response, then the connection closes.
        static Reply rawBytes(QByteArray bytes) { return Reply(0, std::move(bytes)); }

        int status; // 0: `body` is all there is
        QByteArray body;
        QByteArray contentType;
        int delayMs; // never answered when negative
    };
    using Request = HttpMessage;

    QList<Reply> script;
    Reply fallback;
    QList<Request> requests;

    // On `port` when given: a server that comes up where one was missing.
    explicit ScriptedHttpServer(quint16 port = 0)
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                auto pending = std::make_shared<QByteArray>();
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QIODevice::readyRead, this, [this, socket, pending] {
                    *pending += socket->readAll();
                    for (Request request; HttpMessage::take(*pending, request);) {
                        requests.append(request);
                        answer(socket, script.isEmpty() ? fallback : script.takeFirst());
                    }
                });
            }
        });
        m_server.listen(QHostAddress::LocalHost, port);
    }

    quint16 port() const { return m_server.serverPort(); }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(port()); }

private:
    void answer(QTcpSocket *socket, const Reply &reply)
    {
        if (reply.delayMs < 0)
            return;
        QTimer::singleShot(reply.delayMs, socket, [socket, reply] {
            if (reply.status == 0) {
                socket->write(reply.body);
                socket->disconnectFromHost();
                return;
            }
            socket->write("HTTP/1.1 " + QByteArray::number(reply.status)
                + " Scripted\r\nContent-Type: " + reply.contentType
                + "\r\nContent-Length: " + QByteArray::number(reply.body.size()) + "\r\n\r\n" + reply.body);
        });
    }

    QTcpServer m_server;
};
