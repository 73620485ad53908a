#include "support/ServerProcess.h"

#include <QJsonArray>
#include <QStandardPaths>

#include <memory>

#include <signal.h>

namespace
{

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

// The answers read off one connection, in order. HEAD answers carry no body
// whatever their Content-Length says: `heads` marks them.
struct Answer {
    int status = 0;
    QByteArray head;
    QByteArray body;
};

QList<Answer> splitAnswers(QByteArray bytes, const QList<bool> &heads = {})
{
    static const QRegularExpression length(
        QStringLiteral("content-length: *(\\d+)"), QRegularExpression::CaseInsensitiveOption);
    QList<Answer> answers;
    while (true) {
        const qsizetype end = bytes.indexOf("\r\n\r\n");
        if (end < 0)
            return answers;
        Answer answer;
        answer.head = bytes.left(end);
        answer.status = answer.head.mid(9, 3).toInt();
        const qsizetype size = heads.value(answers.size())
            ? 0
            : length.match(QString::fromLatin1(answer.head)).captured(1).toLongLong();
        if (bytes.size() < end + 4 + size)
            return answers;
        answer.body = bytes.mid(end + 4, size);
        bytes.remove(0, end + 4 + size);
        answers.append(answer);
    }
}

// A client on another loopback address, so that the server counts it apart.
QByteArray exchangeFrom(const QHostAddress &source, quint16 port, const QByteArray &bytes)
{
    QTcpSocket socket;
    if (!socket.bind(source))
        return {};
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write(bytes);
    QByteArray received;
    (void)QTest::qWaitFor(
        [&] {
            received += socket.readAll();
            const QList<Answer> answers = splitAnswers(received);
            return !answers.isEmpty() || socket.state() == QAbstractSocket::UnconnectedState;
        },
        60000);
    return received;
}

QByteArray longSpeech(const QByteArray &speech, int repeats)
{
    QByteArray pcm;
    for (int i = 0; i < repeats; ++i)
        pcm += speech + silence;
    return pcm;
}

} // namespace

class TestServer : public QObject
{
    Q_OBJECT

    ServerProcess m_server { { QStringLiteral("--decoders"), QStringLiteral("2"),
        QStringLiteral("--client-timeout"), QStringLiteral("1"), QStringLiteral("--max-upload-seconds"),
        QStringLiteral("60"), QStringLiteral("--max-uploads-per-client"), QStringLiteral("4") } };
    // Everything at its defaults: 30 s uploads, two in flight per client.
    ServerProcess m_defaults;
    QByteArray m_speech;

