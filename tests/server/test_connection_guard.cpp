#include "ConnectionGuard.h"

#include <QHttpServer>
#include <QTcpSocket>
#include <QTest>

#include <map>
#include <memory>
#include <vector>

namespace
{

// An upload from `source` that stays in flight until the test answers it.
std::unique_ptr<QTcpSocket> upload(quint16 port, const char *source, const QByteArray &forwardedFor)
{
    auto socket = std::make_unique<QTcpSocket>();
    if (!socket->bind(QHostAddress(QString::fromLatin1(source))))
        return socket;
    socket->connectToHost(QHostAddress::LocalHost, port);
    socket->write("POST /api/speech?sampleRate=16000 HTTP/1.1\r\nX-Forwarded-For: " + forwardedFor
        + "\r\nContent-Length: 2\r\n\r\nab");
    return socket;
}

} // namespace

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

    // Behind a trusted proxy each client is counted by the address the proxy
    // names; anyone else naming an address is counted as itself.
    void countsUploadsPerClient()
    {
        QHttpServer http;
        std::map<QByteArray, std::unique_ptr<QHttpServerResponder>> held; // by X-Forwarded-For
        http.route(QStringLiteral("/api/speech"),
            [&held](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                held[request.value("X-Forwarded-For")]
                    = std::make_unique<QHttpServerResponder>(std::move(responder));
            });
        ConnectionLimits limits;
        limits.trustedProxies = { { QHostAddress(QStringLiteral("127.0.0.1")), 32 } };
        auto *guard = new ConnectionGuard(limits);
        QVERIFY(guard->listen(QHostAddress::LocalHost));
        http.bind(guard);
        const quint16 port = guard->serverPort();

        std::vector<std::unique_ptr<QTcpSocket>> inFlight;
        for (const auto &[source, forwardedFor] :
            { std::pair { "127.0.0.1", "10.0.0.9, 10.0.0.1" }, { "127.0.0.1", "10.0.0.1" },
                { "127.0.0.1", "10.0.0.2" }, { "127.0.0.2", "10.0.0.7" }, { "127.0.0.2", "10.0.0.8" } })
            inFlight.push_back(upload(port, source, forwardedFor));
        QTRY_COMPARE(held.size(), size_t(5));
        QCOMPARE(guard->uploadsInFlight(), 5);

        for (const auto &[source, forwardedFor] :
            { std::pair { "127.0.0.1", "10.0.0.1" }, { "127.0.0.2", "10.0.0.3" } }) {
            const auto refused = upload(port, source, forwardedFor);
            QByteArray answer;
            QTRY_VERIFY((answer += refused->readAll()).contains("Too many uploads at once"));
            QVERIFY2(answer.startsWith("HTTP/1.1 429 "), source);
        }

        // Once one of 10.0.0.1's uploads is answered, it may send another.
        held.at("10.0.0.9, 10.0.0.1")->write("{}", "application/json");
        QByteArray answer;
        QTRY_VERIFY((answer += inFlight.front()->readAll()).startsWith("HTTP/1.1 200 "));
        QCOMPARE(guard->uploadsInFlight(), 4);
        inFlight.push_back(upload(port, "127.0.0.1", "10.0.0.1, 10.0.0.1"));
        QTRY_COMPARE(held.size(), size_t(6));
    }
};

QTEST_GUILESS_MAIN(TestConnectionGuard)
#include "test_connection_guard.moc"
