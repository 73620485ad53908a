// The dictation controller against a fake recognizer, and typing through the
// real service into a fake text field whose window focus the test moves.

#include "app/AppState.h"
#include "common/Settings.h"
#include "fakes/FakeCursorIndicator.h"
#include "fakes/FakeDictationRecognizer.h"
#include "fakes/FakeDictationTyping.h"
#include "speech/TextFormattingSettings.h"
#include "support/TypingRig.h"

#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTest>

namespace
{

struct Rig {
    FakeDictationRecognizer recognizer;
    FakeCursorIndicator indicator;
    FakeDictationTyping typing;
    AppState state { recognizer, indicator, typing };
};

// The controller typing through the real service into a text field that
// records its keys.
struct FieldRig : TypingRig {
    FakeDictationRecognizer recognizer;
    FakeCursorIndicator indicator;
    AppState state { recognizer, indicator, service };

    FieldRig()
    {
        Settings::setBool(TextFormattingSettings::autoCapitalizeKey, true);
        Settings::setBool(TextFormattingSettings::spokenPunctuationKey, true);
    }
    bool start()
    {
        const qsizetype before = recognizer.sessions.size();
        state.startRecording();
        return QTest::qWaitFor([&] { return recognizer.sessions.size() > before && recognizer.session; });
    }
    // Each transcript ("utterance|text", or the first utterance's text; a
    // leading "*" makes it final) is typed to its end before the next comes.
    bool say(QString update)
    {
        const bool isFinal = update.startsWith(u'*');
        if (isFinal)
            update = update.mid(1);
        const qsizetype bar = update.indexOf(u'|');
        recognizer.publishTranscript(
            update.mid(bar + 1), bar < 0 ? 0 : update.left(bar).toULongLong(), isFinal);
        return QTest::qWaitFor([&] { return !service.isTyping(); });
    }
};

} // namespace

