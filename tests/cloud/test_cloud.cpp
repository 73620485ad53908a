#include "speech/SpeechService.h"
#include "support/ScriptedHttpServer.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

using namespace std::chrono_literals;
using Reply = ScriptedHttpServer::Reply;

Q_DECLARE_METATYPE(Reply)

namespace
{

Reply transcript(const QByteArray &text, int delayMs = 0)
{
    return { 200, R"({"type":"transcript","text":")" + text + R"(","isFinal":true})", "application/json",
        delayMs };
}

// A service streaming to `baseUrl`, by default with a loop that looks at the buffer often.
struct Stream {
    explicit Stream(const QString &baseUrl, std::chrono::milliseconds interval = 50ms,
        std::chrono::milliseconds timeout = 15s)
        : service(baseUrl, timeout)
    {
        service.setBufferInterval(interval);
        service.setRetryDelays(10ms, 30ms);
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

    // The middle of three uploads fails; the two others still reach the transcript.
    void reportsEveryFailureAndKeepsStreaming_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QString>("baseUrl"); // null: the scripted server
        QTest::addColumn<QString>("error"); // null: none published
        QTest::addColumn<int>("attempts"); // a passing failure is tried three times

        // A passing failure says the server is out of reach for now (a
        // restart, a proxy without a backend): it is tried again.
        const struct {
            const char *name;
            Reply reply;
            QString baseUrl;
            QString error;
            bool passing;
        } rows[] = {
            { "500 error JSON", { 500, R"({"type":"error","error":"Decoder crashed"})" }, {},
                "Decoder crashed", false },
            { "502 from the server itself", { 502, R"({"type":"error","error":"Upstream failed"})" }, {},
                "Upstream failed", false },
            { "502 HTML", { 502, "<html><body>Bad Gateway</body></html>", "text/html" }, {},
                "Server error: 502", true },
            { "503 restarting", { 503, "" }, {}, "Server error: 503", true },
            { "429 busy", { 429, R"({"type":"error","error":"Too many uploads"})" }, {}, "Too many uploads",
                true },
            { "no reply", Reply::withheld(), {}, "Network error: The request timed out.", true },
            { "invalid URL", {}, "ftp://127.0.0.1", "Invalid server URL", false },
        };
        const QString lost = QStringLiteral(" (1.5 s of speech could not be recognized)");
        for (const auto &row : rows)
            QTest::newRow(row.name) << row.reply << row.baseUrl
                                    << (row.passing ? row.error + lost : row.error) << (row.passing ? 3 : 1);
    }

    void reportsEveryFailureAndKeepsStreaming()
    {
        QFETCH(Reply, reply);
        QFETCH(QString, baseUrl);
        QFETCH(QString, error);
        QFETCH(int, attempts);

        ScriptedHttpServer server;
        server.script = { transcript("before") };
        for (int i = 0; i < attempts; ++i)
            server.script << reply;
        server.script << transcript("after");
        Stream stream(baseUrl.isNull() ? server.baseUrl() : baseUrl, 50ms, 300ms);
        for (char i = 0; i < 3; ++i) {
            stream.service.audioBuffer().append(QByteArray(48000, char(i + 1)));
            QTRY_COMPARE_WITH_TIMEOUT(stream.finished.count(), i + 1, 5000);
        }
        // Which upload each request carried: the middle one as often as it was tried.
        QByteArray sent;
        for (const auto &request : server.requests)
            sent += request.body.left(1);
        QCOMPARE(sent, baseUrl.isNull() ? "\1" + QByteArray(attempts, '\2') + "\3" : QByteArray());
        QCOMPARE(stream.service.errorMessage(), error);
        QCOMPARE(stream.service.errorMessage().isNull(), error.isNull());
        QCOMPARE(
            stream.service.transcribedText(), baseUrl.isNull() ? QStringLiteral("before after") : QString());
    }

    // The last words must not be lost because they are shorter than an upload.
    void padsTheFinalUpload()
    {
        for (const qsizetype size : { 0, 20000, 64000 }) {
            ScriptedHttpServer server;
            server.fallback = transcript("last words");
            Stream stream(server.baseUrl(), 10s); // only the stop uploads
            const QByteArray tail(size, '\5');
            stream.service.audioBuffer().append(tail);
            QCoro::waitFor(stream.service.stopStreaming());
            QTest::qWait(100);
            QCOMPARE(server.requests.size(), size ? 1 : 0); // nothing said, nothing sent
            if (size) {
                const QByteArray body = server.requests.first().body;
                QCOMPARE(body.size(), qMax(size, SpeechService::minBufferSize));
                QCOMPARE(body.left(size), tail);
                QCOMPARE(body.mid(size), QByteArray(body.size() - size, '\0'));
                QTRY_COMPARE(stream.service.transcribedText(), QStringLiteral("last words"));
            }
        }
    }

    // The loop's upload answers late, the final one at once: the transcript
    // still reads in the order the words were spoken, and the stop returns
    // only once both are in. Each recording keeps its own words.
    void appliesRepliesInUploadOrderWithinTheirRecording()
    {
        ScriptedHttpServer server;
        server.script
            = { transcript("first", 600), transcript("second"), { 500, {}, {}, 400 }, transcript("third") };
        SpeechService service(server.baseUrl());
        service.setBufferInterval(50ms);
        QSignalSpy finished(&service, &SpeechService::uploadFinished);
        QSignalSpy events(&service, &SpeechService::transcript);
        const QStringList texts { "first second", "third" };
        for (const int round : { 1, 2 }) {
            QCoro::waitFor(service.startStreaming(quint64(round)));
            service.audioBuffer().append(QByteArray(48000, '\1'));
            QTRY_COMPARE(server.requests.size(), 2 * round - 1);
            service.audioBuffer().append(QByteArray(30000, '\1'));
            QCoro::waitFor(service.stopStreaming());
            QCOMPARE(server.requests.size(), 2 * round);
            QCOMPARE(finished.count(), 2 * round);
            QCOMPARE(service.transcribedText(), texts[round - 1]);
        }
        // The failed earlier upload of the second round released the later one.
        QCOMPARE(service.errorMessage(), QStringLiteral("Server error: 500"));
        QStringList seen;
        for (const QList<QVariant> &event : events) {
            const auto transcript = event.first().value<TranscriptEvent>();
            seen << QStringLiteral("%1:%2").arg(transcript.recording).arg(transcript.text);
        }
        QCOMPARE(seen, (QStringList { "1:first", "1:first second", "2:third" }));
    }

    // Two stops at once (the user's, a language change's): one runs, the
    // other waits for it; a start meanwhile waits too and streams afresh.
    void stopsAreOrdered()
    {
        ScriptedHttpServer server;
        server.fallback = transcript("late", 300);
        SpeechService service(server.baseUrl());
        QSignalSpy events(&service, &SpeechService::transcript);
        QCoro::waitFor(service.startStreaming(1));
        service.audioBuffer().append(QByteArray(1000, '\1'));
        auto first = service.stopStreaming();
        auto second = service.stopStreaming();
        auto restart = service.startStreaming(2);
        QCoro::waitFor(second);
        QCOMPARE(server.requests.size(), 1);
        QCOMPARE(events.size(), 1);
        QCOMPARE(events.first().first().value<TranscriptEvent>().recording, quint64(1));
        QCoro::waitFor(first);
        QCoro::waitFor(restart);
        QVERIFY(service.isStreaming());
        QVERIFY(service.transcribedText().isEmpty());
        QCoro::waitFor(service.stopStreaming());
    }
};

QTEST_GUILESS_MAIN(TestCloud)
#include "test_cloud.moc"
