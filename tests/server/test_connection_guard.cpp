#include "ConnectionGuard.h"
#include "support/RawHttp.h"

#include <QHttpServer>
#include <QTcpSocket>
#include <QTest>

#include <map>
#include <memory>
#include <vector>

namespace
{

// An upload from `source` that stays in flight until the test answers it.
std::unique_ptr<RawExchange> upload(quint16 port, const char *source, const QByteArray &forwardedFor)
{
    return std::make_unique<RawExchange>(port,
        httpRequest("POST", "/api/speech?sampleRate=16000", "ab", { "X-Forwarded-For: " + forwardedFor }),
        QHostAddress(QString::fromLatin1(source)));
}

} // namespace

class TestConnectionGuard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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

        std::vector<std::unique_ptr<RawExchange>> inFlight;
        for (const auto &[source, forwardedFor] :
            { std::pair { "127.0.0.1", "10.0.0.9, 10.0.0.1" }, { "127.0.0.1", "10.0.0.1" },
                { "127.0.0.1", "10.0.0.2" }, { "127.0.0.2", "10.0.0.7" }, { "127.0.0.2", "10.0.0.8" } })
            inFlight.push_back(upload(port, source, forwardedFor));
        QTRY_COMPARE(held.size(), size_t(5));
        QCOMPARE(guard->uploadsInFlight(), 5);

        for (const auto &[source, forwardedFor] :
            { std::pair { "127.0.0.1", "10.0.0.1" }, { "127.0.0.2", "10.0.0.3" } }) {
            QCOMPARE(upload(port, source, forwardedFor)->wait().status, 429);
        }

        // Once one of 10.0.0.1's uploads is answered, it may send another.
        held.at("10.0.0.9, 10.0.0.1")->write("{}", "application/json");
        QCOMPARE(inFlight.front()->wait().status, 200);
        QCOMPARE(guard->uploadsInFlight(), 4);
        inFlight.push_back(upload(port, "127.0.0.1", "10.0.0.1, 10.0.0.1"));
        QTRY_COMPARE(held.size(), size_t(6));
    }
};

QTEST_GUILESS_MAIN(TestConnectionGuard)
#include "test_connection_guard.moc"
