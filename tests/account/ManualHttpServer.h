#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// An HTTP server that answers only when the test says so: for requests that
// must still be in flight while something else happens, or never answered.
class ManualHttpServer : public QObject
{
public:
    struct Pending {
        QPointer<QTcpSocket> socket;
        QByteArray head;
    };

    ManualHttpServer()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                auto *buffer = new QByteArray;
                connect(socket, &QObject::destroyed, this, [buffer] { delete buffer; });
                connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
                    *buffer += socket->readAll();
                    const qsizetype end = buffer->indexOf("\r\n\r\n");
                    if (end >= 0 && !buffer->isEmpty()) {
                        pending.append({socket, buffer->left(end)});
                        buffer->clear();
                    }
                });
            }
        });
        m_server.listen(QHostAddress::LocalHost, 0);
    }

    quint16 port() const { return m_server.serverPort(); }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(port()); }

    void respond(int status, const QByteArray &body)
    {
        if (pending.isEmpty())
            return;
        const Pending request = pending.takeFirst();
        if (!request.socket)
            return;
        request.socket->write("HTTP/1.1 " + QByteArray::number(status)
                              + " Answer\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: "
                              + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        request.socket->disconnectFromHost();
    }

    QList<Pending> pending;

private:
    QTcpServer m_server;
};
