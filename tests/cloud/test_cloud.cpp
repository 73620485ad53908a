#include "common/Settings.h"
#include "speech/SpeechService.h"
#include "support/ScriptedHttpServer.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>

#include <qcoro/qcorotask.h>

using namespace std::chrono_literals;
using Reply = ScriptedHttpServer::Reply;

Q_DECLARE_METATYPE(Reply)

namespace {

Reply transcript(const QByteArray &text, int delayMs = 0)
{
    return { 200, R"({"type":"transcript","text":")" + text + R"(","isFinal":true})", "application/json", delayMs };
}

// A streaming service against `baseUrl` whose loop looks at the buffer often.
struct Stream {
    explicit Stream(const QString &baseUrl, std::chrono::milliseconds timeout = 15s) : service(baseUrl, timeout)
    {
        service.setBufferInterval(50ms);
        QCoro::waitFor(service.startStreaming());
    }
    ~Stream() { QCoro::waitFor(service.stopStreaming()); }

    SpeechService service;
    QSignalSpy finished { &service, &SpeechService::uploadFinished };
};

} // namespace

class TestCloud : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void sendsTheExactRequest()
    {
        ScriptedHttpServer server;
        Stream stream(server.baseUrl());
        const QByteArray audio(50000, '\7');
        stream.service.audioBuffer().append(audio);
        QTRY_COMPARE(server.requests.size(), 1);
        const ScriptedHttpServer::Request &request = server.requests.first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/api/speech?sampleRate=16000&languageCode=auto"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/octet-stream"));
        QCOMPARE(request.body, audio);
        QVERIFY(stream.service.audioBuffer().isEmpty());

        stream.service.setLanguage(QStringLiteral("de-DE"));
        stream.service.audioBuffer().append(QByteArray(48000, '\1'));
        QTRY_COMPARE(server.requests.size(), 2);
        QCOMPARE(server.requests[1].target, QByteArray("/api/speech?sampleRate=16000&languageCode=de-DE"));

        // Under the minimum nothing goes while the stream runs.
        stream.service.audioBuffer().append(QByteArray(47999, '\1'));
        QTest::qWait(300);
        QCOMPARE(server.requests.size(), 2);
    }

    void readsTheServerAddressSetting()
    {
        Settings::remove(QStringLiteral("serverBaseURL"));
        QCOMPARE(SpeechService().serverBaseURL(), QStringLiteral("http://127.0.0.1:8750"));
        Settings::setString(QStringLiteral("serverBaseURL"), QStringLiteral("https://speech.example.org"));
        QCOMPARE(SpeechService().serverBaseURL(), QStringLiteral("https://speech.example.org"));
        Settings::remove(QStringLiteral("serverBaseURL"));
    }

    // The middle of three uploads fails; the two others still reach the transcript.
    void reportsEveryFailureAndKeepsStreaming_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QString>("baseUrl"); // null: the scripted server
        QTest::addColumn<QString>("error"); // null: none published

        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const QString refused = QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort());
        probe.close();
        const struct {
            const char *name;
            Reply reply;
            QString baseUrl;
            QString error;
        } rows[] = {
            { "500 error JSON", { 500, R"({"type":"error","error":"Decoder crashed"})" }, {}, "Decoder crashed" },
            { "500 JSON without error", { 500, R"({"type":"transcript","text":"ghost"})" }, {}, "Server error" },
            { "500 JSON without type", { 500, R"({"error":"nope"})" }, {}, "Server error: 500" },
            { "500 empty", { 500, "" }, {}, "Server error: 500" },
            { "502 HTML", { 502, "<html><body>Bad Gateway</body></html>", "text/html" }, {}, "Server error: 502" },
            { "200 malformed", { 200, R"({"type":"transcript",)" }, {}, {} },
            { "200 wrongly typed", { 200, R"({"type":"transcript","text":5})" }, {}, {} },
            { "200 no text", { 200, R"({"type":"transcript"})" }, {}, {} },
            { "200 error", { 200, R"({"type":"error","error":"No model: xx-XX"})" }, {}, "No model: xx-XX" },
            { "200 error without text", { 200, R"({"type":"error"})" }, {}, "Unknown error" },
            { "200 unknown type", { 200, R"({"type":"partial","text":"x"})" }, {}, {} },
            { "no reply", Reply::withheld(), {}, "Network error: The request timed out." },
            { "refused", {}, refused, "Network error: Connection refused" },
            { "invalid URL", {}, "ftp://127.0.0.1", "Invalid server URL" },
        };
        for (const auto &row : rows)
            QTest::newRow(row.name) << row.reply << row.baseUrl << row.error;
    }

    void reportsEveryFailureAndKeepsStreaming()
    {
        QFETCH(Reply, reply);
        QFETCH(QString, baseUrl);
        QFETCH(QString, error);

        ScriptedHttpServer server;
        server.script = { transcript("before"), reply, transcript("after") };
        Stream stream(baseUrl.isNull() ? server.baseUrl() : baseUrl, 300ms);
        for (int i = 0; i < 3; ++i) {
            stream.service.audioBuffer().append(QByteArray(48000, '\1'));
            QTRY_COMPARE_WITH_TIMEOUT(stream.finished.count(), i + 1, 5000);
        }
        QCOMPARE(stream.service.errorMessage(), error);
        QCOMPARE(stream.service.errorMessage().isNull(), error.isNull());
        QCOMPARE(stream.service.transcribedText(), baseUrl.isNull() ? QStringLiteral("before after") : QString());
        QVERIFY(stream.service.isStreaming());
    }

    // The last words must not be lost because they are shorter than an upload.
    void padsTheFinalUpload()
    {
        ScriptedHttpServer server;
        server.script = { transcript("last words") };
        SpeechService service(server.baseUrl());
        service.setBufferInterval(10s); // only the stop uploads
        for (const qsizetype size : { 0, 20000, 64000 }) {
            QCoro::waitFor(service.startStreaming());
            const QByteArray tail(size, '\5');
            service.audioBuffer().append(tail);
            QCoro::waitFor(service.stopStreaming());
            if (size == 0) { // nothing to say, nothing sent
                QTest::qWait(200);
                QCOMPARE(server.requests.size(), 0);
                continue;
            }
            const QByteArray body = server.requests.last().body;
            QCOMPARE(body.size(), qMax(size, SpeechService::minBufferSize));
            QCOMPARE(body.left(size), tail);
            QCOMPARE(body.mid(size), QByteArray(body.size() - size, '\0'));
        }
        QCOMPARE(server.requests.size(), 2);
        QTRY_COMPARE(service.transcribedText(), QStringLiteral("last words"));
    }

    // The loop's upload answers late, the final one at once: the transcript
    // still reads in the order the words were spoken.
    void appliesRepliesInUploadOrder()
    {
        ScriptedHttpServer server;
        server.script = { transcript("first", 600), transcript("second"), { 500, {}, {}, 400 }, transcript("third") };
        SpeechService service(server.baseUrl());
        service.setBufferInterval(50ms);
        QSignalSpy finished(&service, &SpeechService::uploadFinished);
        for (const int round : { 1, 2 }) {
            QCoro::waitFor(service.startStreaming());
            service.audioBuffer().append(QByteArray(48000, '\1'));
            QTRY_COMPARE(server.requests.size(), 2 * round - 1);
            service.audioBuffer().append(QByteArray(30000, '\1'));
            QCoro::waitFor(service.stopStreaming());
            QCOMPARE(server.requests.size(), 2 * round);
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2 * round, 5000);
        }
        // The failed earlier upload of the second round released the later one.
        QCOMPARE(service.transcribedText(), QStringLiteral("first second third"));
        QCOMPARE(service.errorMessage(), QStringLiteral("Server error: 500"));
    }
};

QTEST_GUILESS_MAIN(TestCloud)
#include "test_cloud.moc"
