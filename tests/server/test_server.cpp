#include "support/ServerProcess.h"

#include <QStandardPaths>

#include <memory>

namespace {

using Exchange = RawHttpExchange;
const auto request = &RawHttpExchange::request;

const QString phrase = QStringLiteral("hello world this is a test of the dictation system");
const QByteArray silence(16000, '\0');
const QByteArray speechHead = "POST /api/speech?sampleRate=16000 HTTP/1.1\r\n";

QByteArray speechPost(const QByteArray &query, const QByteArray &body)
{
    return request("POST", "/api/speech?" + query, body);
}

QJsonObject transcript(const QString &text)
{
    return { { "type", "transcript" }, { "text", text }, { "isFinal", true } };
}

} // namespace

class TestServer : public QObject
{
    Q_OBJECT

    ServerProcess m_server { { QStringLiteral("--decoders"), QStringLiteral("2"), QStringLiteral("--client-timeout"),
                               QStringLiteral("1"), QStringLiteral("--max-upload-seconds"), QStringLiteral("60"),
                               QStringLiteral("--max-uploads-per-client"), QStringLiteral("4") } };
    QByteArray m_speech;

    QJsonObject post(const QByteArray &query, const QByteArray &body)
    {
        return Exchange(m_server.port(), speechPost(query, body)).wait().json();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        m_speech = spokenPcm(phrase);
        QVERIFY(m_speech.size() > 32000);
        QVERIFY(m_server.start());
    }

    void transcribesUploads()
    {
        // "auto", or no language at all, means US English.
        for (const char *query :
             { "sampleRate=16000&languageCode=en-US", "sampleRate=16000&languageCode=auto", "sampleRate=16000" }) {
            Exchange exchange(m_server.port(), speechPost(query, m_speech));
            QCOMPARE(exchange.wait().status(), 200);
            QVERIFY(exchange.received.contains("Content-Type: application/json"));
            QCOMPARE(exchange.json(), transcript(phrase));
        }
        QCOMPARE(post("sampleRate=16000", silence), transcript(QString()));
        QCOMPARE(post("sampleRate=16000&languageCode=de-DE", m_speech),
                 QJsonObject({ { "type", "error" }, { "error", "Language not supported: de-DE" } }));

        const QRegularExpression logLine(
            QStringLiteral("^POST /api/speech -> 200 \\(%1 bytes, decode \\d+ ms\\)$").arg(m_speech.size()));
        QTRY_COMPARE(m_server.logLines().filter(logLine).size(), 3);
    }

    // A long decode runs beside the event loop: what comes after it is
    // answered first; uploads decoded side by side each get their own text.
    void decodesInParallelOffTheEventLoop()
    {
        QByteArray longSpeech;
        for (int i = 0; i < 12; ++i)
            longSpeech += m_speech + silence;
        Exchange slow(m_server.port(), speechPost("sampleRate=16000", longSpeech));
        QTRY_VERIFY(slow.socket.bytesToWrite() == 0);
        QTest::qWait(200);
        QCOMPARE(Exchange(m_server.port(), request("GET", "/nowhere", {})).wait().status(), 404);
        QVERIFY(!slow.done());
        std::vector<std::unique_ptr<Exchange>> uploads;
        for (int i = 0; i < 3; ++i)
            uploads.push_back(std::make_unique<Exchange>(m_server.port(), speechPost("sampleRate=16000", m_speech)));
        for (auto &upload : uploads)
            QCOMPARE(upload->wait().json(), transcript(phrase));
        QCOMPARE(slow.wait().json().value("text").toString().count(QStringLiteral("dictation")), 12);
    }

    void rejectsBadInput_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        const QByteArray pcm(3200, '\0');
        const struct {
            const char *name;
            QByteArray bytes;
            int status;
            const char *error;
        } rows[] = {
            { "no rate", speechPost("languageCode=en-US", pcm), 400, "Missing sampleRate: send sampleRate=16000" },
            { "8 kHz", speechPost("sampleRate=8000", pcm), 400, "Unsupported sampleRate 8000: only 16000 is accepted" },
            { "rate not a number", speechPost("sampleRate=sixteen", pcm), 400,
              "Unsupported sampleRate sixteen: only 16000 is accepted" },
            { "odd length", speechPost("sampleRate=16000", QByteArray(48001, '\1')), 400,
              "Odd body length 48001: 16-bit samples take two bytes each" },
            { "empty", speechPost("sampleRate=16000", {}), 400, "Empty body: send 16-bit mono PCM audio" },
            { "too large", speechHead + "Content-Length: 10485762\r\n\r\n", 413,
              "Body too large: at most 10485760 bytes" },
            { "GET", request("GET", "/api/speech?sampleRate=16000", {}), 405, "Method not allowed: use POST" },
            { "PUT", request("PUT", "/api/speech?sampleRate=16000", pcm), 405, "Method not allowed: use POST" },
            { "wrong path", request("POST", "/api/speeches?sampleRate=16000", pcm), 404, "Not found: /api/speeches" },
            { "not HTTP", "HELLO\r\n\r\n", 400, "Malformed request line" },
            { "chunked", speechHead + "Transfer-Encoding: chunked\r\n\r\n4\r\nabcd\r\n0\r\n\r\n", 411,
              "Length required: send the body with a Content-Length" },
            { "huge header", "GET / HTTP/1.1\r\nX-Padding: " + QByteArray(70 * 1024, 'x') + "\r\n\r\n", 431,
              "Request headers too large" },
            { "negative length", speechHead + "Content-Length: -5\r\n\r\n", 400, "Invalid Content-Length" },
        };
        for (const auto &row : rows)
            QTest::newRow(row.name) << row.bytes << row.status << QString::fromUtf8(row.error);
    }

    void rejectsBadInput()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        QFETCH(QString, error);
        Exchange answer(m_server.port(), bytes);
        QCOMPARE(answer.wait().status(), status);
        QCOMPARE(answer.json(), QJsonObject({ { "type", "error" }, { "error", error } }));
        QVERIFY(m_server.isRunning());
        QCOMPARE(post("sampleRate=16000", silence), transcript(QString()));
    }

    void timesOutSlowClients()
    {
        Exchange headersNeverEnd(m_server.port(), speechHead + "Host: x\r\n");
        Exchange bodyStalls(m_server.port(), speechHead + "Content-Length: 96000\r\n\r\n" + QByteArray(100, '\0'));
        {
            Exchange vanishes(m_server.port(), speechHead + "Content-Length: 96000\r\n\r\n" + QByteArray(1000, '\0'));
            QVERIFY(vanishes.socket.waitForBytesWritten(5000));
            vanishes.socket.abort();
        }
        // Meanwhile others are served.
        QCOMPARE(post("sampleRate=16000", m_speech), transcript(phrase));
        for (Exchange *stalled : { &headersNeverEnd, &bodyStalls }) {
            QCOMPARE(stalled->wait(5000).status(), 408);
            QVERIFY(stalled->json().value("error").toString().startsWith(QStringLiteral("Request timeout: ")));
        }
        QVERIFY(m_server.isRunning());
        QCOMPARE(post("sampleRate=16000", silence), transcript(QString()));
    }
};

QTEST_GUILESS_MAIN(TestServer)
#include "test_server.moc"