    // Waits for the server to close the connection and returns how many answers came.
    static int answersUntilClosed(Exchange &exchange)
    {
        const bool closed = QTest::qWaitFor(
            [&] {
                exchange.done();
                return exchange.socket.state() == QAbstractSocket::UnconnectedState;
            },
            20000);
        return closed ? int(exchange.received.count("HTTP/1.1 ")) : -1;
    }

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
        QVERIFY(m_defaults.start());
    }

    void transcribesUploads()
    {
        // "auto", or no language at all, means US English.
        for (const char *query : { "sampleRate=16000&languageCode=en-US",
                 "sampleRate=16000&languageCode=auto", "sampleRate=16000" }) {
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
            uploads.push_back(
                std::make_unique<Exchange>(m_server.port(), speechPost("sampleRate=16000", m_speech)));
        for (auto &upload : uploads)
            QCOMPARE(upload->wait().json(), transcript(phrase));
        QCOMPARE(slow.wait().json().value("text").toString().count(QStringLiteral("dictation")), 12);
    }

    void rejectsBadInput_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("closes");
        const QByteArray pcm(3200, '\0');
        const struct {
            const char *name;
            QByteArray bytes;
            int status;
            const char *error;
            // Refused before the HTTP layer saw it: the connection ends there.
            bool closes = true;
        } rows[] = {
            { "no rate", speechPost("languageCode=en-US", pcm), 400,
                "Missing sampleRate: send sampleRate=16000", false },
            { "8 kHz", speechPost("sampleRate=8000", pcm), 400,
                "Unsupported sampleRate 8000: only 16000 is accepted", false },
            { "rate not a number", speechPost("sampleRate=sixteen", pcm), 400,
                "Unsupported sampleRate sixteen: only 16000 is accepted", false },
            { "odd length", speechPost("sampleRate=16000", QByteArray(48001, '\1')), 400,
                "Odd body length 48001: 16-bit samples take two bytes each", false },
            { "empty", speechPost("sampleRate=16000", {}), 400, "Empty body: send 16-bit mono PCM audio",
                false },
            { "too large", speechHead + "Content-Length: 10485762\r\n\r\n", 413,
                "Body too large: at most 10485760 bytes" },
            { "GET", request("GET", "/api/speech?sampleRate=16000", {}), 405, "Method not allowed: use POST",
                false },
            { "PUT", request("PUT", "/api/speech?sampleRate=16000", pcm), 405, "Method not allowed: use POST",
                false },
            { "wrong path", request("POST", "/api/speeches?sampleRate=16000", pcm), 404,
                "Not found: /api/speeches", false },
            { "not HTTP", "HELLO\r\n\r\n", 400, "Malformed request line" },
            { "chunked", speechHead + "Transfer-Encoding: chunked\r\n\r\n4\r\nabcd\r\n0\r\n\r\n", 411,
                "Length required: send the body with a Content-Length" },
            { "huge header", "GET / HTTP/1.1\r\nX-Padding: " + QByteArray(70 * 1024, 'x') + "\r\n\r\n", 431,
                "Request headers too large" },
            { "negative length", speechHead + "Content-Length: -5\r\n\r\n", 400, "Invalid Content-Length" },
            // Each of these once let a second request ride in what one parser took for a body.
            { "space before the colon",
                speechHead + "Content-Length : 24\r\n\r\nGET /healthz HTTP/1.1\r\n\r\n", 400,
                "Whitespace before the colon in a header field" },
            { "two lengths",
                speechHead + "Content-Length: 0\r\nContent-Length: 24\r\n\r\nGET /healthz HTTP/1.1\r\n\r\n",
                400, "Invalid Content-Length" },
            { "chunked with a length",
                speechHead
                    + "Transfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n0\r\n\r\nGET /healthz "
                      "HTTP/1.1\r\n\r\n",
                400, "Transfer-Encoding and Content-Length together" },
            { "folded length",
                speechHead + "X-A: 1\r\n Content-Length: 24\r\n\r\nGET /healthz HTTP/1.1\r\n\r\n", 400,
                "Folded header lines are not accepted" },
            { "bare LF", "GET /healthz HTTP/1.1\nContent-Length: 24\n\nGET /healthz HTTP/1.1\r\n\r\n", 400,
                "Bare CR or LF in the request head" },
        };
        for (const auto &row : rows)
            QTest::newRow(row.name) << row.bytes << row.status << QString::fromUtf8(row.error) << row.closes;
    }

    void rejectsBadInput()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        QFETCH(QString, error);
        QFETCH(bool, closes);
        Exchange answer(m_server.port(), bytes);
        QCOMPARE(answer.wait().status(), status);
        QCOMPARE(answer.json(), QJsonObject({ { "type", "error" }, { "error", error } }));
        // Nothing sent behind a refusal is answered.
        if (closes)
            QCOMPARE(answersUntilClosed(answer), 1);
        QVERIFY(m_server.isRunning());
        QCOMPARE(post("sampleRate=16000", silence), transcript(QString()));
    }

    void timesOutSlowClients()
    {
        Exchange headersNeverEnd(m_server.port(), speechHead + "Host: x\r\n");
        Exchange bodyStalls(
            m_server.port(), speechHead + "Content-Length: 96000\r\n\r\n" + QByteArray(100, '\0'));
        {
            Exchange vanishes(
                m_server.port(), speechHead + "Content-Length: 96000\r\n\r\n" + QByteArray(1000, '\0'));
            QVERIFY(vanishes.socket.waitForBytesWritten(5000));
            vanishes.socket.abort();
        }
        // Meanwhile others are served.
        QCOMPARE(post("sampleRate=16000", m_speech), transcript(phrase));
        for (Exchange *stalled : { &headersNeverEnd, &bodyStalls }) {
            QCOMPARE(stalled->wait(5000).status(), 408);
            QVERIFY(
                stalled->json().value("error").toString().startsWith(QStringLiteral("Request timeout: ")));
        }
        QVERIFY(m_server.isRunning());
        QCOMPARE(post("sampleRate=16000", silence), transcript(QString()));
    }

    // Answers leave in the order the requests came, even when the first one
    // takes longest; a HEAD gets the GET's head and no body; `Connection:
    // close` ends the connection after its answer.
    void answersPipelinedRequestsInOrder()
    {
        Exchange pipeline(m_server.port(),
            speechPost("sampleRate=16000", m_speech) + request("GET", "/nowhere", {})
                + "HEAD /healthz HTTP/1.1\r\n\r\n" + speechPost("sampleRate=16000", silence)
                + "GET /healthz HTTP/1.1\r\nConnection: close\r\n\r\n" + request("GET", "/readyz", {}));
        QCOMPARE(answersUntilClosed(pipeline), 5);
        const QList<Answer> answers = splitAnswers(pipeline.received, { false, false, true, false, false });
        QCOMPARE(answers.size(), 5);
        QCOMPARE(QJsonDocument::fromJson(answers[0].body).object(), transcript(phrase));
        QCOMPARE(answers[1].status, 404);
        QCOMPARE(answers[2].status, 200);
        QVERIFY(answers[2].head.contains("Content-Length: 18"));
        QCOMPARE(QJsonDocument::fromJson(answers[3].body).object(), transcript(QString()));
        QCOMPARE(answers[4].body, R"({"status":"alive"})");
        QVERIFY(answers[4].head.contains("Connection: close"));
        QCOMPARE(post("sampleRate=16000", silence), transcript(QString()));
    }

    void closesWhenAsked_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("closes");
        QTest::addRow("Connection: close")
            << QByteArray("GET /healthz HTTP/1.1\r\nConnection: close\r\n\r\n") << true;
        QTest::addRow("HTTP/1.0") << QByteArray("GET /healthz HTTP/1.0\r\n\r\n") << true;
        QTest::addRow("HTTP/1.0 asking to keep alive")
            << QByteArray("GET /healthz HTTP/1.0\r\nConnection: keep-alive\r\n\r\n") << true;
        QTest::addRow("HTTP/1.1") << QByteArray("GET /healthz HTTP/1.1\r\n\r\n") << false;
    }

    void closesWhenAsked()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, closes);
        Exchange exchange(m_server.port(), bytes);
        QCOMPARE(exchange.wait().status(), 200);
        if (closes) {
            QCOMPARE(answersUntilClosed(exchange), 1);
        } else {
            exchange.socket.write(request("GET", "/readyz", {}));
            QTRY_COMPARE(splitAnswers(exchange.received += exchange.socket.readAll()).size(), 2);
            QCOMPARE(exchange.socket.state(), QAbstractSocket::ConnectedState);
        }
        QCOMPARE(post("sampleRate=16000", silence), transcript(QString()));
    }

    // The audio length allowed depends on the rate the upload names.
    void limitsUploadLength_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<int>("status");
        QTest::addRow("31 s at 16 kHz") << QByteArray("sampleRate=16000") << 31 * 32000 << 413;
        QTest::addRow("just over 30 s at 16 kHz") << QByteArray("sampleRate=16000") << 30 * 32000 + 2 << 413;
        QTest::addRow("16 s at 8 kHz") << QByteArray("sampleRate=8000") << 16 * 32000 << 413;
        QTest::addRow("16 s at 16 kHz") << QByteArray("sampleRate=16000") << 16 * 32000 << 200;
    }

    void limitsUploadLength()
    {
        QFETCH(QByteArray, query);
        QFETCH(int, bytes);
        QFETCH(int, status);
        Exchange upload(m_defaults.port(), speechPost(query, QByteArray(bytes, '\0')));
        QCOMPARE(upload.wait().status(), status);
        if (status == 413)
            QCOMPARE(upload.json(),
                QJsonObject(
                    { { "type", "error" }, { "error", "Upload too long: at most 30 seconds of audio" } }));
        else
            QCOMPARE(upload.json(), transcript(QString()));
        QCOMPARE(Exchange(m_defaults.port(), speechPost("sampleRate=16000", silence)).wait().json(),
            transcript(QString()));
    }

    // A third upload from a client with two in flight is turned away at once;
    // other clients are served meanwhile, and the client again once one is answered.
    void limitsUploadsInFlightPerClient()
    {
        const QByteArray pcm = longSpeech(m_speech, 4);
        Exchange first(m_defaults.port(), speechPost("sampleRate=16000", pcm));
        Exchange second(m_defaults.port(), speechPost("sampleRate=16000", pcm));
        const auto inFlight = [this] {
            return Exchange(m_defaults.port(), request("GET", "/metrics", {}))
                .wait()
                .body()
                .contains("\ntellwind_uploads_in_flight 2\n");
        };
        QTRY_VERIFY(inFlight());

        Exchange third(m_defaults.port(), speechPost("sampleRate=16000", m_speech));
        QCOMPARE(third.wait().status(), 429);
        QVERIFY(third.received.contains("\r\nRetry-After: 1\r\n"));
        QCOMPARE(third.json(),
            QJsonObject({ { "type", "error" },
                { "error", "Too many uploads at once: wait for one to be answered" } }));
        QVERIFY(!first.done() && !second.done());

        const QList<Answer> other = splitAnswers(exchangeFrom(QHostAddress(QStringLiteral("127.0.0.2")),
            m_defaults.port(), speechPost("sampleRate=16000", m_speech)));
        QCOMPARE(other.size(), 1);
        QCOMPARE(QJsonDocument::fromJson(other[0].body).object(), transcript(phrase));

        for (Exchange *upload : { &first, &second })
            QCOMPARE(upload->wait().json().value("text").toString().count(QStringLiteral("dictation")), 4);
        QCOMPARE(Exchange(m_defaults.port(), speechPost("sampleRate=16000", m_speech)).wait().json(),
            transcript(phrase));
    }

    // /metrics as a real Prometheus scraper reads it, after the uploads above.
    void servesMetricsAndHealth()
    {
        Exchange health(m_server.port(), request("GET", "/healthz", {}));
        QCOMPARE(health.wait().status(), 200);
        QCOMPARE(health.json(), QJsonObject({ { "status", "alive" } }));
        Exchange ready(m_server.port(), request("GET", "/readyz", {}));
        QCOMPARE(ready.wait().status(), 200);
        QCOMPARE(ready.json().value("status"), "ready");

        Exchange metrics(m_server.port(), request("GET", "/metrics", {}));
        QCOMPARE(metrics.wait().status(), 200);
        QVERIFY(metrics.received.contains("Content-Type: text/plain; version=0.0.4"));
        QProcess parser;
        // Debian's interpreter, which the test dependencies give the parser.
        parser.start(QStringLiteral("/usr/bin/python3"), { QStringLiteral("-c"), QStringLiteral(R"(
import json, sys
from prometheus_client.parser import text_string_to_metric_families
print(json.dumps({f.name: {"type": f.type, "samples": [[s.name, s.labels, s.value] for s in f.samples]}
                  for f in text_string_to_metric_families(sys.stdin.read())}))
)") });
        parser.write(metrics.body());
        parser.closeWriteChannel();
        QVERIFY(parser.waitForFinished(30000));
        QCOMPARE(parser.exitCode(), 0);
        const QJsonObject families = QJsonDocument::fromJson(parser.readAllStandardOutput()).object();

        const auto value = [&](const char *family, const char *sample, const QJsonObject &labels = {}) {
            for (const QJsonValue &entry : families.value(family).toObject().value("samples").toArray()) {
                const QJsonArray row = entry.toArray();
                if (row[0] == sample && row[1].toObject() == labels)
                    return row[2].toDouble();
            }
            return -1.0;
        };
        QCOMPARE(families.value("tellwind_http_requests").toObject().value("type"), "counter");
        QVERIFY(value("tellwind_http_requests", "tellwind_http_requests_total",
                    { { "route", "/api/speech" }, { "status", "200" } })
            >= 3);
        QVERIFY(value("tellwind_http_requests", "tellwind_http_requests_total",
                    { { "route", "/api/speech" }, { "status", "400" } })
            >= 1);
        // Paths nobody serves are counted together, so clients cannot grow the set.
        QVERIFY(value("tellwind_http_requests", "tellwind_http_requests_total",
                    { { "route", "other" }, { "status", "404" } })
            >= 1);
        QVERIFY(!metrics.body().contains("route=\"/nowhere\""));
        QCOMPARE(families.value("tellwind_decode_seconds").toObject().value("type"), "histogram");
        QVERIFY(value("tellwind_decode_seconds", "tellwind_decode_seconds_count") >= 3);
        QCOMPARE(value("tellwind_decode_seconds", "tellwind_decode_seconds_bucket", { { "le", "+Inf" } }),
            value("tellwind_decode_seconds", "tellwind_decode_seconds_count"));
        QCOMPARE(families.value("tellwind_upstream_seconds").toObject().value("type"), "histogram");
        QCOMPARE(value("tellwind_uploads_in_flight", "tellwind_uploads_in_flight"), 0.0);
        QCOMPARE(value("tellwind_signin_failures", "tellwind_signin_failures_total"), 0.0);
        QCOMPARE(value("tellwind_signin_lockouts", "tellwind_signin_lockouts_total"), 0.0);
    }

    void notReadyWithoutTheAccountDatabase()
    {
        ServerProcess server;
        QVERIFY(server.start());
        QCOMPARE(Exchange(server.port(), request("GET", "/readyz", {})).wait().status(), 200);
        QVERIFY(QDir(server.dataDir()).removeRecursively());
        Exchange ready(server.port(), request("GET", "/readyz", {}));
        QCOMPARE(ready.wait().status(), 503);
        QCOMPARE(ready.json(),
            QJsonObject({ { "status", "not ready" }, { "failing", QJsonArray { "accounts" } } }));
        QCOMPARE(Exchange(server.port(), request("GET", "/healthz", {})).wait().status(), 200);
    }

    // SIGTERM: no new connections, the upload in flight is answered, exit 0.
    // The JSON access log names each request without its query.
    void stopsCleanlyOnSigterm()
    {
        QTemporaryDir data;
        QProcess process;
        QByteArray output;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(ServerProcess::binary(),
            { "--listen", "127.0.0.1:0", "--data-dir", data.path(), "--decoders", "1", "--log-format",
                "json" });
        static const QRegularExpression listening(QStringLiteral("listening on http://[^ ]+:(\\d+)"));
        QTRY_VERIFY_WITH_TIMEOUT(
            listening.match(QString::fromUtf8(output += process.readAllStandardOutput())).hasMatch(), 60000);
        const quint16 port = listening.match(QString::fromUtf8(output)).captured(1).toUShort();

        QCOMPARE(
            Exchange(port, request("GET", "/api/auth/verify?token=secret-token-4711", {})).wait().status(),
            401);
        // Short enough to be decoded within the stop's time limit on a busy machine.
        Exchange upload(port, speechPost("sampleRate=16000", longSpeech(m_speech, 1)));
        QTRY_VERIFY(upload.socket.bytesToWrite() == 0);
        ::kill(pid_t(process.processId()), SIGTERM);
        QTRY_VERIFY(QString::fromUtf8(output += process.readAllStandardOutput()).contains("stopping"));
        QTcpSocket late;
        late.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(!late.waitForConnected(5000));

        QCOMPARE(upload.wait().status(), 200);
        QCOMPARE(upload.json(), transcript(phrase));
        QVERIFY(process.waitForFinished(15000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);

        output += process.readAllStandardOutput();
        QVERIFY(!output.contains("secret-token-4711"));
        QStringList routes;
        for (const QByteArray &line : output.split('\n')) {
            const QJsonObject entry = QJsonDocument::fromJson(line).object();
            if (entry.isEmpty())
                continue;
            QVERIFY(entry.value("durationMs").isDouble());
            QCOMPARE(entry.value("client"), "127.0.0.1");
            routes.append(QStringLiteral("%1 %2 %3")
                              .arg(entry.value("method").toString(), entry.value("route").toString(),
                                  QString::number(entry.value("status").toInt())));
        }
        QCOMPARE(routes, QStringList({ "GET /api/auth/verify 401", "POST /api/speech 200" }));
    }
};

QTEST_GUILESS_MAIN(TestServer)
#include "test_server.moc"
