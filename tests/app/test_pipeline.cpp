// The dictation chain from the microphone to the keys with only its ends faked: a scripted HTTP server
// answers the uploads and a fake keyboard plays a text field.

#include "app/AppState.h"
#include "common/Settings.h"
#include "fakes/FakeApplicationBundle.h"
#include "fakes/FakeCursorIndicator.h"
#include "fakes/FakeDictationRecognizer.h"
#include "fakes/FakePasteboard.h"
#include "fakes/FakeTypingBackend.h"
#include "fakes/FakeWindowSystem.h"
#include "output/TextInsertionService.h"
#include "speech/TextFormattingSettings.h"
#include "support/RecognitionRig.h"
#include "support/ScriptedHttpServer.h"
#include "support/TerminalTarget.h"
#include "support/TypingChain.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <numeric>

using namespace std::chrono_literals;

namespace
{

ScriptedHttpServer::Reply transcript(const QByteArray &text, int delayMs = 0)
{
    return { 200, R"({"type":"transcript","text":")" + text + R"("})", "application/json", delayMs };
}

struct Chain : RecognitionRig {
    ScriptedHttpServer server;
    FakeTypingBackend keyboard;
    FakePasteboard pasteboard;
    FakeApplicationBundle bundle;
    FakeCursorIndicator indicator;
    FakeWindowSystem windows;
    TextInsertionService typing { keyboard, alerts, workspace, bundle, windows, pasteboard };
    std::unique_ptr<AppState> state;

    Chain()
    {
        keyboard.pasteboard = &pasteboard;
        auto client = std::make_unique<SpeechService>(server.baseUrl());
        client->setBufferInterval(100ms);
        make(std::move(client)).togglePreferredProvider(); // the server path
        state = std::make_unique<AppState>(*manager, indicator, typing);
    }
};

} // namespace

