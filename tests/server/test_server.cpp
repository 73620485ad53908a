// tellwind-server as a process: framing, refusals, client limits, metrics, stops, access, models, upstream.
#include "support/ScriptedHttpServer.h"
#include "support/ServerProcess.h"

#include <QDir>
#include <QStandardPaths>
#include <QUrlQuery>
#include <QtEndian>

#include <memory>
#include <vector>

#include <signal.h>

namespace
{

using Reply = ScriptedHttpServer::Reply;

const QString phrase = QStringLiteral("hello world this is a test of the dictation system");
const QByteArray silence(16000, '\0');
const QByteArray upload = "/api/speech?sampleRate=16000";
const QString debianModel = QStringLiteral("/usr/share/pocketsphinx/model/en-us");

qint64 residentKiB(qint64 pid)
{
    QFile statm(QStringLiteral("/proc/%1/statm").arg(pid));
    return statm.open(QIODevice::ReadOnly) ? statm.readAll().split(' ').value(1).toLongLong() * 4 : -1;
}

std::vector<std::unique_ptr<RawExchange>> exchanges(int count, quint16 port, const QByteArray &bytes)
{
    std::vector<std::unique_ptr<RawExchange>> all;
    while (int(all.size()) < count)
        all.push_back(std::make_unique<RawExchange>(port, bytes));
    return all;
}

// Debian's US-English model under another code, by links; `damaged` cuts its means short, as a broken
// download would.
bool englishModelAs(const QDir &models, const QString &code, bool damaged = false)
{
    const QString acoustic = models.filePath(code + "/acoustic-model/"), source = debianModel + "/en-us/";
    bool made = models.mkpath(acoustic)
        && QFile::link(debianModel + "/en-us.lm.bin", models.filePath(code + "/language.lm.bin"))
        && QFile::link(debianModel + "/cmudict-en-us.dict", models.filePath(code + "/words.dict"));
    for (const QString &name : QDir(source).entryList(QDir::Files))
        made = made && QFile::link(source + name, acoustic + name);
    QFile means(source + "means"), cut(acoustic + "means");
    return made
        && (!damaged
            || (cut.remove() && means.open(QIODevice::ReadOnly) && cut.open(QIODevice::WriteOnly)
                && cut.write(means.read(1000)) == 1000));
}

// A recognisable, non-silent body: a ramp, so that a shifted or cut copy shows.
QByteArray rampPcm(int samples)
{
    QByteArray pcm(samples * 2, Qt::Uninitialized);
    for (int i = 0; i < samples; ++i)
        qToLittleEndian<qint16>(qint16((i * 37) % 20000 - 10000), pcm.data() + 2 * i);
    return pcm;
}

// The multipart/form-data field `name`; null when the form has none.
QByteArray formField(const HttpMessage &request, const QByteArray &name)
{
    const QByteArray type = request.header("Content-Type"), &body = request.body;
    const qsizetype part = body.indexOf("; name=\"" + name + '"');
    if (!type.startsWith("multipart/form-data; boundary=") || part < 0)
        return {};
    const qsizetype start = body.indexOf("\r\n\r\n", part) + 4;
    return body.mid(start, body.indexOf("\r\n--" + type.mid(type.indexOf('=') + 1), start) - start);
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
    void rejectsBadInput()
    {
        const QByteArray post = "POST " + upload + " HTTP/1.1\r\n";
        const auto framed = [&](const QByteArray &head) {
            return post + head + "\r\n\r\nabcdGET /healthz HTTP/1.1\r\n\r\n";
        };
        const auto withHeader = [](const QByteArray &method, const QByteArray &path, const QByteArray &line) {
            return httpRequest(method, path, method == "POST" ? silence : QByteArray(), { line });
        };
        const char *const bareLf = "Bare CR or LF in the request head",
                          *const crossSite = "Cross-site requests are not accepted",
                          *const dots = "Dot segments and empty segments are not accepted in the path";
        const struct {
            const char *name;
            QByteArray bytes;
            int status;
            const char *error;
        } rows[] = {
            { "odd length", speechPost(QByteArray(48001, '\1')), 400,
                "Odd body length 48001: 16-bit samples take two bytes each" },
            { "too large", post + "Content-Length: 10485762\r\n\r\n", 413,
                "Body too large: at most 10485760 bytes" },
            { "huge header", "GET / HTTP/1.1\r\nX-Padding: " + QByteArray(70 * 1024, 'x') + "\r\n\r\n", 431,
                "Request headers too large" },
            { "two lengths", framed("Content-Length: 4\r\nContent-Length: 40"), 400,
                "Invalid Content-Length" },
            { "chunked and length", framed("Transfer-Encoding: chunked\r\nContent-Length: 4"), 400,
                "Transfer-Encoding and Content-Length together" },
            { "chunked", framed("Transfer-Encoding: chunked"), 411,
                "Length required: send the body with a Content-Length" },
            { "folded line", framed("X-A: 1\r\n Content-Length: 4"), 400,
                "Folded header lines are not accepted" },
            { "bare LF", framed("X-A: 1\nContent-Length: 4"), 400, bareLf },
            // Once counted as a body length by the guard and not by the HTTP layer.
            { "space before the colon", framed("Content-Length : 24"), 400,
                "Whitespace before the colon in a header field" },
            // Escapes and dot segments would slip a route past the upload limits that compare it as sent.
            { "escaped path", httpRequest("POST", "/api/%73peech?sampleRate=16000", silence), 400,
                "Escaped characters are not accepted in the path" },
            { "dot segment", httpRequest("GET", "/api/./languages"), 400, dots },
            { "empty segment", httpRequest("POST", "//api/speech?sampleRate=16000", silence), 400, dots },
            // A page elsewhere making a visitor's browser use the decoders.
            { "another site's page", withHeader("POST", upload, "Origin: https://evil.example"), 403,
                crossSite },
            { "cross-site fetch", withHeader("GET", "/api/languages", "Sec-Fetch-Site: cross-site"), 403,
                crossSite },
            { "same-site fetch", withHeader("GET", "/api/languages", "Sec-Fetch-Site: same-site"), 403,
                crossSite },
            { "speech as a form", withHeader("POST", upload, "Content-Type: text/plain"), 403,
                "Speech must be sent as application/octet-stream" },
            // What is logged of a refused request stays on its line.
            { "line feed in the method", "GET\nFORGED / HTTP/1.1\r\n\r\n", 400, bareLf },
        };
        for (const auto &row : rows) {
            const auto guard = rowGuard(row.name);
            RawExchange exchange(m_server.port(), row.bytes);
            const HttpMessage answer = exchange.wait();
            QCOMPARE(answer.status, row.status);
            QCOMPARE(answer.json(), errorJson(row.error));
            QCOMPARE(answer.header("X-Content-Type-Options"), "nosniff");
            if (&row != rows) // the odd length, refused by the application
                QCOMPARE(exchange.answersUntilClosed(), 1);
            QCOMPARE(m_server.send(speechPost(silence)).json(), transcriptJson({}));
        }
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

    // A third upload in flight is turned away at once (decodes run beside the event loop) until one is done.
    void limitsUploadsInFlightPerClient()
    {
        const auto uploads = exchanges(2, m_defaults.port(), speechPost((m_speech + silence).repeated(4)));
        QTRY_VERIFY(m_defaults.get("/metrics").body.contains("\ntellwind_uploads_in_flight 2\n"));
        const HttpMessage third = m_defaults.send(speechPost(m_speech));
        QCOMPARE(third.status, 429);
        QCOMPARE(third.header("Retry-After"), "1");
        QCOMPARE(third.json(), errorJson("Too many uploads at once: wait for one to be answered"));
        QVERIFY(!uploads[0]->done() && !uploads[1]->done());
        for (const auto &taken : uploads)
            QCOMPARE(taken->wait().json().value("text").toString().count(QStringLiteral("dictation")), 4);
        QCOMPARE(m_defaults.send(speechPost(m_speech)).json(), transcriptJson(phrase));
    }

    // /metrics as a real Prometheus scraper reads it, after the uploads above; the program's own upload, as
    // a same-origin page's would be, is served.
    void servesMetricsAndHealth()
    {
        const HttpMessage own = m_server.send(httpRequest("POST", upload, silence,
            { "Origin: http://127.0.0.1", "Sec-Fetch-Site: same-origin",
                "Content-Type: application/octet-stream" }));
        QCOMPARE(own.json(), transcriptJson({}));
        QCOMPARE(own.header("X-Content-Type-Options"), "nosniff");
        const HttpMessage metrics = m_server.get("/metrics");
        QVERIFY(metrics.header("Content-Type").startsWith("text/plain; version=0.0.4"));
        QProcess parser; // Debian's interpreter, which the test dependencies give the parser
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
        QVERIFY(parser.waitForFinished(30000) && parser.exitCode() == 0);
        const QJsonObject parsed = QJsonDocument::fromJson(parser.readAllStandardOutput()).object();
        const auto value = [&](const char *sample, const char *labels = "{}") {
            return parsed.value(QLatin1String(sample) + QLatin1String(labels)).toDouble(-1);
        };
        const auto requests = [&](const char *route, const char *status) {
            return value("tellwind_http_requests_total",
                qPrintable(QStringLiteral(R"({"route": "%1", "status": "%2"})").arg(route, status)));
        };
        QCOMPARE(parsed.value("tellwind_http_requests"), "counter");
        QVERIFY(requests("/api/speech", "200") >= 3 && requests("/api/speech", "400") >= 1);
        // Paths nobody serves are counted together, so clients cannot grow the set.
        QVERIFY(requests("other", "404") >= 1);
        QVERIFY(!metrics.body.contains("route=\"/nowhere\"") && !metrics.body.contains("%73"));
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
        auto slow = exchanges(3, server.port(), "POST /auth/login HTTP/1.1\r\nContent-Length: 32000\r\n\r\n");
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

    // Speech only for the signed-in, under one public name; operations paths answer to any name.
    void servesSpeechToTheSignedInUnderItsPublicName()
    {
        const QByteArray email = "ada@example.com", password = "correct horse battery";
        ServerProcess server(
            { "--speech-access", "signed-in", "--public-origin", "http://speech.example:8750" });
        QVERIFY(ServerProcess::addUser({ "--data-dir", server.dataDir() }, email, password));
        QVERIFY(server.start());
        const auto ask = [&](const QByteArray &method, const QByteArray &path, const QByteArray &body,
                             QList<QByteArray> headers = {}, const QByteArray &host = "speech.example:8750") {
            return RawExchange(server.port(), httpRequest(method, path, body, headers << "Host: " + host))
                .wait();
        };
        // A sign-in as the browser would make it, for the program's token.
        const QByteArray cookie = ask("GET", "/auth/login", {}).header("Set-Cookie").split(';').first();
        const QByteArray form = formBody({ { "email", email }, { "password", password },
            { "action", "signin" }, { "csrf", cookie.mid(cookie.indexOf('=') + 1) } });
        const HttpMessage signedIn = ask("POST", "/auth/login", form,
            { "Content-Type: application/x-www-form-urlencoded", "Cookie: " + cookie });
        const QByteArray token = QUrlQuery(QUrl(QString::fromLatin1(signedIn.header("Location"))))
                                     .queryItemValue("token")
                                     .toLatin1();
        QVERIFY2(!token.isEmpty(), signedIn.header("Location"));

        const HttpMessage anonymous = ask("POST", upload, silence);
        QCOMPARE(anonymous.status, 401);
        QCOMPARE(anonymous.header("WWW-Authenticate"), "Bearer realm=\"tellwind\"");
        QCOMPARE(anonymous.json(), errorJson("Sign in to use speech recognition on this server"));
        const QByteArray bearer = "Authorization: Bearer " + token;
        QCOMPARE(ask("POST", upload, silence, { "Authorization: Bearer not-a-session" }).status, 401);
        QCOMPARE(ask("POST", upload, silence, { bearer, "Origin: http://speech.example:8750" }).json(),
            transcriptJson({}));
        QCOMPARE(ask("POST", upload, silence, { bearer, "Origin: http://127.0.0.1" }).status, 403);
        QCOMPARE(ask("POST", upload, silence, { bearer }, "127.0.0.1").status, 421);
        QCOMPARE(ask("GET", "/healthz", {}, {}, "10.0.0.8").status, 200);
    }

    // A stop out of time still answers every upload it took (503, a time to retry); the log stays JSON.
    void answersEveryUploadWhenStopped()
    {
        ServerProcess server({ "--decoders", "1", "--max-uploads-per-client", "16", "--max-upload-seconds",
            "120", "--log-format", "json" });
        QVERIFY(server.start());
        const auto uploads = exchanges(6, server.port(), speechPost((m_speech + silence).repeated(10)));
        QTRY_VERIFY(std::all_of(uploads.cbegin(), uploads.cend(),
            [](const auto &exchange) { return exchange->socket.bytesToWrite() == 0; }));
        QTRY_VERIFY(server.get("/metrics").body.contains("\ntellwind_uploads_in_flight 6\n"));
        QCOMPARE(server.get("/nowhere").status, 404);
        ::kill(pid_t(server.process().processId()), SIGTERM);
        QMap<int, int> statuses;
        for (const auto &exchange : uploads) {
            const HttpMessage answer = exchange->wait(60000);
            ++statuses[answer.status];
            if (answer.status == 503)
                QCOMPARE(answer.header("Retry-After"), "5");
        }
        QCOMPARE(statuses.value(200) + statuses.value(503), 6);
        QVERIFY(statuses.value(503) > 0);
        QVERIFY(server.hasEnded(15000) && server.process().exitCode() == 0);
        const QStringList lines = server.logLines();
        QVERIFY(lines.size() > 8);
        for (const QString &line : lines)
            QVERIFY2(QJsonDocument::fromJson(line.toUtf8()).isObject(), qPrintable(line));
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

    // One model at most: another language lets the least recently used go, each still decodes exactly. A
    // damaged model, on which the engine would end the server, is an error for that language alone.
    void loadsModelsOnDemandWithinTheBound()
    {
        QTemporaryDir folder;
        const QDir models(folder.path());
        QVERIFY(englishModelAs(models, QStringLiteral("en-GB")));
        QVERIFY(englishModelAs(models, QStringLiteral("de-DE"), true));
        // Neither a complete model nor a language code: left alone.
        QVERIFY(
            models.mkpath(QStringLiteral("fr-FR/acoustic-model")) && models.mkpath(QStringLiteral("README")));
        ServerProcess server({ "--models", folder.path(), "--decoders", "1", "--max-models", "1" });
        QVERIFY(server.start());
        const auto post = [&](const QByteArray &language) {
            return server.send(speechPost(m_speech, "&languageCode=" + language)).json();
        };
        for (const char *language : { "en-GB", "en-GB", "en-US", "en-GB" })
            QCOMPARE(post(language), transcriptJson(phrase));
        // Loaded again each time it came back, not once per upload.
        for (const char *language : { "en-US", "en-GB" })
            QCOMPARE(
                server.logLines().filter(QStringLiteral("speech model %1 loaded").arg(language)).size(), 2);
        QCOMPARE(post("de-DE"), errorJson("The speech model for de-DE is damaged"));
        QCOMPARE(post("en-US"), transcriptJson(phrase));
        QCOMPARE(post("de-DE"), errorJson("Language not supported: de-DE"));
        QVERIFY(!server.get("/api/languages").body.contains("de-DE"));
    }

    // Uploads go to the service as WAV forms. However it frames or fails its answer, the transcript is read
    // whole or the upload gets a 502: never a shorter transcript, and its key nowhere.
    void passesUploadsToTheUpstream()
    {
        const QByteArray fileKey = "sk-tellwind-file-7d41c9", environmentKey = "sk-tellwind-env-52ab08";
        ScriptedHttpServer upstream;
        QTemporaryDir keys;
        QFile key(keys.filePath("key"));
        QVERIFY(key.open(QIODevice::WriteOnly) && key.write(fileKey + '\n') > 0);
        key.close();
        // Every upload comes from one address: the per-client bound is not what is tested.
        ServerProcess server(
            { "--decoders", "1", "--upstream", upstream.baseUrl() + "/v1", "--max-uploads-per-client", "100",
                "--upstream-key-file", key.fileName(), "--upstream-concurrency", "2" });
        server.captureErrors = true;
        server.environment.insert(
            QStringLiteral("TELLWIND_UPSTREAM_KEY"), QString::fromLatin1(environmentKey));
        QVERIFY(server.start());

        const QByteArray pcm = rampPcm(8000);
        upstream.script = { Reply(200, R"({"text":"hola"})") };
        QCOMPARE(server.send(speechPost(pcm, "&languageCode=auto")).status, 200);
        const HttpMessage request = upstream.requests.value(0);
        QCOMPARE(request.method + ' ' + request.target, "POST /v1/audio/transcriptions");
        // The key file wins over the environment.
        QCOMPARE(request.header("Authorization"), "Bearer " + fileKey);
        QCOMPARE(formField(request, "model") + ' ' + formField(request, "response_format"), "whisper-1 json");
        QVERIFY(formField(request, "language").isNull());
        // 16 kHz mono 16-bit PCM in a RIFF WAVE.
        const QByteArray wav = formField(request, "file");
        const auto at = [&wav](int offset, int size) {
            return size == 4 ? qFromLittleEndian<quint32>(wav.constData() + offset)
                             : qFromLittleEndian<quint16>(wav.constData() + offset);
        };
        QCOMPARE(wav.left(4) + wav.mid(8, 8) + wav.mid(36, 4), "RIFFWAVEfmt data");
        QCOMPARE((QList<quint32> { at(4, 4), at(16, 4), at(20, 2), at(22, 2), at(24, 4), at(28, 4), at(32, 2),
                     at(34, 2), at(40, 4) }),
            (QList<quint32> { quint32(wav.size() - 8), 16, 1, 1, 16000, 32000, 2, 16, quint32(pcm.size()) }));
        QCOMPARE(wav.mid(44), pcm);

        const QByteArray json = R"({"text":"hola señor"})";
        const struct {
            const char *name;
            Reply reply;
            int status;
            const char *outcome; // the text, or the error
        } rows[] = {
            // Hosted services quote part of a refused key back, some in the reason phrase.
            { "key refused", Reply(401, "{\"error\":{\"message\":\"Incorrect API key " + fileKey + "\"}}"),
                502, "Upstream error: 401" },
            { "key in the reason",
                Reply::rawBytes("HTTP/1.1 403 Bad key " + fileKey + "\r\nContent-Length: 0\r\n\r\n"), 502,
                "Upstream error: 403" },
            { "not JSON", Reply(200, "hola señor", "text/plain"), 502, "Upstream error: malformed reply" },
            { "chunked",
                Reply::rawBytes("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n" + json.left(5)
                    + "\r\n" + QByteArray::number(json.size() - 5, 16) + ";ext=1\r\n" + json.mid(5)
                    + "\r\n0\r\n\r\n"),
                200, "hola señor" },
            { "length cut short", Reply::rawBytes("HTTP/1.1 200 OK\r\nContent-Length: 400\r\n\r\n" + json),
                502, "Upstream error: Connection closed" },
        };
        for (const auto &row : rows) {
            const auto guard = rowGuard(row.name);
            upstream.script = { row.reply };
            const HttpMessage answer = server.send(speechPost(rampPcm(1600), "&languageCode=es-ES"));
            QCOMPARE(answer.status, row.status);
            QCOMPARE(answer.json().value(row.status == 200 ? "text" : "error").toString(), row.outcome);
            QVERIFY(!answer.body.contains(fileKey));
        }
        QCOMPARE(upstream.requests.size(), 1 + std::size(rows)); // asked once each

        const QStringList lines = server.logLines();
        QVERIFY(!lines.filter(QStringLiteral("Upstream error: 401")).isEmpty());
        QCOMPARE(lines.filter(QString::fromLatin1(fileKey)), QStringList());
        QCOMPARE(lines.filter(QString::fromLatin1(environmentKey)), QStringList());
        // Nor where the process's environment shows to others on the machine.
        QFile environ(QStringLiteral("/proc/%1/environ").arg(server.process().processId()));
        QVERIFY(environ.open(QIODevice::ReadOnly));
        const QByteArray block = environ.readAll();
        QVERIFY(block.contains("PATH=") && !block.contains(environmentKey));
    }
};

QTEST_GUILESS_MAIN(TestServer)
#include "test_server.moc"
