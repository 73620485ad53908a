#include "support/ScriptedHttpServer.h"
#include "support/ServerProcess.h"

#include <QStandardPaths>
#include <QtEndian>

#include <memory>

namespace
{

using Reply = ScriptedHttpServer::Reply;

const QByteArray fileKey = "sk-tellwind-file-7d41c9";
const QByteArray environmentKey = "sk-tellwind-env-52ab08";

// A recognisable, non-silent body: a ramp, so that a shifted or cut copy shows.
QByteArray rampPcm(int samples)
{
    QByteArray pcm(samples * 2, Qt::Uninitialized);
    for (int i = 0; i < samples; ++i)
        qToLittleEndian<qint16>(qint16((i * 37) % 20000 - 10000), pcm.data() + 2 * i);
    return pcm;
}

// The multipart/form-data field `name`; null when the form has none.
QByteArray formField(const ScriptedHttpServer::Request &request, const QByteArray &name)
{
    const QByteArray type = request.header("Content-Type"), &body = request.body;
    const qsizetype part = body.indexOf("; name=\"" + name + '"');
    if (!type.startsWith("multipart/form-data; boundary=") || part < 0)
        return {};
    const qsizetype start = body.indexOf("\r\n\r\n", part) + 4;
    return body.mid(start, body.indexOf("\r\n--" + type.mid(type.indexOf('=') + 1), start) - start);
}

} // namespace

Q_DECLARE_METATYPE(ScriptedHttpServer::Reply)

class TestServerUpstream : public QObject
{
    Q_OBJECT

    ScriptedHttpServer m_upstream;
    QTemporaryDir m_keys;
    std::unique_ptr<ServerProcess> m_server;

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QFile key(m_keys.filePath("key"));
        QVERIFY(key.open(QIODevice::WriteOnly) && key.write(fileKey + '\n') > 0);
        key.close();
        // Every upload here comes from one address: the per-client bound on
        // uploads in flight must not be what is tested.
        m_server = std::make_unique<ServerProcess>(QStringList { "--decoders", "1", "--upstream",
            m_upstream.baseUrl() + "/v1", "--max-uploads-per-client", "100", "--upstream-key-file",
            key.fileName(), "--upstream-concurrency", "2" });
        m_server->captureErrors = true;
        m_server->environment.insert(
            QStringLiteral("TELLWIND_UPSTREAM_KEY"), QString::fromLatin1(environmentKey));
        QVERIFY(m_server->start());
    }

    void init()
    {
        m_upstream.requests.clear();
        m_upstream.script.clear();
        m_upstream.fallback = Reply(200, R"({"text":"unexpected"})");
    }

    void sendsEachUploadAsAWavForm()
    {
        const QByteArray pcm = rampPcm(8000);
        m_upstream.script = { Reply(200, R"({"text":"hola"})") };
        QCOMPARE(m_server->send(speechPost(pcm, "&languageCode=auto")).status, 200);

        QCOMPARE(m_upstream.requests.size(), 1);
        const HttpMessage &request = m_upstream.requests.first();
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
    }

    // However the service frames or fails its answer, the transcript is read
    // whole or the upload gets a 502: never a shorter transcript, never the key.
    void answersEveryReplyOfTheUpstream_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("outcome"); // the text, or the error
        const QByteArray json = R"({"text":"hola señor"})";
        // Hosted services quote part of a refused key back.
        QTest::addRow("key refused") << Reply(
            401, "{\"error\":{\"message\":\"Incorrect API key " + fileKey + "\"}}")
                                     << 502 << "Upstream error: 401";
        // Neither the reason phrase, which some services fill with what they were sent.
        QTest::addRow("key in the reason")
            << Reply::rawBytes("HTTP/1.1 403 Bad key " + fileKey + "\r\nContent-Length: 0\r\n\r\n") << 502
            << "Upstream error: 403";
        QTest::addRow("not JSON") << Reply(200, "hola señor", "text/plain") << 502
                                  << "Upstream error: malformed reply";
        QTest::addRow("chunked") << Reply::rawBytes(
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n" + json.left(5) + "\r\n"
            + QByteArray::number(json.size() - 5, 16) + ";ext=1\r\n" + json.mid(5) + "\r\n0\r\n\r\n")
                                 << 200 << "hola señor";
        QTest::addRow("length cut short")
            << Reply::rawBytes("HTTP/1.1 200 OK\r\nContent-Length: 400\r\n\r\n" + json) << 502
            << "Upstream error: Connection closed";
    }

    void answersEveryReplyOfTheUpstream()
    {
        QFETCH(Reply, reply);
        QFETCH(int, status);
        QFETCH(QString, outcome);
        m_upstream.script = { reply };
        const HttpMessage answer = m_server->send(speechPost(rampPcm(1600), "&languageCode=es-ES"));
        QCOMPARE(answer.status, status);
        QCOMPARE(answer.json().value(status == 200 ? "text" : "error").toString(), outcome);
        QVERIFY(!answer.body.contains(fileKey));
        QCOMPARE(m_upstream.requests.size(), 1);
    }

    // Last, so that every failure above has had its chance to log.
    void keepsTheKeyOutOfEveryLogLine()
    {
        const QStringList lines = m_server->logLines();
        QVERIFY(!lines.filter(QStringLiteral("Upstream error: 401")).isEmpty());
        QCOMPARE(lines.filter(QString::fromLatin1(fileKey)), QStringList());
        QCOMPARE(lines.filter(QString::fromLatin1(environmentKey)), QStringList());
        // Nor where the process's environment shows to others on the machine.
        QFile environ(QStringLiteral("/proc/%1/environ").arg(m_server->process().processId()));
        QVERIFY(environ.open(QIODevice::ReadOnly));
        const QByteArray block = environ.readAll();
        QVERIFY(block.contains("PATH=") && !block.contains(environmentKey));
    }
};

QTEST_GUILESS_MAIN(TestServerUpstream)
#include "test_server_upstream.moc"