class TestPipeline : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        // What is typed is compared as the server sent it, whatever an earlier test left in the settings.
        Settings::setBool(QString::fromLatin1(TextFormattingSettings::autoCapitalizeKey), false);
    }

    // The loop's upload is answered late, the user stops and starts again at once: the new recording
    // captures at once, the first one's words are typed in full, in order, as its own; the second follows.
    void aLateReplyStaysWithItsRecording()
    {
        Chain chain;
        chain.server.script
            = { transcript("first words", 800), transcript("last words"), transcript("second recording") };
        chain.state->startRecording();
        QTRY_VERIFY(chain.source->running);
        QVERIFY(chain.speak(1.6));
        QTRY_COMPARE(chain.server.requests.size(), 1);
        QVERIFY(chain.speak(0.5));
        chain.state->stopRecording();
        QVERIFY(chain.state->isFinishing());
        chain.state->startRecording();
        QTRY_COMPARE(chain.source->starts, 2);
        QVERIFY(chain.source->running && chain.state->isFinishing());
        QTRY_COMPARE(chain.server.requests.size(), 2);
        QTRY_VERIFY(!chain.state->isFinishing());
        QCOMPARE(chain.keyboard.screen, QStringLiteral("first words last words"));

        QVERIFY(chain.speak(1.6));
        QTRY_COMPARE(chain.server.requests.size(), 3);
        QTRY_COMPARE(chain.keyboard.screen, QStringLiteral("first words last words. second recording"));
        QCoro::waitFor(chain.state->stopRecording());
    }

    // The server stalls for five seconds (stopped, overloaded) while the user
    // goes on speaking: nothing is lost and the words keep their order.
    void aStalledServerLosesNothing()
    {
        Chain chain;
        const QByteArrayList words { "one", "two", "three", "four", "five", "six", "seven", "eight" };
        chain.server.script = { transcript(words.first(), 5000) };
        for (const QByteArray &word : words.mid(1))
            chain.server.script << transcript(word);
        chain.state->startRecording();
        QTRY_VERIFY(chain.source->running);
        QVERIFY(chain.speak(1.6));
        QTRY_COMPARE(chain.server.requests.size(), 1);
        // Speech that arrives during the stall waits for the uploads after it.
        for (int i = 0; i < 4; ++i) {
            QVERIFY(chain.speak(1.0));
            QTest::qWait(500);
        }
        QCOMPARE(chain.server.requests.size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(chain.keyboard.screen, QStringLiteral("one"), 8000);
        QTRY_VERIFY(chain.server.requests.size() >= 2);
        QVERIFY(chain.speak(0.5));
        QCoro::waitFor(chain.state->stopRecording());
        QVERIFY(std::accumulate(chain.server.requests.cbegin(), chain.server.requests.cend(), qsizetype(0),
                    [](qsizetype sum, const auto &request) { return sum + request.body.size(); })
            >= qsizetype(6.1 * 16000 * 2));
        // The stalled reply comes first; the stop's uploads arrive in any order, but none is missing.
        QStringList typed = chain.keyboard.screen.split(u' ');
        QCOMPARE(typed.first(), QStringLiteral("one"));
        QByteArrayList answered = words.mid(0, chain.server.requests.size());
        std::ranges::sort(typed);
        std::ranges::sort(answered);
        QCOMPARE(typed.join(' ').toLatin1(), answered.join(' '));
        QVERIFY(chain.state->errorMessage().isNull());
    }

    // The capture's stop returns once its last chunk is fed; the session's hand-over to the client may
    // still be queued then, and the finish that follows at once must upload those last words too.
    void audioFedJustBeforeAFinishIsUploaded()
    {
        Chain chain;
        chain.server.script = { transcript("last words") };
        const std::shared_ptr<EngineSession> session
            = serverEngine(*chain.RecognitionRig::server).create(QStringLiteral("en-US"));
        const QByteArray early(16000, '\x10'), late(32000, '\x20');
        session->feed(early);
        QCoreApplication::sendPostedEvents(); // its hand-over runs before there is a stream to take it
        QVERIFY(!QCoro::waitFor(session->start(1, 0)));
        session->feed(late);
        QCoro::waitFor(session->finish());
        QCOMPARE(chain.server.requests.size(), 1);
        QVERIFY(chain.server.requests.first().body.contains(early + late));
    }

    // A Return typed into a terminal cannot be taken back: a line break heard only in a partial result
    // waits for the final one, or the half-recognised line would reach the shell. Real XTest keys into xterm.
    void aSpokenLineBreakReachesATerminalOnce()
    {
        Settings::setBool(
            QString::fromLatin1(TextFormattingSettings::autoCapitalizeKey), true); // the default
        QTemporaryDir folder;
        TerminalTarget terminal(folder.filePath("typed.txt"));
        QVERIFY(terminal.isReady());
        FakeDictationRecognizer recognizer;
        FakeCursorIndicator indicator;
        TypingChain typing;
        AppState state(recognizer, indicator, typing.service);
        QCoro::waitFor(state.startRecording());
        // What the recognizer says as the sentence goes on, and the line after each: never the Return.
        const QList<std::pair<QString, QString>> partials {
            { "censor", "Censor" },
            { "censor report to the finance team", "Censor report to the finance team" },
            { "censor report to the finance team period new line", "Censor report to the finance team." },
            { "send the report to the finance team period new line thanks",
                "Send the report to the finance team." },
        };
        QSignalSpy typed(&typing.service, &TextInsertionService::lastInsertedTextChanged);
        for (qsizetype i = 0; i < partials.size(); ++i) {
            recognizer.publishTranscript(partials[i].first);
            QTRY_COMPARE(typed.size(), i + 1);
            QCOMPARE(typed.last().first().toString(), partials[i].second);
        }
        recognizer.publishTranscript(
            "send the report to the finance team period new line thanks period", 0, true);
        QCoro::waitFor(state.stopRecording());
        QCOMPARE(terminal.finish(), QString("Send the report to the finance team.\nThanks."));
    }
};

QTEST_MAIN(TestPipeline)
#include "test_pipeline.moc"
