// Uploads from the speech service: where they are cut, what is sent, how replies and failures are told.
#include "speech/SpeechService.h"
#include "speech/UploadSegmenter.h"
#include "support/ScriptedHttpServer.h"
#include "support/SyntheticSpeech.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

using namespace std::chrono_literals;
using Reply = ScriptedHttpServer::Reply;
using Bounds = UploadSegmenter::Bounds;
// An upload as its length and the speech in it, in milliseconds.
using Shape = QList<QPair<int, int>>;

namespace
{

Reply transcript(const QByteArray &text, int delayMs = 0)
{
    return { 200, R"({"type":"transcript","text":")" + text + R"(","isFinal":true})", "application/json",
        delayMs };
}

// One upload for a loop that looks often: 1.1 s of speech, cut at the pause once the 1.5 s minimum is in.
QByteArray spoken()
{
    return syntheticSpeech({ silent(100), voiced(1100), silent(300) });
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

    // The middle of three uploads fails, the others still count; a passing failure is retried, a loss told.
    void reportsEveryFailureAndKeepsStreaming()
    {
        const Reply crashed { 500, R"({"type":"error","error":"Decoder crashed"})" };
        const Reply gateway { 502, "<html><body>Bad Gateway</body></html>", "text/html" };
        const Reply withheld = Reply::withheld();
        const struct {
            const char *name;
            QList<Reply> replies; // to the middle upload
            QString baseUrl; // null: the scripted server
            QString error; // null: none published
        } rows[] = {
            { "500 three times", { crashed, crashed, crashed }, {}, "Decoder crashed" },
            { "500 once", { crashed, transcript("middle") }, {}, {} },
            { "502 from a proxy", { gateway, gateway, gateway }, {}, "Server error: 502" },
            { "502 once", { { 502, R"({"type":"error","error":"Upstream failed"})" }, transcript("middle") },
                {}, {} },
            { "no reply", { withheld, withheld, withheld }, {}, "Network error: The request timed out." },
            { "error in a reply", { { 200, R"({"type":"error","error":"No model"})" } }, {}, "No model" },
            { "refused", { { 400, R"({"type":"error","error":"Odd body length"})" } }, {},
                "Odd body length" },
            // Whatever the server says, the user learns what to do about it.
            { "sign-in needed", { { 401, R"({"type":"error","error":"Unauthorized"})" } }, {},
                "This server recognizes speech only for signed-in users. Sign in to Tellwind and try "
                "again." },
            { "invalid URL", {}, "ftp://127.0.0.1", "Invalid server URL" },
        };
        for (const auto &row : rows) {
            const auto guard = rowGuard(row.name);
            ScriptedHttpServer server;
            server.script = QList { transcript("before") } + row.replies + QList { transcript("after") };
            Stream stream(row.baseUrl.isNull() ? server.baseUrl() : row.baseUrl, 50ms, 300ms);
            stream.service.setSessionTokenSource([] { return QStringLiteral("session-4711"); });
            for (int i = 0; i < 3; ++i) {
                stream.service.audioBuffer().append(spoken());
                QTRY_COMPARE_WITH_TIMEOUT(stream.finished.count(), i + 1, 5000);
            }
            // Typed so that a server refusing cross-site browser requests takes it; the user's session.
            for (const auto &request : server.requests) {
                QCOMPARE(request.header("Content-Type"), "application/octet-stream");
                QCOMPARE(request.header("Authorization"), "Bearer session-4711");
            }
            const QString &error = row.error;
            QCOMPARE(stream.service.errorMessage(),
                error.isNull() ? error : error + " (1.1 s of speech was lost)");
            QCOMPARE(stream.service.errorMessage().isNull(), error.isNull());
            QCOMPARE(stream.service.transcribedText(),
                !row.baseUrl.isNull() ? QString()
                    : error.isNull()  ? "before middle after"
                                      : "before after");
        }
    }

    // A server failing through a whole dictation: each kind of failure told once, counting lost speech only.
    void tellsEachFailureOnce()
    {
        ScriptedHttpServer server;
        server.script = QList<Reply>(9, Reply { 500 }) << Reply { 413 };
        Stream stream(server.baseUrl());
        QSignalSpy errors(&stream.service, &SpeechService::recognitionError);
        const QByteArray chunks[] { QByteArray(SpeechService::minBufferSize, '\0'), spoken(), spoken(),
            spoken() };
        for (const QByteArray &chunk : chunks) {
            stream.service.audioBuffer().append(chunk);
            QTRY_COMPARE_WITH_TIMEOUT(stream.finished.count(), int(&chunk - chunks) + 1, 5000);
        }
        QStringList told;
        for (const QList<QVariant> &error : errors)
            told << error.first().value<RecognitionError>().message;
        QCOMPARE(told,
            (QStringList { "Server error: 500", "Server error: 500 (1.1 s of speech was lost)",
                "Server error: 413 (1.1 s of speech was lost)" }));
        QCOMPARE(server.requests.size(), 10);
    }

    // Uploads end in the pauses after the interval; a speaker who never pauses is cut at the longest upload.
    void cutsUploadsAtPauses()
    {
        ScriptedHttpServer server;
        server.fallback = transcript("words");
        SpeechService service(server.baseUrl());
        QCoro::waitFor(service.startStreaming());
        service.audioBuffer().append(syntheticSpeech(
            { silent(300), voiced(2900), silent(400), voiced(600), silent(300), voiced(9000) }));
        QTRY_COMPARE(server.requests.size(), 2);
        QCoro::waitFor(service.stopStreaming());
        QList<qsizetype> ms;
        for (const HttpMessage &request : server.requests)
            ms << request.body.size() / 32;
        // In the first pause after three seconds; at most eight seconds; the rest.
        QCOMPARE(ms.size(), 3);
        QVERIFY2(ms[0] > 3200 && ms[0] < 3600, qPrintable(QString::number(ms[0])));
        QCOMPARE(ms[1], 8000);
        QCOMPARE(ms[0] + ms[1] + ms[2], 13500);
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
                QCOMPARE(server.requests.first().body,
                    tail + QByteArray(qMax(size, SpeechService::minBufferSize) - size, '\0'));
                QTRY_COMPARE(stream.service.transcribedText(), QStringLiteral("last words"));
            }
        }
    }

    // The final upload answered before a late earlier one: the words keep their order, the stop waits for
    // both, and each recording keeps its own words.
    void appliesRepliesInUploadOrderWithinTheirRecording()
    {
        ScriptedHttpServer server;
        server.script
            = { transcript("first", 600), transcript("second"), { 400, {}, {}, 400 }, transcript("third") };
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
        QCOMPARE(service.errorMessage(), QStringLiteral("Server error: 400"));
        QStringList seen;
        for (const QList<QVariant> &event : events) {
            const auto transcript = event.first().value<TranscriptEvent>();
            seen << QStringLiteral("%1:%2").arg(transcript.recording).arg(transcript.text);
        }
        QCOMPARE(seen, (QStringList { "1:first", "1:first second", "2:third" }));

        // A start does not wait for the last stream's reply, which goes to its recording; a second stop
        // idles.
        server.fallback = transcript("late", 300);
        events.clear();
        QCoro::waitFor(service.startStreaming(3));
        service.audioBuffer().append(QByteArray(1000, '\1'));
        auto third = service.stopStreaming();
        QCoro::waitFor(service.stopStreaming());
        QCoro::waitFor(service.startStreaming(4));
        QVERIFY(service.isStreaming() && events.isEmpty());
        service.audioBuffer().append(QByteArray(100, '\2'));
        QCoro::waitFor(third);
        QCOMPARE(server.requests.size(), 5);
        QCOMPARE(events.size(), 1);
        QCOMPARE(events.first().first().value<TranscriptEvent>().recording, quint64(3));
        QVERIFY(service.transcribedText().isEmpty());
        // The new stream's audio is its own: the third's stop did not take it...
        QCoro::waitFor(service.stopStreaming());
        QTRY_COMPARE(server.requests.size(), 6);
        QCOMPARE(server.requests[5].body.left(100), QByteArray(100, '\2'));
        QCOMPARE(service.transcribedText(), QStringLiteral("late")); // nor closed it
    }

    // Fed at once or in chunks that split samples: the same uploads, which put together give back the
    // stream and the padding.
    void segmentsAtPauses()
    {
        const Bounds standard, early { 500ms };
        // A pause before the interval is passed by; the next, reaching 200 ms at 4.1 s, is cut in its middle.
        const QList<SpeechPart> twoPauses { silent(300), voiced(1700), silent(400), voiced(1500), silent(400),
            voiced(900) };
        const Shape atSecondPause { { 4000, 3200 }, { 1500, 900 } },
            steady { { 2900, 0 }, { 2900, 0 }, { 1500, 0 } };
        const struct {
            const char *name;
            Bounds bounds;
            QList<SpeechPart> parts;
            double loudness, noise;
            Shape expected; // the last upload is the padded rest
        } rows[] = {
            { "pause after the interval", standard, twoPauses, 8000, 0, atSecondPause },
            { "a whisper", standard, twoPauses, 60, 1, atSecondPause },
            { "under loud noise", standard, twoPauses, 8000, 1000, atSecondPause },
            // The clipped microphone of a shouting speaker.
            { "clipping", standard, twoPauses, 80000, 0, atSecondPause },
            { "no pause before the minimum", early,
                { silent(100), voiced(500), silent(300), voiced(800), silent(300), voiced(500) }, 8000, 0,
                { { 1800, 1300 }, { 1500, 500 } } },
            { "pause across the minimum", early, { silent(100), voiced(1100), silent(700), voiced(1000) },
                8000, 0, { { 1500, 1100 }, { 1500, 1000 } } },
            { "no pause at all", standard, { silent(300), voiced(9900) }, 8000, 0,
                { { 8000, 7700 }, { 2200, 2200 } } },
            { "only a short rest", standard, { silent(200), voiced(600) }, 8000, 0, { { 1500, 600 } } },
            { "silence", standard, { silent(7000) }, 0, 0, steady },
            { "loud noise alone", standard, { silent(7000) }, 0, 3000, steady },
            { "nothing", standard, {}, 0, 0, {} },
        };
        for (const auto &row : rows) {
            const QByteArray stream = syntheticSpeech(row.parts, row.loudness, row.noise);
            for (const qsizetype chunk : { stream.size(), qsizetype(333) }) {
                const auto guard = rowGuard(row.name + QByteArray(", chunk ") + QByteArray::number(chunk));
                UploadSegmenter segmenter(row.bounds);
                QList<UploadSegmenter::Segment> uploads;
                for (qsizetype at = 0; at < stream.size(); at += chunk)
                    uploads << segmenter.append(
                        QByteArrayView(stream).sliced(at, std::min(chunk, stream.size() - at)));
                if (const auto last = segmenter.finish())
                    uploads << *last;
                QVERIFY(!segmenter.finish());
                Shape shape;
                QByteArray joined;
                for (const UploadSegmenter::Segment &upload : uploads) {
                    shape << qMakePair(int(upload.pcm.size() / 32), int(upload.speech.count()));
                    joined += upload.pcm;
                }
                QCOMPARE(shape.size(), row.expected.size());
                for (qsizetype i = 0; i < shape.size(); ++i) {
                    // Edges of speech under noise move by a frame or two.
                    QVERIFY2(std::abs(shape[i].first - row.expected[i].first) <= 20
                            && std::abs(shape[i].second - row.expected[i].second) <= 100,
                        qPrintable(QString::asprintf("upload %lld is %d ms with %d ms of speech",
                            qlonglong(i), shape[i].first, shape[i].second)));
                }
                QCOMPARE(joined.left(stream.size()), stream);
                QCOMPARE(joined.mid(stream.size()), QByteArray(joined.size() - stream.size(), '\0'));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestCloud)
#include "test_cloud.moc"
