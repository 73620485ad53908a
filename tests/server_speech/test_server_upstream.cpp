#include "support/ScriptedHttpServer.h"
#include "support/ServerProcess.h"

#include <QStandardPaths>
#include <QtEndian>

#include <memory>
#include <optional>

namespace
{

using Exchange = RawHttpExchange;
using Reply = ScriptedHttpServer::Reply;

const QByteArray fileKey = "sk-tellwind-file-7d41c9";
const QByteArray environmentKey = "sk-tellwind-env-52ab08";

QByteArray speechPost(const QByteArray &language, const QByteArray &pcm)
{
    QByteArray target = "/api/speech?sampleRate=16000";
    if (!language.isNull())
        target += "&languageCode=" + language;
    return RawHttpExchange::request("POST", target, pcm);
}

// A recognisable, non-silent body: a ramp, so that a shifted or cut copy
// shows.
QByteArray rampPcm(int samples)
{
    QByteArray pcm(samples * 2, Qt::Uninitialized);
    for (int i = 0; i < samples; ++i)
        qToLittleEndian<qint16>(qint16((i * 37) % 20000 - 10000), pcm.data() + 2 * i);
    return pcm;
}

QByteArray textReply(const QString &text)
{
    return QJsonDocument(QJsonObject { { "text", text } }).toJson(QJsonDocument::Compact);
}

// The form fields of a multipart/form-data body, by name.
QMap<QByteArray, QByteArray> formFields(const ScriptedHttpServer::Request &request)
{
    QMap<QByteArray, QByteArray> fields;
    const QByteArray type = request.header("Content-Type");
    const qsizetype at = type.indexOf("boundary=");
    if (!type.startsWith("multipart/form-data") || at < 0)
        return fields;
    const QByteArray delimiter = "\r\n--" + type.mid(at + 9);
    // The first delimiter has no line break before it.
    const QByteArray body = "\r\n" + request.body;
    QList<QByteArray> parts;
    for (qsizetype from = body.indexOf(delimiter); from >= 0;) {
        const qsizetype start = from + delimiter.size();
        const qsizetype next = body.indexOf(delimiter, start);
        if (next < 0)
            break;
        parts << body.mid(start + 2, next - start - 2); // after the delimiter's own line break
        from = next;
    }
    for (const QByteArray &part : parts) {
        const qsizetype headerEnd = part.indexOf("\r\n\r\n");
        const QByteArray headers = part.left(headerEnd);
        const qsizetype name = headers.indexOf("name=\"");
        if (headerEnd < 0 || name < 0)
            continue;
        const qsizetype nameEnd = headers.indexOf('"', name + 6);
        fields.insert(headers.mid(name + 6, nameEnd - name - 6), part.mid(headerEnd + 4));
    }
    return fields;
}

struct WavHeader {
    QByteArray riff, wave, fmt, data;
    quint32 riffSize, fmtSize, sampleRate, byteRate, dataSize;
    quint16 format, channels, blockAlign, bits;
};

WavHeader wavHeader(const QByteArray &wav)
{
    const char *p = wav.constData();
    return { wav.mid(0, 4), wav.mid(8, 4), wav.mid(12, 4), wav.mid(36, 4), qFromLittleEndian<quint32>(p + 4),
        qFromLittleEndian<quint32>(p + 16), qFromLittleEndian<quint32>(p + 24),
        qFromLittleEndian<quint32>(p + 28), qFromLittleEndian<quint32>(p + 40),
        qFromLittleEndian<quint16>(p + 20), qFromLittleEndian<quint16>(p + 22),
        qFromLittleEndian<quint16>(p + 32), qFromLittleEndian<quint16>(p + 34) };
}

} // namespace

Q_DECLARE_METATYPE(ScriptedHttpServer::Reply)

class TestServerUpstream : public QObject
{
    Q_OBJECT

    ScriptedHttpServer m_upstream;
    QTemporaryDir m_keys;
    std::unique_ptr<ServerProcess> m_server;

    QString keyFile(const QByteArray &key)
    {
        QFile file(m_keys.filePath(QString::fromLatin1(key)));
        if (file.open(QIODevice::WriteOnly))
            file.write(key + '\n');
        return file.fileName();
    }

