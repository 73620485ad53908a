#include "ConnectionGuard.h"

#include <QHttpServer>
#include <QTcpSocket>
#include <QTest>

// The HTTP layer behind the guard reads a private stream per connection; what
// it learns about the client must still be the client's.
class TestConnectionGuard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void applicationSeesTheClient()
    {
        QHttpServer http;
        http.route(QStringLiteral("/who"), [](const QHttpServerRequest &request) {
            return request.remoteAddress().toString() + u' ' + request.url().path() + u' '
                + QString::fromLatin1(request.value("Connection").isEmpty() ? "-" : "connection");
        });
        auto *guard = new ConnectionGuard(ConnectionLimits {});
        QVERIFY(guard->listen(QHostAddress::LocalHost));
        http.bind(guard);

        QTcpSocket client;
        QVERIFY(client.bind(QHostAddress(QStringLiteral("127.0.0.2"))));
        client.connectToHost(QHostAddress::LocalHost, guard->serverPort());
        client.write("GET /who?secret=1 HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
        QByteArray received;
        QTRY_VERIFY((received += client.readAll()).endsWith("127.0.0.2 /who -"));
    }
};

QTEST_GUILESS_MAIN(TestConnectionGuard)
#include "test_connection_guard.moc"