class TestAppState : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void typesFormattedTranscripts()
    {
        const QList<QPair<QStringList, QString>> cases {
            // A revision that only adds a combining mark is still typed.
            { { "cafe", u"cafe\u0301"_qs }, u"Caf\u00E9"_qs },
            { { "hello comma", "hello coma", "hello comma world" }, "Hello, world" },
            // A fresh utterance is separated by what the formatted text ends with.
            { { "is it raining question mark", "1|yes" }, "Is it raining? Yes" },
            { { "it is raining", "1|yes" }, "It is raining. Yes" },
            // A line break cannot be taken back once a terminal or a chat took it:
            // it waits for the final text, while the words before it go on live.
            { { "censor report period new line thanks", "send the report period new line thanks",
                  "*send the report period new line thanks period" },
                "Send the report.\nThanks." },
            { { "censor report period new line thanks period" }, "Censor report." }
        };
        for (const auto &[published, screen] : cases) {
            FieldRig rig;
            QVERIFY(rig.start());
            for (const QString &text : published)
                QVERIFY2(rig.say(text), qPrintable(text));
            QCOMPARE(rig.field.screen, screen);
        }
    }

    // Refused starts touch nothing else; a capture that ends by itself
    // leaves idle and the next toggle starts anew; a stop returns once the
    // recording's last words are typed, as a quit or a script waiting for it needs.
    void startsAndStopsBeyondTheUsualOnes()
    {
        Rig rig;
        rig.typing.trusted = false;
        rig.state.startRecording();
        QTRY_COMPARE(rig.typing.journal, QStringList { "enable alert" });
        QTRY_VERIFY(rig.recognizer.calls.isEmpty() && !rig.state.isRecording());
        rig.typing.trusted = true;
        // A recognizer that cannot start: its error shows, no badge.
        rig.recognizer.startError = QStringLiteral("Failed to start server recognition: no microphone");
        rig.state.startRecording();
        QTRY_COMPARE(rig.state.errorMessage(), rig.recognizer.startError);
        QTRY_VERIFY(!rig.state.isRecording());
        QCOMPARE(rig.indicator.shows, 0);
        rig.recognizer.startError = QString();

        // The microphone goes away for good: the panel shows idle, and the next
        // toggle starts a new recording rather than "stopping" a dead one.
        QCoro::waitFor(rig.state.startRecording());
        QVERIFY(rig.state.isRecording() && rig.indicator.showing);
        rig.recognizer.session->endByItself();
        QTRY_VERIFY(!rig.state.isRecording() && !rig.indicator.showing);
        QTRY_VERIFY(!rig.state.isFinishing());
        QCoro::waitFor(rig.state.toggleRecording());
        QVERIFY(rig.state.isRecording() && rig.recognizer.isListening());
        QCOMPARE(rig.recognizer.calls, (QStringList { "start", "start", "stop", "start" }));

        rig.typing.typingTime = std::chrono::milliseconds(50);
        rig.recognizer.transcriptAtStop = QStringLiteral("last words");
        QCoro::waitFor(rig.state.stopRecording());
        QCOMPARE(rig.typing.journal.last(), QStringLiteral("typed:Last words"));
        QVERIFY(!rig.state.isFinishing());
    }

    // The user stops, clicks into another window and starts again at once,
    // before the first recording's last words came: the new one captures
    // immediately, the late words are never typed into the other window
    // (nor do its backspaces reach the text there), the new recording types
    // there, and the user is offered the words that were held back.
    void aLateRevisionNeverReachesAnotherWindow()
    {
        FieldRig rig;
        QVERIFY(rig.start());
        QVERIFY(rig.say("hello study"));
        QCOMPARE(rig.field.screen, QStringLiteral("Hello study"));

        rig.recognizer.holdStop = true;
        rig.recognizer.transcriptAtStop = QStringLiteral("hello study rather cold hearted");
        rig.state.stopRecording();
        QTRY_VERIFY(rig.state.isFinishing());
        rig.field.screen = QStringLiteral("USER TEXT IN B");
        rig.windows.focus = 2;
        QVERIFY(rig.start()); // while the first still waits for its last words
        QVERIFY(rig.state.isRecording() && rig.state.isFinishing());
        rig.recognizer.holdStop = false;
        const std::shared_ptr<RecognitionSession> second = rig.recognizer.session;
        rig.recognizer.release();
        QTRY_VERIFY(!rig.state.isFinishing());
        rig.recognizer.transcriptAtStop.clear();
        QVERIFY(!rig.service.isTyping());
        QCOMPARE(rig.field.screen, QStringLiteral("USER TEXT IN B"));
        QTRY_COMPARE(rig.alerts.shown.size(), 0); // not while the user dictates
        QVERIFY(rig.say("good morning"));
        QCOMPARE(rig.field.screen, QStringLiteral("USER TEXT IN BGood morning"));

        // Once the second stops, the first's words are offered for the clipboard.
        rig.alerts.answers = { AlertPresenter::firstButton };
        QCoro::waitFor(rig.state.stopRecording());
        QTRY_COMPARE(rig.alerts.shown.size(), 1);
        QCOMPARE(rig.pasteboard.current.data(QStringLiteral("text/plain")),
            QByteArray("Hello study rather cold hearted"));
        // A closed session says nothing more.
        second->deliver(TranscriptEvent { 0, 5, QStringLiteral("ghost"), true });
        QTest::qWait(20);
        QCOMPARE(rig.field.screen, QStringLiteral("USER TEXT IN BGood morning"));
    }

    // A late revision of the last recording, with the focus still there,
    // after the new recording typed: it would backspace into the new text.
    void aLateRevisionNeverErasesANewerDictation()
    {
        FieldRig rig;
        QVERIFY(rig.start());
        QVERIFY(rig.say("it is nice today period"));
        rig.recognizer.holdStop = true;
        rig.recognizer.transcriptAtStop = QStringLiteral("it is nice to day period");
        rig.state.stopRecording();
        QVERIFY(rig.start());
        rig.recognizer.transcriptAtStop.clear();
        // The second dictation, in the same place, starts like a new sentence.
        QVERIFY(rig.say("an mr john"));
        QCOMPARE(rig.field.screen, QStringLiteral("It is nice today. An mr john"));
        rig.recognizer.holdStop = false;
        const std::shared_ptr<RecognitionSession> first = rig.recognizer.sessions.first();
        first->deliver(TranscriptEvent { 0, 0, QStringLiteral("it is nice to day period"), true });
        rig.recognizer.release();
        QTRY_VERIFY(!rig.state.isFinishing());
        QTRY_VERIFY(!rig.service.isTyping());
        QCOMPARE(rig.field.screen, QStringLiteral("It is nice today. An mr john"));
    }

    // Any mix of toggles, from any source and at any pace, ends in the state
    // their count says, with the microphone open exactly when it shows so.
    void togglesNeverGetLost()
    {
        Rig rig;
        // A start takes a moment, as opening the microphone does: toggles
        // meanwhile must read what the ones before them meant.
        rig.recognizer.startTime = std::chrono::milliseconds(2);
        // A press and its second press at once, before the microphone opened.
        rig.state.toggleRecording();
        QCoro::waitFor(rig.state.toggleRecording());
        QVERIFY(!rig.state.isRecording() && !rig.recognizer.isListening());
        auto *random = QRandomGenerator::global();
        for (int run = 0; run < 4; ++run) {
            const int count = 100 + run;
            for (int i = 0; i < count; ++i) {
                rig.state.toggleRecording();
                if (random->bounded(4) == 0)
                    QTest::qWait(int(random->bounded(3)));
            }
            const bool odd = count % 2 == 1;
            QTRY_COMPARE(rig.recognizer.isListening(), odd);
            QCOMPARE(rig.state.isRecording(), odd);
            QTRY_VERIFY(!rig.state.isFinishing());
            if (odd)
                QCoro::waitFor(rig.state.stopRecording());
        }
        QVERIFY(!rig.recognizer.isListening() && !rig.state.isRecording());
        // Starts and stops alternate: never two sessions listening at once.
        QCOMPARE(rig.recognizer.calls.count("start"), rig.recognizer.calls.count("stop"));
    }
};

QTEST_MAIN(TestAppState)
#include "test_appstate.moc"