    std::unique_ptr<ServerProcess> startServer(
        QStringList arguments, std::optional<QByteArray> environment = {})
    {
        auto server = std::make_unique<ServerProcess>(
            // Every upload of these tests comes from one address: the
            // per-client bound on uploads in flight must not be what is tested.
            QStringList { QStringLiteral("--decoders"), QStringLiteral("1"), QStringLiteral("--upstream"),
                m_upstream.baseUrl() + QStringLiteral("/v1"), QStringLiteral("--max-uploads-per-client"),
                QStringLiteral("100") }
            + arguments);
        server->captureErrors = true;
        server->environment.remove(QStringLiteral("TELLWIND_UPSTREAM_KEY"));
        if (environment)
            server->environment.insert(
                QStringLiteral("TELLWIND_UPSTREAM_KEY"), QString::fromLatin1(*environment));
        if (!server->start())
            return nullptr;
        return server;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_keys.isValid());
        m_server = startServer({ QStringLiteral("--upstream-key-file"), keyFile(fileKey),
                                   QStringLiteral("--upstream-concurrency"), QStringLiteral("2") },
            environmentKey);
        QVERIFY(m_server);
    }

    void init()
    {
        m_upstream.requests.clear();
        m_upstream.script.clear();
        m_upstream.fallback = Reply(200, textReply(QStringLiteral("unexpected")));
    }

    void sendsEachUploadAsAWavForm_data()
    {
        QTest::addColumn<QByteArray>("languageCode");
        QTest::addColumn<QByteArray>("formLanguage"); // null: no language field
        QTest::addRow("Spanish (Spain)") << QByteArray("es-ES") << QByteArray("es");
        QTest::addRow("Chinese (Traditional)") << QByteArray("zh-TW") << QByteArray("zh");
        QTest::addRow("Norwegian") << QByteArray("nb-NO") << QByteArray("no");
        QTest::addRow("Filipino") << QByteArray("fil-PH") << QByteArray("tl");
        QTest::addRow("auto") << QByteArray("auto") << QByteArray();
        QTest::addRow("no language given") << QByteArray() << QByteArray();
    }

    void sendsEachUploadAsAWavForm()
    {
        QFETCH(QByteArray, languageCode);
        QFETCH(QByteArray, formLanguage);
        const QByteArray pcm = rampPcm(8000);
        // Whisper servers pad their text with blanks and newlines.
        m_upstream.script = { Reply(200, textReply(QStringLiteral(" hola señor\n"))) };

        Exchange exchange(m_server->port(), speechPost(languageCode, pcm));
        QCOMPARE(exchange.wait().status(), 200);
        QCOMPARE(exchange.json(),
            QJsonObject({ { "type", "transcript" }, { "text", "hola señor" }, { "isFinal", true } }));

        QCOMPARE(m_upstream.requests.size(), 1);
        const auto &request = m_upstream.requests.first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/v1/audio/transcriptions"));
        QCOMPARE(request.header("Authorization"), "Bearer " + fileKey);

        const auto fields = formFields(request);
        QCOMPARE(fields.keys(),
            formLanguage.isNull() ? QList<QByteArray>({ "file", "model", "response_format" })
                                  : QList<QByteArray>({ "file", "language", "model", "response_format" }));
        QCOMPARE(fields.value("model"), QByteArray("whisper-1"));
        QCOMPARE(fields.value("response_format"), QByteArray("json"));
        QCOMPARE(fields.value("language"), formLanguage);

        const QByteArray wav = fields.value("file");
        QCOMPARE(wav.size(), 44 + pcm.size());
        const WavHeader header = wavHeader(wav);
        QCOMPARE(header.riff, QByteArray("RIFF"));
        QCOMPARE(header.riffSize, quint32(wav.size() - 8));
        QCOMPARE(header.wave + header.fmt, QByteArray("WAVEfmt "));
        QCOMPARE(header.fmtSize, 16u);
        QCOMPARE(header.format, quint16(1));
        QCOMPARE(header.channels, quint16(1));
        QCOMPARE(header.sampleRate, 16000u);
        QCOMPARE(header.byteRate, 32000u);
        QCOMPARE(header.blockAlign, quint16(2));
        QCOMPARE(header.bits, quint16(16));
        QCOMPARE(header.data, QByteArray("data"));
        QCOMPARE(header.dataSize, quint32(pcm.size()));
        QVERIFY(wav.mid(44) == pcm);
    }

    void answersUpstreamFailuresWith502_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QString>("error");
        QTest::addRow("bad request") << Reply(400, "{\"error\":{\"message\":\"bad\"}}")
                                     << "Upstream error: 400 Scripted";
        // Hosted services quote part of a refused key back.
        QTest::addRow("key refused") << Reply(
            401, "{\"error\":{\"message\":\"Incorrect API key " + fileKey + "\"}}")
                                     << "Upstream error: 401 Scripted";
        QTest::addRow("server error") << Reply(500, "oops", "text/plain") << "Upstream error: 500 Scripted";
        QTest::addRow("not JSON") << Reply(200, "hola señor", "text/plain")
                                  << "Upstream error: malformed reply";
        QTest::addRow("JSON without text")
            << Reply(200, "{\"transcript\":\"hola\"}") << "Upstream error: malformed reply";
        QTest::addRow("text not a string") << Reply(200, "{\"text\":5}") << "Upstream error: malformed reply";
        QTest::addRow("redirect") << Reply(307, {}) << "Upstream error: 307 Scripted";
        QTest::addRow("connection closed") << Reply::rawBytes("") << "Upstream error: Connection closed";
    }

    void answersUpstreamFailuresWith502()
    {
        QFETCH(Reply, reply);
        QFETCH(QString, error);
        m_upstream.script = { reply };
        Exchange exchange(m_server->port(), speechPost("es-ES", rampPcm(1600)));
        QCOMPARE(exchange.wait().status(), 502);
        const QJsonObject json = exchange.json();
        QCOMPARE(json.keys(), QStringList({ "error", "type" }));
        QCOMPARE(json.value("type").toString(), QStringLiteral("error"));
        QCOMPARE(json.value("error").toString(), error);
        QVERIFY(!exchange.received.contains(fileKey));
        QCOMPARE(m_upstream.requests.size(), 1);
    }

    // However the service frames its answer, the transcript is read whole;
    // an answer cut short is an error, never a shorter transcript.
    void readsEveryFramingOfAnAnswer_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("outcome"); // the text, or the error
        const QByteArray json = R"({"text":"hola señor"})";
        QTest::addRow("chunked") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n"
            + json.left(5) + "\r\n" + QByteArray::number(json.size() - 5, 16) + ";ext=1\r\n" + json.mid(5)
            + "\r\n0\r\n\r\n") << 200
                                 << "hola señor";
        QTest::addRow("ended by closing")
            << QByteArray("HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n" + json) << 200
            << "hola señor";
        QTest::addRow("after 100 Continue")
            << QByteArray("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: "
                   + QByteArray::number(json.size()) + "\r\n\r\n" + json)
            << 200 << "hola señor";
        QTest::addRow("length cut short")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 400\r\n\r\n" + json) << 502
            << "Upstream error: Connection closed";
        QTest::addRow("chunks cut short")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n40\r\n" + json) << 502
            << "Upstream error: Connection closed";
        QTest::addRow("head cut short")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Le") << 502 << "Upstream error: Connection closed";
        QTest::addRow("not HTTP") << QByteArray("SSH-2.0-OpenSSH_9.2\r\n\r\n") << 502
                                  << "Upstream error: Invalid reply";
    }

    void readsEveryFramingOfAnAnswer()
    {
        QFETCH(QByteArray, raw);
        QFETCH(int, status);
        QFETCH(QString, outcome);
        m_upstream.script = { Reply::rawBytes(raw) };
        Exchange exchange(m_server->port(), speechPost("es-ES", rampPcm(1600)));
        QCOMPARE(exchange.wait().status(), status);
        QCOMPARE(exchange.json().value(status == 200 ? "text" : "error").toString(), outcome);
        QCOMPARE(m_upstream.requests.size(), 1);
    }

    void reportsAnUnreachableUpstream()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        ServerProcess server({ QStringLiteral("--decoders"), QStringLiteral("1"),
            QStringLiteral("--upstream"), QStringLiteral("http://127.0.0.1:%1/v1").arg(port) });
        QVERIFY(server.start());
        Exchange exchange(server.port(), speechPost("es-ES", rampPcm(1600)));
        QCOMPARE(exchange.wait().status(), 502);
        QCOMPARE(
            exchange.json().value("error").toString(), QStringLiteral("Upstream error: Connection refused"));
    }

    // Two at a time: the other uploads wait and go as places free up, each
    // getting the answer to its own request.
    void boundsConcurrentRequests()
    {
        m_upstream.fallback = Reply::withheld();
        std::vector<std::unique_ptr<Exchange>> uploads;
        for (int i = 0; i < 5; ++i) {
            uploads.push_back(
                std::make_unique<Exchange>(m_server->port(), speechPost("es-ES", rampPcm(1600 + i))));
        }
        QTRY_COMPARE(m_upstream.requests.size(), 2);
        // Everything sent before this answer has been read by the server.
        QCOMPARE(
            Exchange(m_server->port(), RawHttpExchange::request("GET", "/api/languages")).wait().status(),
            200);
        QTest::qWait(100);
        QCOMPARE(m_upstream.requests.size(), 2);

        for (int answered = 0; answered < 5; ++answered) {
            const auto &request = m_upstream.requests.at(answered);
            const qsizetype samples = (formFields(request).value("file").size() - 44) / 2;
            QVERIFY(m_upstream.answerHeld(
                Reply(200, textReply(QStringLiteral("upload %1").arg(samples - 1600)))));
            QTRY_COMPARE(m_upstream.requests.size(), std::min(5, answered + 3));
        }
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(uploads[size_t(i)]->wait().status(), 200);
            QCOMPARE(uploads[size_t(i)]->json().value("text").toString(), QStringLiteral("upload %1").arg(i));
        }
    }

    // A stalled upstream times out and gives its place to the next upload.
    void timesOutAStalledUpstream()
    {
        const auto server = startServer({ QStringLiteral("--upstream-timeout"), QStringLiteral("1"),
            QStringLiteral("--upstream-concurrency"), QStringLiteral("1") });
        QVERIFY(server);
        m_upstream.script = { Reply::withheld(), Reply(200, textReply(QStringLiteral("next"))) };
        Exchange stalled(server->port(), speechPost("de-DE", rampPcm(1600)));
        Exchange next(server->port(), speechPost("de-DE", rampPcm(1600)));
        QCOMPARE(stalled.wait().status(), 502);
        QCOMPARE(
            stalled.json(), QJsonObject({ { "type", "error" }, { "error", "Upstream error: timed out" } }));
        QCOMPARE(next.wait().status(), 200);
        QCOMPARE(next.json().value("text").toString(), QStringLiteral("next"));
        QCOMPARE(m_upstream.requests.size(), 2);
    }

    void takesTheKeyFromAFileOrTheEnvironment_data()
    {
        QTest::addColumn<bool>("withFile");
        QTest::addColumn<bool>("withEnvironment");
        QTest::addColumn<QByteArray>("authorization");
        QTest::addRow("file") << true << false << "Bearer " + fileKey;
        QTest::addRow("environment") << false << true << "Bearer " + environmentKey;
        QTest::addRow("file before environment") << true << true << "Bearer " + fileKey;
        QTest::addRow("neither") << false << false << QByteArray();
    }

    void takesTheKeyFromAFileOrTheEnvironment()
    {
        QFETCH(bool, withFile);
        QFETCH(bool, withEnvironment);
        QFETCH(QByteArray, authorization);
        const auto server
            = startServer(withFile ? QStringList { QStringLiteral("--upstream-key-file"), keyFile(fileKey) }
                                   : QStringList(),
                withEnvironment ? std::optional(environmentKey) : std::nullopt);
        QVERIFY(server);
        m_upstream.script = { Reply(200, textReply(QStringLiteral("hola"))) };
        QCOMPARE(Exchange(server->port(), speechPost("es-MX", rampPcm(1600))).wait().status(), 200);
        QCOMPARE(m_upstream.requests.size(), 1);
        QCOMPARE(m_upstream.requests.first().header("Authorization"), authorization);
        const QString log = server->logLines().join(u'\n');
        QVERIFY(log.contains(QStringLiteral("speech upstream: ")));
        QVERIFY(!log.contains(QString::fromLatin1(fileKey)));
        QVERIFY(!log.contains(QString::fromLatin1(environmentKey)));
    }

    // Last, so that every failure above has had its chance to log.
    void keepsTheKeyOutOfEveryLogLine()
    {
        const QStringList lines = m_server->logLines();
        QVERIFY(lines.size() > 20);
        QVERIFY(!lines.filter(QStringLiteral("Upstream error: 401")).isEmpty());
        QCOMPARE(lines.filter(QString::fromLatin1(fileKey)), QStringList());
        QCOMPARE(lines.filter(QString::fromLatin1(environmentKey)), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestServerUpstream)
#include "test_server_upstream.moc"
