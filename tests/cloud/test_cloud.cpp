#include "ScriptedHttpServer.h"

#include "common/Settings.h"
#include "fakes/LogCapture.h"
#include "speech/SpeechService.h"
#include "speech/TranscriptionResponse.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QUrlQuery>

#include <qcoro/qcorotask.h>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(ScriptedHttpServer::Reply)

namespace {

constexpr auto fastInterval = 100ms;

QByteArray pcm(qsizetype bytes, char fill = 1)
{
    return QByteArray(bytes, fill);
}

// Runs a coroutine to completion from a test; the event loop turns meanwhile.
void finish(QCoro::Task<> task)
{
    bool done = false;
    [](QCoro::Task<> task, bool &done) -> QCoro::Task<> {
        co_await task;
        done = true;
    }(std::move(task), done);
    QTRY_VERIFY_WITH_TIMEOUT(done, 20000);
}

} // namespace

class TestCloud : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void decodesReplies()
    {
        const auto full = TranscriptionResponse::decode(R"({"type":"transcript","text":"hi","isFinal":true,"extra":[1]})");
        QVERIFY(full);
        QCOMPARE(full->type, QStringLiteral("transcript"));
        QCOMPARE(full->text, QStringLiteral("hi"));
        QCOMPARE(full->isFinal, true);
        QVERIFY(!full->error);

        // No "type", a wrongly typed key, or no object at all: undecodable.
        for (const QByteArray &bad : { QByteArray(R"({"text":"hi"})"), QByteArray(R"({"type":3})"),
                                       QByteArray(R"({"type":"transcript","text":5})"),
                                       QByteArray(R"({"type":"transcript","isFinal":"yes"})"),
                                       QByteArray(R"(["type"])"), QByteArray("<html>"), QByteArray() }) {
            QVERIFY2(!TranscriptionResponse::decode(bad), bad.constData());
        }
    }

    void sendsTheExactRequest()
    {
        ScriptedHttpServer server;
        QVERIFY(server.start());
        SpeechService service(server.baseUrl());
        service.setBufferInterval(fastInterval);
        LogCapture log;

        service.setLanguage(QString());
        finish(service.startStreaming());
        const QByteArray audio = pcm(50000, 7);
        service.audioBuffer().append(audio);
        QTRY_COMPARE(server.requests.size(), 1);
        QTRY_VERIFY(service.audioBuffer().isEmpty());

        const ScriptedHttpServer::Request &request = server.requests.first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/api/speech?sampleRate=16000&languageCode=auto"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/octet-stream"));
        QVERIFY(request.header("Authorization").isEmpty());
        QCOMPARE(request.body, audio);

        service.setLanguage(QStringLiteral("de-DE"));
        service.audioBuffer().append(pcm(48000));
        QTRY_COMPARE(server.requests.size(), 2);
        QCOMPARE(server.requests[1].target, QByteArray("/api/speech?sampleRate=16000&languageCode=de-DE"));
        service.setLanguage(QStringLiteral("auto"));
        QVERIFY(service.selectedLanguage().isNull());

        // Under the minimum nothing is sent while the stream runs.
        service.audioBuffer().append(pcm(47999));
        QTest::qWait(400);
        QCOMPARE(server.requests.size(), 2);
        finish(service.stopStreaming());

        const QStringList lines = log.lines();
        QVERIFY(lines.contains(QStringLiteral("🌐 [Speech] Language set to: auto-detect")));
        QVERIFY(lines.contains(QStringLiteral("🌐 [Speech] Language set to: de-DE")));
        QVERIFY(lines.contains(QStringLiteral("🌐 [Speech] Language set to: auto")));
        QVERIFY(lines.contains(QStringLiteral("🌐 [Speech] Starting streaming to %1").arg(server.baseUrl())));
        QVERIFY(lines.contains(QStringLiteral("🌐 [Speech] Send task started (interval: 0.1s)")));
        QVERIFY(lines.contains(QStringLiteral("🌐 [Speech] Sending 50000 bytes of audio...")));
        QVERIFY(lines.contains(QStringLiteral("🌐 [Speech] Using language: de-DE")));
        QTRY_VERIFY(log.lines().contains(QStringLiteral("🌐 [Speech] Send task ended")));
    }

    void startAndStopAreIdempotent()
    {
        ScriptedHttpServer server;
        QVERIFY(server.start());
        SpeechService service(server.baseUrl());
        service.setBufferInterval(fastInterval);
        LogCapture log;

        finish(service.stopStreaming());
        QVERIFY(log.lines().contains(QStringLiteral("🌐 [Speech] Not streaming, nothing to stop")));

        service.audioBuffer().append(pcm(1000)); // bytes from before the start are discarded
        QSignalSpy streaming(&service, &SpeechService::isStreamingChanged);
        finish(service.startStreaming());
        QVERIFY(service.audioBuffer().isEmpty());
        QVERIFY(service.isStreaming() && service.isConnected());
        finish(service.startStreaming());
        QVERIFY(log.lines().contains(QStringLiteral("🌐 [Speech] Already streaming, skipping")));
        QCOMPARE(streaming.count(), 1);

        // An empty buffer at stop sends nothing at all.
        finish(service.stopStreaming());
        QVERIFY(!service.isStreaming() && !service.isConnected());
        QTest::qWait(300);
        QCOMPARE(server.requests.size(), 0);
        QVERIFY(log.lines().contains(QStringLiteral("✅ [Speech] Streaming stopped")));
    }

    void joinsTranscripts()
    {
        ScriptedHttpServer server;
        QVERIFY(server.start());
        server.script = { ScriptedHttpServer::transcript("hello"), ScriptedHttpServer::transcript("world"),
                          ScriptedHttpServer::transcript(""), { 200, R"({"type":"transcript"})" },
                          ScriptedHttpServer::transcript(" spaced") };
        SpeechService service(server.baseUrl());
        service.setBufferInterval(fastInterval);
        LogCapture log;
        QSignalSpy finished(&service, &SpeechService::uploadFinished);
        finish(service.startStreaming());
        for (int i = 0; i < 5; ++i) {
            service.audioBuffer().append(pcm(48000));
            QTRY_COMPARE(finished.count(), i + 1);
        }
        QCOMPARE(service.transcribedText(), QStringLiteral("hello world  spaced"));
        QVERIFY(service.errorMessage().isNull());
        QCOMPARE(log.linesStartingWith(QStringLiteral("⚠️ [Speech] Transcript response but text is empty or nil")).size(), 2);
        QVERIFY(log.lines().contains(QStringLiteral("📝 [Speech] GOT TRANSCRIPT: 'hello'")));
        QVERIFY(log.lines().contains(QStringLiteral("📝 [Speech] Full transcription now: 'hello world'")));
        QVERIFY(log.lines().contains(QStringLiteral("📨 [Speech] Response type: transcript, text: 'nil'")));

        // Callers empty the transcript before the next dictation; a stop keeps it.
        finish(service.stopStreaming());
        QCOMPARE(service.transcribedText(), QStringLiteral("hello world  spaced"));
        service.setTranscribedText(QString());
        QCOMPARE(service.transcribedText(), QString());
    }

    void reportsEveryFailureAndKeepsStreaming_data()
    {
        QTest::addColumn<ScriptedHttpServer::Reply>("reply");
        QTest::addColumn<QString>("error"); // null: none published
        QTest::addColumn<QString>("logLine");

        const auto reply = [](int status, QByteArray body, QByteArray type = "application/json") {
            return ScriptedHttpServer::Reply { status, std::move(body), std::move(type), 0, false };
        };
        QTest::newRow("500 with error JSON")
            << reply(500, R"({"type":"error","error":"Decoder crashed"})") << QStringLiteral("Decoder crashed") << QString();
        QTest::newRow("500 JSON without error") << reply(500, R"({"type":"error"})") << QStringLiteral("Server error")
                                                << QString();
        QTest::newRow("500 transcript is not trusted")
            << reply(500, R"({"type":"transcript","text":"ghost"})") << QStringLiteral("Server error") << QString();
        QTest::newRow("500 JSON without type") << reply(500, R"({"error":"nope"})") << QStringLiteral("Server error: 500")
                                               << QString();
        QTest::newRow("500 empty") << reply(500, "") << QStringLiteral("Server error: 500") << QString();
        QTest::newRow("502 HTML") << reply(502, "<html><body>Bad Gateway</body></html>", "text/html")
                                  << QStringLiteral("Server error: 502") << QString();
        QTest::newRow("200 malformed") << reply(200, R"({"type":"transcript",)") << QString()
                                       << QStringLiteral("❌ [Speech] Failed to parse response");
        QTest::newRow("200 error") << reply(200, R"({"type":"error","error":"Language not supported: xx-XX"})")
                                   << QStringLiteral("Language not supported: xx-XX")
                                   << QStringLiteral("❌ [Speech] Server error: Language not supported: xx-XX");
        QTest::newRow("200 error without text") << reply(200, R"({"type":"error"})") << QStringLiteral("Unknown error")
                                                << QStringLiteral("❌ [Speech] Server error: Unknown error");
        QTest::newRow("200 unknown type") << reply(200, R"({"type":"partial","text":"x"})") << QString()
                                          << QStringLiteral("⚠️ [Speech] Unknown response type: partial");
        QTest::newRow("no reply") << ScriptedHttpServer::Reply { 200, {}, {}, 0, true }
                                  << QStringLiteral("Network error: The request timed out.") << QString();
    }

    void reportsEveryFailureAndKeepsStreaming()
    {
        QFETCH(ScriptedHttpServer::Reply, reply);
        QFETCH(QString, error);
        QFETCH(QString, logLine);

        ScriptedHttpServer server;
        QVERIFY(server.start());
        server.script = { ScriptedHttpServer::transcript("before"), reply, ScriptedHttpServer::transcript("after") };
        SpeechService service(server.baseUrl(), 300ms);
        service.setBufferInterval(fastInterval);
        LogCapture log;
        QSignalSpy finished(&service, &SpeechService::uploadFinished);
        finish(service.startStreaming());
        for (int i = 0; i < 3; ++i) {
            service.audioBuffer().append(pcm(48000));
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), i + 1, 5000);
        }
        QCOMPARE(service.errorMessage(), error);
        QCOMPARE(service.errorMessage().isNull(), error.isNull());
        QCOMPARE(service.transcribedText(), QStringLiteral("before after"));
        if (!logLine.isNull())
            QVERIFY2(log.lines().contains(logLine), qPrintable(log.lines().join(u'\n')));
        finish(service.stopStreaming());
    }

    void reportsTransportFailures()
    {
        // A port nobody listens on.
        quint16 closedPort = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            closedPort = probe.serverPort();
        }
        SpeechService refused(QStringLiteral("http://127.0.0.1:%1").arg(closedPort));
        refused.setBufferInterval(fastInterval);
        finish(refused.startStreaming());
        refused.audioBuffer().append(pcm(48000));
        QTRY_COMPARE(refused.errorMessage(), QStringLiteral("Network error: Connection refused"));
        // The stream goes on: the next piece is tried again.
        QSignalSpy finished(&refused, &SpeechService::uploadFinished);
        refused.audioBuffer().append(pcm(48000));
        QTRY_COMPARE(finished.count(), 1);
        QVERIFY(refused.isStreaming());
        finish(refused.stopStreaming());

        for (const QString &bad : { QStringLiteral("not a url at all"), QStringLiteral("ftp://127.0.0.1"),
                                    QStringLiteral("http://") }) {
            SpeechService invalid(bad);
            invalid.setBufferInterval(fastInterval);
            finish(invalid.startStreaming());
            invalid.audioBuffer().append(pcm(48000));
            QTRY_COMPARE(invalid.errorMessage(), QStringLiteral("Invalid server URL"));
            finish(invalid.stopStreaming());
        }
    }

    // The last words must not be lost because they are shorter than an upload.
    void padsTheFinalUpload()
    {
        ScriptedHttpServer server;
        QVERIFY(server.start());
        server.script = { ScriptedHttpServer::transcript("last words") };
        SpeechService service(server.baseUrl());
        service.setBufferInterval(10s); // only the stop uploads
        finish(service.startStreaming());
        const QByteArray tail = pcm(20000, 5);
        service.audioBuffer().append(tail);
        finish(service.stopStreaming());

        QCOMPARE(server.requests.size(), 1);
        const QByteArray body = server.requests.first().body;
        QCOMPARE(body.size(), SpeechService::minBufferSize);
        QCOMPARE(body.left(tail.size()), tail);
        QCOMPARE(body.mid(tail.size()), QByteArray(SpeechService::minBufferSize - tail.size(), '\0'));
        QTRY_COMPARE(service.transcribedText(), QStringLiteral("last words"));

        // A remainder over the minimum goes as it is.
        finish(service.startStreaming());
        service.audioBuffer().append(pcm(64000));
        finish(service.stopStreaming());
        QCOMPARE(server.requests.size(), 2);
        QCOMPARE(server.requests[1].body.size(), 64000);
    }

    // The loop's upload answers late, the final one at once: the transcript
    // still reads in the order the words were spoken.
    void appliesRepliesInUploadOrder()
    {
        ScriptedHttpServer server;
        QVERIFY(server.start());
        server.script = { ScriptedHttpServer::transcript("first", 600), ScriptedHttpServer::transcript("second") };
        SpeechService service(server.baseUrl());
        service.setBufferInterval(fastInterval);
        QSignalSpy finished(&service, &SpeechService::uploadFinished);
        QSignalSpy texts(&service, &SpeechService::transcribedTextChanged);
        finish(service.startStreaming());
        service.audioBuffer().append(pcm(48000));
        QTRY_COMPARE(server.requests.size(), 1);
        service.audioBuffer().append(pcm(30000));
        finish(service.stopStreaming());
        QCOMPARE(server.requests.size(), 2);

        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 5000);
        QCOMPARE(service.transcribedText(), QStringLiteral("first second"));
        QCOMPARE(texts.first().first().toString(), QStringLiteral("first"));
        QCOMPARE(finished[0].first().toLongLong() + 1, finished[1].first().toLongLong());

        // A failed earlier upload releases the later one.
        server.script = { { 500, {}, {}, 400, false }, ScriptedHttpServer::transcript("third") };
        finish(service.startStreaming());
        service.audioBuffer().append(pcm(48000));
        QTRY_COMPARE(server.requests.size(), 3);
        service.audioBuffer().append(pcm(2));
        finish(service.stopStreaming());
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 4, 5000);
        QCOMPARE(service.transcribedText(), QStringLiteral("first second third"));
        QCOMPARE(service.errorMessage(), QStringLiteral("Server error: 500"));
    }

    void readsTheServerAddressSetting()
    {
        Settings::remove(QStringLiteral("serverBaseURL"));
        QCOMPARE(SpeechService().serverBaseURL(), QStringLiteral("http://127.0.0.1:8750"));
        Settings::setString(QStringLiteral("serverBaseURL"), QStringLiteral("https://speech.example.org"));
        QCOMPARE(SpeechService().serverBaseURL(), QStringLiteral("https://speech.example.org"));
        Settings::setBool(QStringLiteral("serverBaseURL"), true); // wrong type: the default
        QCOMPARE(SpeechService().serverBaseURL(), QStringLiteral("http://127.0.0.1:8750"));
        Settings::remove(QStringLiteral("serverBaseURL"));
    }
};

QTEST_GUILESS_MAIN(TestCloud)
#include "test_cloud.moc"
