#pragma once

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

// A stand-in for tellwind-server's "/api/speech" on the loopback interface:
// every upload is recorded and answered with the next scripted JSON body
// (an empty transcript once the script has run out), after `replyDelayMs`.
class ScriptedSpeechServer : public QObject
{
public:
    QList<QByteArray> replies;
    int replyDelayMs = 0;
    QList<QUrl> requests;
    QList<qsizetype> bodySizes;

    ScriptedSpeechServer()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                serve(socket);
        });
    }

    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }

    static QByteArray transcript(const QString &text)
    {
        return QStringLiteral("{\"type\":\"transcript\",\"text\":\"%1\",\"isFinal\":true}").arg(text).toUtf8();
    }

private:
    void serve(QTcpSocket *socket)
    {
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            const qsizetype headerEnd = buffer->indexOf("\r\n\r\n");
            if (headerEnd < 0)
                return;
            const QByteArray head = buffer->left(headerEnd);
            qsizetype length = 0;
            for (const QByteArray &line : head.split('\n')) {
                if (line.toLower().startsWith("content-length:"))
                    length = line.mid(15).trimmed().toLongLong();
            }
            if (buffer->size() < headerEnd + 4 + length)
                return;
            const QByteArray target = head.split(' ').value(1);
            requests << QUrl(baseUrl() + QString::fromUtf8(target));
            bodySizes << length;
            buffer->clear();
            const QByteArray body = replies.isEmpty() ? transcript(QString()) : replies.takeFirst();
            QPointer<QTcpSocket> guarded(socket);
            QTimer::singleShot(replyDelayMs, this, [guarded, body] {
                if (!guarded)
                    return;
                guarded->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n"
                               "Content-Length: "
                               + QByteArray::number(body.size()) + "\r\n\r\n" + body);
                guarded->disconnectFromHost();
            });
        });
    }

    QTcpServer m_server;
};
