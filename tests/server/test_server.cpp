#include "ServerProcess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>
#include <QtEndian>

namespace {

const QString phrase = QStringLiteral("hello world this is a test of the dictation system");

struct Answer {
    int status = 0;
    QJsonObject json;
    QByteArray raw;
    QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
    QHash<QByteArray, QByteArray> headers;
};

// One request through Qt's own HTTP client.
Answer send(QNetworkAccessManager &network, const QString &url, const QByteArray &method, const QByteArray &body)
{
    QNetworkRequest request { QUrl(url) };
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/octet-stream"));
    QNetworkReply *reply = network.sendCustomRequest(request, method, body);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!reply->isFinished() && !finished.wait(60000))
        return {};
    Answer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.raw = reply->readAll();
    answer.json = QJsonDocument::fromJson(answer.raw).object();
    for (const auto &[name, value] : reply->rawHeaderPairs())
        answer.headers.insert(name.toLower(), value);
    reply->deleteLater();
    return answer;
}

// Bytes straight onto a socket, for what a well-behaved client would never send.
QByteArray sendRaw(quint16 port, const QByteArray &bytes, int waitMs = 10000)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(bytes);
    QByteArray received;
    (void)QTest::qWaitFor([&] {
        received += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
    }, waitMs);
    return received + socket.readAll();
}

QString speechUrl(const ServerProcess &server, const QString &query = QStringLiteral("sampleRate=16000&languageCode=en-US"))
{
    return server.baseUrl() + QStringLiteral("/api/speech?") + query;
}

} // namespace

