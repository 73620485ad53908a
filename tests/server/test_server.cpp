#include "support/ServerProcess.h"

#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrlQuery>

#include <memory>
#include <vector>

#include <signal.h>

namespace
{

const QString phrase = QStringLiteral("hello world this is a test of the dictation system");
const QByteArray silence(16000, '\0');
const QByteArray speechHead = "POST /api/speech?sampleRate=16000 HTTP/1.1\r\n";

// Resident memory of a process, in KiB.
qint64 residentKiB(qint64 pid)
{
    QFile statm(QStringLiteral("/proc/%1/statm").arg(pid));
    return statm.open(QIODevice::ReadOnly) ? statm.readAll().split(' ').value(1).toLongLong() * 4 : -1;
}

} // namespace

class TestServer : public QObject
{
    Q_OBJECT

    ServerProcess m_server { { "--decoders", "2", "--client-timeout", "1", "--max-upload-seconds", "60",
        "--max-uploads-per-client", "4" } };
    // Everything at its defaults: 30 s uploads, two in flight per client.
    ServerProcess m_defaults;
    QByteArray m_speech;

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        m_speech = spokenPcm(phrase);
        QVERIFY(m_speech.size() > 32000);
        QVERIFY(m_server.start());
        QVERIFY(m_defaults.start());
    }

    // A head that could be framed two ways ends the connection: no request may ride in what one parser took
    // for a body. What the application refuses keeps it.
    void rejectsBadInput_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        const QByteArray hidden = "GET /healthz HTTP/1.1\r\n\r\n";
        QTest::addRow("odd length") << speechPost(QByteArray(48001, '\1')) << 400
                                    << "Odd body length 48001: 16-bit samples take two bytes each";
        QTest::addRow("too large") << speechHead + "Content-Length: 10485762\r\n\r\n"
                                   << 413 << "Body too large: at most 10485760 bytes";
        QTest::addRow("huge header") << "GET / HTTP/1.1\r\nX-Padding: " + QByteArray(70 * 1024, 'x')
                + "\r\n\r\n" << 431 << "Request headers too large";
        const struct {
            const char *name;
            QByteArray head;
            int status;
            const char *error;
        } framing[] = {
            { "two lengths", "Content-Length: 4\r\nContent-Length: 40", 400, "Invalid Content-Length" },
            { "chunked and length", "Transfer-Encoding: chunked\r\nContent-Length: 4", 400,
                "Transfer-Encoding and Content-Length together" },
            { "chunked", "Transfer-Encoding: chunked", 411,
                "Length required: send the body with a Content-Length" },
            { "folded line", "X-A: 1\r\n Content-Length: 4", 400, "Folded header lines are not accepted" },
            { "bare LF", "X-A: 1\nContent-Length: 4", 400, "Bare CR or LF in the request head" },
        };
        for (const auto &row : framing)
            QTest::addRow("%s", row.name) << speechHead + row.head + "\r\n\r\nabcd" + hidden << row.status
                                          << QString::fromUtf8(row.error);
        // Once counted as a body length by the guard and not by the HTTP layer.
        QTest::addRow("space before the colon") << speechHead + "Content-Length : 24\r\n\r\n" + hidden << 400
                                                << "Whitespace before the colon in a header field";
        // Escapes and dot segments would slip a route past the upload limits that compare it as sent.
        QTest::addRow("escaped path") << httpRequest("POST", "/api/%73peech?sampleRate=16000", silence) << 400
                                      << "Escaped characters are not accepted in the path";
        QTest::addRow("dot segment") << httpRequest("GET", "/api/./languages") << 400
                                     << "Dot segments and empty segments are not accepted in the path";
        QTest::addRow("empty segment") << httpRequest("POST", "//api/speech?sampleRate=16000", silence) << 400
                                       << "Dot segments and empty segments are not accepted in the path";
        // A page elsewhere making a visitor's browser use the decoders.
        const QByteArray upload = "/api/speech?sampleRate=16000";
        QTest::addRow("another site's page")
            << httpRequest("POST", upload, silence, { "Origin: https://evil.example" }) << 403
            << "Cross-site requests are not accepted";
        for (const char *site : { "cross-site", "same-site" })
            QTest::addRow("%s fetch", site)
                << httpRequest("GET", "/api/languages", {}, { "Sec-Fetch-Site: " + QByteArray(site) }) << 403
                << "Cross-site requests are not accepted";
        QTest::addRow("speech as a form")
            << httpRequest("POST", upload, silence, { "Content-Type: text/plain" }) << 403
            << "Speech must be sent as application/octet-stream";
        // What is logged of a refused request stays on its line.
        QTest::addRow("line feed in the method")
            << QByteArray("GET\nFORGED / HTTP/1.1\r\n\r\n") << 400 << "Bare CR or LF in the request head";
    }

    void rejectsBadInput()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        QFETCH(QString, error);
        RawExchange exchange(m_server.port(), bytes);
        const HttpMessage answer = exchange.wait();
        QCOMPARE(answer.status, status);
        QCOMPARE(answer.json(), errorJson(error));
        QCOMPARE(answer.header("X-Content-Type-Options"), "nosniff");
        if (qstrcmp(QTest::currentDataTag(), "odd length") != 0)
            QCOMPARE(exchange.answersUntilClosed(), 1);
        QCOMPARE(m_server.send(speechPost(silence)).json(), transcriptJson({}));
    }

    // In order though the first takes longest; HEAD gets no body; open until `Connection: close`.
    void answersPipelinedRequestsInOrder()
    {
        RawExchange pipeline(m_server.port(),
            speechPost(m_speech) + httpRequest("GET", "/nowhere") + "HEAD /healthz HTTP/1.1\r\n\r\n"
                + speechPost(silence) + "GET /healthz HTTP/1.1\r\nConnection: close\r\n\r\n"
                + httpRequest("GET", "/readyz"));
        QCOMPARE(pipeline.answersUntilClosed(), 5);
        const QList<HttpMessage> answers = pipeline.answers({ false, false, true });
        QCOMPARE(answers[0].json(), transcriptJson(phrase));
        QCOMPARE(
            (QList { answers[1].status, answers[2].status, answers[3].status }), (QList { 404, 200, 200 }));
        QCOMPARE(answers[2].header("Content-Length"), "18");
        QCOMPARE(answers[3].json(), transcriptJson({}));
        QCOMPARE(answers[4].body + ' ' + answers[4].header("Connection"), R"({"status":"alive"} close)");
        // HTTP/1.0 closes after its answer even when asked to keep alive.
        RawExchange old(m_server.port(), "GET /healthz HTTP/1.0\r\nConnection: keep-alive\r\n\r\n");
        QCOMPARE(old.answersUntilClosed(), 1);
    }

    // A third upload in flight is turned away at once (decodes run beside the event loop), until one is
    // answered.
    void limitsUploadsInFlightPerClient()
    {
        const QByteArray pcm = (m_speech + silence).repeated(4);
        RawExchange first(m_defaults.port(), speechPost(pcm));
        RawExchange second(m_defaults.port(), speechPost(pcm));
        QTRY_VERIFY(m_defaults.get("/metrics").body.contains("\ntellwind_uploads_in_flight 2\n"));

        const HttpMessage third = m_defaults.send(speechPost(m_speech));
        QCOMPARE(third.status, 429);
        QCOMPARE(third.header("Retry-After"), "1");
        QCOMPARE(third.json(), errorJson("Too many uploads at once: wait for one to be answered"));
        QVERIFY(!first.done() && !second.done());
        for (RawExchange *upload : { &first, &second })
            QCOMPARE(upload->wait().json().value("text").toString().count(QStringLiteral("dictation")), 4);
        QCOMPARE(m_defaults.send(speechPost(m_speech)).json(), transcriptJson(phrase));
    }

    // /metrics as a real Prometheus scraper reads it, after the uploads above.
    void servesMetricsAndHealth()
    {
        // The program's own upload, as a same-origin page's would be, is served.
        const HttpMessage own = m_server.send(httpRequest("POST", "/api/speech?sampleRate=16000", silence,
            { "Origin: http://127.0.0.1", "Sec-Fetch-Site: same-origin",
                "Content-Type: application/octet-stream" }));
        QCOMPARE(own.json(), transcriptJson({}));
        QCOMPARE(own.header("X-Content-Type-Options"), "nosniff");
        const HttpMessage metrics = m_server.get("/metrics");
        QCOMPARE(metrics.status, 200);
        QVERIFY(metrics.header("Content-Type").startsWith("text/plain; version=0.0.4"));
        QProcess parser;
        // Debian's interpreter, which the test dependencies give the parser.
        parser.start(QStringLiteral("/usr/bin/python3"), { QStringLiteral("-c"), QStringLiteral(R"(
import json, sys
from prometheus_client.parser import text_string_to_metric_families
out = {}
for f in text_string_to_metric_families(sys.stdin.read()):
    out[f.name] = f.type
    out.update({s.name + json.dumps(s.labels, sort_keys=True): s.value for s in f.samples})
print(json.dumps(out))
)") });
        parser.write(metrics.body);
        parser.closeWriteChannel();
        QVERIFY(parser.waitForFinished(30000));
        QCOMPARE(parser.exitCode(), 0);
        const QJsonObject parsed = QJsonDocument::fromJson(parser.readAllStandardOutput()).object();
        const auto value = [&](const char *sample, const char *labels = "{}") {
            return parsed.value(QLatin1String(sample) + QLatin1String(labels)).toDouble(-1);
        };
        QCOMPARE(parsed.value("tellwind_http_requests"), "counter");
        QVERIFY(value("tellwind_http_requests_total", R"({"route": "/api/speech", "status": "200"})") >= 3);
        QVERIFY(value("tellwind_http_requests_total", R"({"route": "/api/speech", "status": "400"})") >= 1);
        // Paths nobody serves are counted together, so clients cannot grow the set.
        QVERIFY(value("tellwind_http_requests_total", R"({"route": "other", "status": "404"})") >= 1);
        QVERIFY(!metrics.body.contains("route=\"/nowhere\""));
        QVERIFY(!metrics.body.contains("%73"));
        QCOMPARE(m_server.logLines().filter(QRegularExpression(QStringLiteral("^FORGED"))), QStringList());
        QCOMPARE(parsed.value("tellwind_decode_seconds"), "histogram");
        QVERIFY(value("tellwind_decode_seconds_count") >= 3);
        QCOMPARE(value("tellwind_decode_seconds_bucket", R"({"le": "+Inf"})"),
            value("tellwind_decode_seconds_count"));
    }

    // A client that pipelines and never reads is no longer read once its answers back up; others are served.
    void holdsNoMoreThanAConnectionCanUse()
    {
        const qint64 pid = m_defaults.process().processId();
        QCOMPARE(m_defaults.get("/healthz").status, 200);
        const qint64 before = residentKiB(pid);
        const QByteArray one = "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        QTcpSocket greedy;
        greedy.setReadBufferSize(4096);
        greedy.connectToHost(QHostAddress::LocalHost, m_defaults.port());
        QVERIFY(greedy.waitForConnected(5000));
        greedy.write(one.repeated(48 * 1024 * 1024 / one.size()));
        // Until the server stops taking what the client sends.
        qint64 unsent = greedy.bytesToWrite();
        QVERIFY(QTest::qWaitFor(
            [&] {
                QTest::qWait(500);
                const qint64 now = greedy.bytesToWrite();
                return std::exchange(unsent, now) == now;
            },
            120000));
        QVERIFY2(unsent > 0, "the server took every request a non-reading client sent");
        const qint64 grown = residentKiB(pid) - before;
        QVERIFY2(grown < 32 * 1024, qPrintable(QStringLiteral("grew by %1 KiB").arg(grown)));
        QCOMPARE(m_defaults.get("/healthz").status, 200);
    }

    // One address beyond its share of connections is turned away while another is served.
    void sharesConnectionsAmongAddresses()
    {
        ServerProcess server({ "--max-connections-per-client", "3" });
        QVERIFY(server.start());
        std::vector<std::unique_ptr<RawExchange>> slow;
        for (int i = 0; i < 3; ++i)
            slow.push_back(std::make_unique<RawExchange>(
                server.port(), "POST /auth/login HTTP/1.1\r\nContent-Length: 32000\r\n\r\n"));
        QTRY_VERIFY(std::all_of(slow.cbegin(), slow.cend(), [](const auto &exchange) {
            return exchange->socket.state() == QAbstractSocket::ConnectedState;
        }));
        // Accepted in order: the three are held before the fourth is seen.
        const HttpMessage turnedAway = server.get("/healthz");
        QCOMPARE(turnedAway.status, 503);
        QCOMPARE(turnedAway.json(), errorJson("Too many connections from your address"));
        QCOMPARE(RawExchange(server.port(), httpRequest("GET", "/healthz"), QHostAddress("127.0.0.2"))
                     .wait()
                     .status,
            200);
        // The slow bodies are cut off at the default body deadline, freeing the slots.
        for (const auto &exchange : slow)
            QCOMPARE(exchange->wait(30000).status, 408);
        slow.clear();
        QTRY_COMPARE(server.get("/healthz").status, 200);
    }

    // Speech only for the signed-in, under one public name; the operations
    // paths answer whatever name the monitoring knows the machine by.
    void servesSpeechToTheSignedInUnderItsPublicName()
    {
        const QByteArray email = "ada@example.com", password = "correct horse battery";
        ServerProcess server(
            { "--speech-access", "signed-in", "--public-origin", "http://speech.example:8750" });
        QVERIFY(ServerProcess::addUser({ "--data-dir", server.dataDir() }, email, password));
        QVERIFY(server.start());
        const auto ask = [&](QByteArray request, const QList<QByteArray> &headers = {},
                             const QByteArray &host = "speech.example:8750") {
            request.replace("Host: 127.0.0.1\r\n",
                "Host: " + host + "\r\n" + headers.join("\r\n") + (headers.isEmpty() ? "" : "\r\n"));
            return RawExchange(server.port(), request).wait();
        };
        // A sign-in as the browser would make it, for the program's token.
        const QByteArray cookie
            = ask(httpRequest("GET", "/auth/login")).header("Set-Cookie").split(';').first();
        const QByteArray form = formBody({ { "email", email }, { "password", password },
            { "action", "signin" }, { "csrf", cookie.mid(cookie.indexOf('=') + 1) } });
        const HttpMessage signedIn = ask(httpRequest("POST", "/auth/login", form),
            { "Content-Type: application/x-www-form-urlencoded", "Cookie: " + cookie });
        const QByteArray token = QUrlQuery(QUrl(QString::fromLatin1(signedIn.header("Location"))))
                                     .queryItemValue("token")
                                     .toLatin1();
        QVERIFY2(!token.isEmpty(), signedIn.header("Location"));

        const QByteArray upload = httpRequest("POST", "/api/speech?sampleRate=16000", silence);
        const HttpMessage anonymous = ask(upload);
        QCOMPARE(anonymous.status, 401);
        QCOMPARE(anonymous.header("WWW-Authenticate"), "Bearer realm=\"tellwind\"");
        QCOMPARE(anonymous.json(), errorJson("Sign in to use speech recognition on this server"));
        QCOMPARE(ask(upload, { "Authorization: Bearer not-a-session" }).status, 401);
        QCOMPARE(
            ask(upload, { "Authorization: Bearer " + token, "Origin: http://speech.example:8750" }).json(),
            transcriptJson({}));
        QCOMPARE(ask(upload, { "Authorization: Bearer " + token, "Origin: http://127.0.0.1" }).status, 403);
        QCOMPARE(ask(upload, { "Authorization: Bearer " + token }, "127.0.0.1").status, 421);
        QCOMPARE(ask(httpRequest("GET", "/healthz"), {}, "10.0.0.8").status, 200);
    }

    // A stop out of time still answers every upload it took (503 and a time to retry); the log stays JSON
    // lines.
    void answersEveryUploadWhenStopped()
    {
        ServerProcess server({ "--decoders", "1", "--max-uploads-per-client", "16", "--max-upload-seconds",
            "120", "--log-format", "json" });
        QVERIFY(server.start());
        const QByteArray pcm = (m_speech + silence).repeated(10);
        std::vector<std::unique_ptr<RawExchange>> uploads;
        for (int i = 0; i < 6; ++i)
            uploads.push_back(std::make_unique<RawExchange>(server.port(), speechPost(pcm)));
        QTRY_VERIFY(std::all_of(uploads.cbegin(), uploads.cend(),
            [](const auto &upload) { return upload->socket.bytesToWrite() == 0; }));
        QTRY_VERIFY(server.get("/metrics").body.contains("\ntellwind_uploads_in_flight 6\n"));
        QCOMPARE(server.get("/nowhere").status, 404);
        ::kill(pid_t(server.process().processId()), SIGTERM);
        QMap<int, int> statuses;
        for (const auto &upload : uploads) {
            const HttpMessage answer = upload->wait(60000);
            ++statuses[answer.status];
            if (answer.status == 503)
                QCOMPARE(answer.header("Retry-After"), "5");
        }
        QCOMPARE(statuses.value(200) + statuses.value(503), 6);
        QVERIFY(statuses.value(503) > 0);
        QVERIFY(server.hasEnded(15000));
        QCOMPARE(server.process().exitCode(), 0);
        const QStringList lines = server.logLines();
        QVERIFY(lines.size() > 8);
        for (const QString &line : lines)
            QVERIFY2(QJsonDocument::fromJson(line.toUtf8()).isObject(), qPrintable(line));
    }

    void describesItsOptions()
    {
        const auto run = [](const QString &option) {
            QProcess process;
            process.start(ServerProcess::binary(), { option });
            return process.waitForFinished(30000) && process.exitCode() == 0 ? process.readAllStandardOutput()
                                                                             : QByteArray();
        };
        QVERIFY(run("--version").startsWith("tellwind-server "));
        const QByteArray help = run("--help");
        for (const char *option :
            { "--speech-access", "--public-origin", "--max-connections-per-client", "--version" })
            QVERIFY2(help.contains(option), option);
    }

    // SIGTERM: no new connections, the upload in flight answered, exit 0; a query's token never logged.
    void stopsCleanlyOnSigterm()
    {
        ServerProcess server({ "--decoders", "1" });
        QVERIFY(server.start());
        QCOMPARE(server.get("/api/auth/verify?token=secret-token-4711").status, 401);
        // Short enough to be decoded within the stop's time limit on a busy machine.
        RawExchange upload(server.port(), speechPost(m_speech));
        QTRY_VERIFY(upload.socket.bytesToWrite() == 0);
        ::kill(pid_t(server.process().processId()), SIGTERM);
        QTRY_VERIFY(!server.logLines().filter(QStringLiteral("stopping")).isEmpty());
        QTcpSocket late;
        late.connectToHost(QHostAddress::LocalHost, server.port());
        QVERIFY(!late.waitForConnected(5000));

        QCOMPARE(upload.wait().json(), transcriptJson(phrase));
        QVERIFY(server.hasEnded(15000));
        QCOMPARE(server.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(server.process().exitCode(), 0);

        QVERIFY(server.logLines().filter(QStringLiteral("secret-token-4711")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestServer)
#include "test_server.moc"
