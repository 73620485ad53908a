// The dictation chain from the microphone to the keys, with only its ends
// faked: the controller, the recognition manager, the server client, the
// capture service and the typing service are the real ones; a scripted HTTP
// server answers the uploads and a fake keyboard plays a text field.

#include "app/AppState.h"
#include "app/SharedNeighbours.h"
#include "common/Settings.h"
#include "fakes/FakeAccessibilityTrust.h"
#include "fakes/FakeApplicationBundle.h"
#include "fakes/FakeCursorIndicator.h"
#include "fakes/FakeKeyboardEventSink.h"
#include "fakes/FakePasteboard.h"
#include "output/TextInsertionService.h"
#include "speech/TextFormattingSettings.h"
#include "support/RecognitionRig.h"
#include "support/ScriptedHttpServer.h"

#include <QStandardPaths>
#include <QTest>

using namespace std::chrono_literals;
using Reply = ScriptedHttpServer::Reply;

namespace
{

Reply transcript(const QByteArray &text, int delayMs = 0)
{
    return { 200, R"({"type":"transcript","text":")" + text + R"("})", "application/json", delayMs };
}

struct Chain : RecognitionRig {
    ScriptedHttpServer server;
    FakeKeyboardEventSink keyboard;
    FakeAccessibilityTrust trust;
    FakePasteboard pasteboard;
    FakeApplicationBundle bundle;
    FakeCursorIndicator indicator;
    TextInsertionService typingService { keyboard, trust, pasteboard, alerts, workspace, bundle };
    std::unique_ptr<ManagerRecognizer> recognizer;
    ServiceTyping typing { typingService };
    std::unique_ptr<AppState> state;

    Chain()
    {
        auto client = std::make_unique<SpeechService>(server.baseUrl());
        client->setBufferInterval(100ms);
        make(std::move(client)).togglePreferredProvider(); // the server path
        recognizer = std::make_unique<ManagerRecognizer>(*manager);
        state = std::make_unique<AppState>(*recognizer, indicator, typing);
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

    // The loop's upload is answered late, the user stops just after it and
    // starts again at once: the first recording's words are typed into the
    // first recording, before the second one begins, and only there.
    void aLateReplyStaysWithItsRecording()
    {
        Chain chain;
        chain.server.script
            = { transcript("first words", 800), transcript("last words"), transcript("second recording") };
        chain.state->startRecording();
        QTRY_VERIFY(chain.state->isRecording());
        QVERIFY(chain.speak(1.6));
        QTRY_COMPARE(chain.server.requests.size(), 1);
        QVERIFY(chain.speak(0.5));
        chain.state->stopRecording();
        QVERIFY(chain.state->isFinishing());
        chain.state->startRecording();

        QTRY_COMPARE(chain.server.requests.size(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(chain.state->isRecording(), 5000);
        QVERIFY(!chain.state->isFinishing());
        // Typed in full, in the order spoken, before the next recording began.
        QCOMPARE(chain.keyboard.screen, QStringLiteral("first words last words"));

        QVERIFY(chain.speak(1.6));
        QTRY_COMPARE(chain.server.requests.size(), 3);
        QTRY_COMPARE(chain.keyboard.screen, QStringLiteral("first words last wordssecond recording"));
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
        QTRY_VERIFY(chain.state->isRecording());
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
        qsizetype uploaded = 0;
        for (const ScriptedHttpServer::Request &request : chain.server.requests)
            uploaded += request.body.size();
        QVERIFY(uploaded >= qsizetype(6.1 * 16000 * 2));
        // The stalled reply still comes first; the uploads sent together at
        // the stop reach the scripted server in any order, so its words may
        // be shuffled among them, but none is missing.
        QStringList typed = chain.keyboard.screen.split(u' ');
        QCOMPARE(typed.first(), QStringLiteral("one"));
        QStringList answered
            = QString::fromLatin1(words.mid(0, chain.server.requests.size()).join(' ')).split(u' ');
        typed.sort();
        answered.sort();
        QCOMPARE(typed, answered);
        QVERIFY(chain.state->errorMessage().isNull());
    }
};

QTEST_MAIN(TestPipeline)
#include "test_pipeline.moc"