class TestServer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        m_speech = synthesizedSpeech(phrase);
        QVERIFY(m_speech.size() > 32000);
    }

    void transcribesUploads()
    {
        ServerProcess server;
        QVERIFY(server.start());
        QNetworkAccessManager network;

        Answer answer = send(network, speechUrl(server), "POST", m_speech);
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(answer.json, QJsonObject({ { "type", "transcript" }, { "text", phrase }, { "isFinal", true } }));

        // "auto", or no language at all, means US English.
        QCOMPARE(send(network, speechUrl(server, QStringLiteral("sampleRate=16000&languageCode=auto")), "POST", m_speech)
                     .json.value("text"),
                 phrase);
        QCOMPARE(send(network, speechUrl(server, QStringLiteral("sampleRate=16000")), "POST", m_speech).json.value("text"),
                 phrase);

        answer = send(network, speechUrl(server), "POST", QByteArray(48000, '\0'));
        QCOMPARE(answer.json, QJsonObject({ { "type", "transcript" }, { "text", "" }, { "isFinal", true } }));

        answer = send(network, speechUrl(server, QStringLiteral("sampleRate=16000&languageCode=de-DE")), "POST", m_speech);
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.json, QJsonObject({ { "type", "error" }, { "error", "Language not supported: de-DE" } }));

        // Uploads at the same time each get their own transcript.
        QList<QNetworkReply *> replies;
        for (int i = 0; i < 4; ++i) {
            QNetworkRequest request { QUrl(speechUrl(server)) };
            request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/octet-stream"));
            replies << network.post(request, m_speech);
        }
        for (QNetworkReply *reply : replies) {
            QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 60000);
            QCOMPARE(QJsonDocument::fromJson(reply->readAll()).object().value("text").toString(), phrase);
        }

        const QStringList lines = server.logLines();
        QVERIFY(lines.contains(QStringLiteral("POST /api/speech -> 200 (%1 bytes)").arg(m_speech.size())));
        const QRegularExpression decoded(QStringLiteral("^POST /api/speech -> 200 \\(%1 bytes, decode \\d+ ms\\)$").arg(m_speech.size()));
        QCOMPARE(lines.filter(decoded).size(), 7);
    }

    void rejectsBadInput()
    {
        ServerProcess server;
        QVERIFY(server.start());
        QNetworkAccessManager network;

        struct Case {
            QByteArray method;
            QString pathAndQuery;
            QByteArray body;
            int status;
            QString error;
        };
        const QList<Case> cases {
            { "POST", QStringLiteral("/api/speech?languageCode=en-US"), m_speech, 400,
              QStringLiteral("Missing sampleRate: send sampleRate=16000") },
            { "POST", QStringLiteral("/api/speech?sampleRate=8000"), m_speech, 400,
              QStringLiteral("Unsupported sampleRate 8000: only 16000 is accepted") },
            { "POST", QStringLiteral("/api/speech?sampleRate=sixteen"), m_speech, 400,
              QStringLiteral("Unsupported sampleRate sixteen: only 16000 is accepted") },
            { "POST", QStringLiteral("/api/speech?sampleRate=16000"), QByteArray(48001, '\1'), 400,
              QStringLiteral("Odd body length 48001: 16-bit samples take two bytes each") },
            { "POST", QStringLiteral("/api/speech?sampleRate=16000"), QByteArray(), 400,
              QStringLiteral("Empty body: send 16-bit mono PCM audio") },
            { "POST", QStringLiteral("/api/speech?sampleRate=16000"), QByteArray(10 * 1024 * 1024 + 2, '\0'), 413,
              QStringLiteral("Body too large: at most 10485760 bytes") },
            { "GET", QStringLiteral("/api/speech?sampleRate=16000"), QByteArray(), 405,
              QStringLiteral("Method not allowed: use POST") },
            { "PUT", QStringLiteral("/api/speech?sampleRate=16000"), m_speech, 405,
              QStringLiteral("Method not allowed: use POST") },
            { "POST", QStringLiteral("/api/speeches?sampleRate=16000"), m_speech, 404,
              QStringLiteral("Not found: /api/speeches") },
        };
        for (const Case &bad : cases) {
            const Answer answer = send(network, server.baseUrl() + bad.pathAndQuery, bad.method, bad.body);
            QVERIFY2(answer.status == bad.status, qPrintable(bad.error + QStringLiteral(": %1").arg(answer.status)));
            QCOMPARE(answer.json, QJsonObject({ { "type", "error" }, { "error", bad.error } }));
            if (bad.status == 405)
                QCOMPARE(answer.header("Allow"), QByteArray("POST"));
        }

        // What only a broken or hostile client sends.
        const auto rawError = [](const QByteArray &response) {
            return QJsonDocument::fromJson(response.mid(response.indexOf("\r\n\r\n") + 4)).object().value("error").toString();
        };
        QByteArray response = sendRaw(server.port(), "HELLO\r\n\r\n");
        QVERIFY(response.startsWith("HTTP/1.1 400 "));
        QCOMPARE(rawError(response), QStringLiteral("Malformed request line"));
        response = sendRaw(server.port(), "POST /api/speech?sampleRate=16000 HTTP/1.1\r\nHost: x\r\n"
                                          "Transfer-Encoding: chunked\r\n\r\n4\r\nabcd\r\n0\r\n\r\n");
        QVERIFY(response.startsWith("HTTP/1.1 411 "));
        response = sendRaw(server.port(), "GET / HTTP/1.1\r\nX-Padding: " + QByteArray(70 * 1024, 'x') + "\r\n\r\n");
        QVERIFY(response.startsWith("HTTP/1.1 431 "));
        response = sendRaw(server.port(), "POST /api/speech?sampleRate=16000 HTTP/1.1\r\nContent-Length: -5\r\n\r\n");
        QVERIFY(response.startsWith("HTTP/1.1 400 "));
        QCOMPARE(rawError(response), QStringLiteral("Invalid Content-Length"));
        // A client that vanishes half-way through its body.
        {
            QTcpSocket quitter;
            quitter.connectToHost(QHostAddress::LocalHost, server.port());
            QVERIFY(quitter.waitForConnected(5000));
            quitter.write("POST /api/speech?sampleRate=16000 HTTP/1.1\r\nContent-Length: 96000\r\n\r\n" + QByteArray(1000, '\0'));
            QVERIFY(quitter.waitForBytesWritten(5000));
            quitter.abort();
        }

        // Still answering, and every request got its log line.
        QVERIFY(server.isRunning());
        QCOMPARE(send(network, speechUrl(server), "POST", m_speech).json.value("text").toString(), phrase);
        const QStringList lines = server.logLines();
        QVERIFY(lines.contains(QStringLiteral("GET /api/speech -> 405 (0 bytes)")));
        QVERIFY(lines.contains(QStringLiteral("POST /api/speech -> 413 (0 bytes)")));
        QVERIFY(lines.contains(QStringLiteral("POST /api/speeches -> 404 (%1 bytes)").arg(m_speech.size())));
        QVERIFY(lines.contains(QStringLiteral("- - -> 400 (0 bytes)")));
    }

    void timesOutSlowClients()
    {
        ServerProcess server({ QStringLiteral("--client-timeout"), QStringLiteral("0.5") });
        QVERIFY(server.start());

        // Headers that never end.
        QByteArray response = sendRaw(server.port(), "POST /api/speech?sampleRate=16000 HTTP/1.1\r\nHost: x\r\n");
        QVERIFY2(response.startsWith("HTTP/1.1 408 "), response.constData());
        // A body that stops arriving, while another client is served meanwhile.
        QTcpSocket stalled;
        stalled.connectToHost(QHostAddress::LocalHost, server.port());
        QVERIFY(stalled.waitForConnected(5000));
        stalled.write("POST /api/speech?sampleRate=16000 HTTP/1.1\r\nContent-Length: 96000\r\n\r\n" + QByteArray(100, '\0'));
        QNetworkAccessManager network;
        QCOMPARE(send(network, speechUrl(server), "POST", m_speech).json.value("text").toString(), phrase);
        QTRY_VERIFY_WITH_TIMEOUT(stalled.state() == QAbstractSocket::UnconnectedState || stalled.bytesAvailable(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(stalled.state(), QAbstractSocket::UnconnectedState, 5000);
        QVERIFY(stalled.readAll().startsWith("HTTP/1.1 408 "));
        QVERIFY(server.isRunning());
        QCOMPARE(send(network, speechUrl(server), "POST", m_speech).status, 200);
    }

    // A long decode runs beside the event loop: a quick request made after
    // it is answered before it.
    void decodesOffTheEventLoop()
    {
        ServerProcess server({ QStringLiteral("--decoders"), QStringLiteral("2") });
        QVERIFY(server.start());
        QNetworkAccessManager network;
        QByteArray longSpeech;
        for (int i = 0; i < 12; ++i)
            longSpeech += m_speech + QByteArray(16000, '\0');

        QNetworkRequest request { QUrl(speechUrl(server)) };
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/octet-stream"));
        QNetworkReply *slow = network.post(request, longSpeech);
        QTRY_VERIFY(server.logLines().isEmpty() == false);
        QTest::qWait(200);
        const Answer quick = send(network, server.baseUrl() + QStringLiteral("/nowhere"), "GET", {});
        QCOMPARE(quick.status, 404);
        QVERIFY(!slow->isFinished());
        QTRY_VERIFY_WITH_TIMEOUT(slow->isFinished(), 60000);
        const QString text = QJsonDocument::fromJson(slow->readAll()).object().value("text").toString();
        QCOMPARE(text.count(QStringLiteral("dictation")), 12);
    }

private:
    QByteArray m_speech;
};

QTEST_GUILESS_MAIN(TestServer)
#include "test_server.moc"
