// The dictation controller against a fake recognizer, fake typing and a
// counting cursor indicator.

#include "app/AppState.h"
#include "fakes/FakeCursorIndicator.h"
#include "fakes/FakeDictationRecognizer.h"
#include "fakes/FakeDictationTyping.h"
#include "fakes/LogCapture.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

using namespace std::chrono_literals;

namespace {

struct Rig {
    FakeDictationRecognizer recognizer;
    FakeCursorIndicator indicator;
    FakeDictationTyping typing;
    AppState state{&recognizer, &indicator, &typing};

    Rig() { state.setRestartGrace(200ms); }

    void start()
    {
        state.startRecording();
        QTRY_VERIFY(state.isRecording());
    }
    void say(const QString &text)
    {
        recognizer.publishTranscript(text);
        QTRY_COMPARE(state.transcribedText(), text);
    }
};

} // namespace

class TestAppState : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void typesOnlyWhatIsNew()
    {
        LogCapture log;
        Rig rig;
        rig.start();
        rig.say(QStringLiteral("hello"));
        rig.say(QStringLiteral("hello world"));
        rig.recognizer.publishTranscript(QStringLiteral("hello wor"));
        rig.recognizer.publishTranscript(QStringLiteral("hello world"));
        QTRY_COMPARE(rig.typing.inserted.size(), 4);
        // A repeated delivery of the same text is handled once.
        rig.recognizer.transcribedTextChanged(QStringLiteral("hello world"));
        QTest::qWait(20);
        QCOMPARE(rig.typing.inserted,
                 (QStringList{"hello", "hello world", "hello wor", "hello world"}));
        QCOMPARE(log.linesStartingWith(QStringLiteral("📝")),
                 (QStringList{"📝 New text to insert: 'hello'",
                              "📝 New text to insert: ' world'",
                              "📝 New text to insert: 'hello wor'",
                              "📝 New text to insert: 'ld'"}));
        QCOMPARE(rig.state.lastInsertedText(), QStringLiteral("hello world"));
    }

    void revisionsAreHandedOverWhole()
    {
        LogCapture log;
        Rig rig;
        rig.start();
        rig.say(QStringLiteral("hello wor"));
        rig.say(QStringLiteral("hello word"));
        rig.say(QStringLiteral("hello world"));
        QTRY_COMPARE(rig.typing.inserted,
                     (QStringList{"hello wor", "hello word", "hello world"}));
        QCOMPARE(log.linesStartingWith(QStringLiteral("📝")),
                 (QStringList{"📝 New text to insert: 'hello wor'",
                              "📝 New text to insert: 'd'",
                              "📝 New text to insert: 'hello world'"}));

        // Characters are compared by canonical equivalence and counted as
        // the user sees them: a decomposed é extends a precomposed one.
        rig.say(QStringLiteral("caf\u00e9"));
        rig.say(QStringLiteral("cafe\u0301 au lait"));
        QCOMPARE(log.lines().last(), QStringLiteral("📝 New text to insert: ' au lait'"));
    }

    void emptyTranscriptsAreIgnored()
    {
        Rig rig;
        rig.start();
        rig.say(QStringLiteral("hello"));
        QTRY_COMPARE(rig.typing.inserted.size(), 1);
        rig.recognizer.publishTranscript(QString());
        QTest::qWait(20);
        QCOMPARE(rig.state.transcribedText(), QStringLiteral("hello"));
        QCOMPARE(rig.typing.inserted.size(), 1);
    }

    void noPermissionStartsNothing()
    {
        LogCapture log;
        Rig rig;
        rig.start();
        rig.say(QStringLiteral("kept"));
        rig.state.stopRecording();
        QTRY_VERIFY(!rig.recognizer.isListening());
        rig.recognizer.calls.clear();
        const int resets = rig.typing.resets;

        rig.typing.trusted = false;
        QSignalSpy permission(&rig.state, &AppState::needsAccessibilityPermissionChanged);
        rig.state.startRecording();
        QTRY_COMPARE(rig.typing.alerts, 1);
        QVERIFY(rig.recognizer.calls.isEmpty());
        QCOMPARE(rig.typing.resets, resets);
        QCOMPARE(rig.state.transcribedText(), QStringLiteral("kept"));
        QVERIFY(!rig.state.isRecording());
        QVERIFY(rig.state.needsAccessibilityPermission());
        QCOMPARE(permission.size(), 1);
        const QStringList lines = log.lines();
        QVERIFY(lines.contains("🔐 Accessibility permission: false"));
        QVERIFY(lines.contains("❌ No accessibility permission"));
        QVERIFY(lines.contains("🔐 Prompting for accessibility permission..."));

        // The next check that finds the permission clears the flag.
        rig.typing.trusted = true;
        QVERIFY(rig.state.checkAccessibilityPermission());
        QVERIFY(!rig.state.needsAccessibilityPermission());
    }

    void recognizerThatCannotStart()
    {
        LogCapture log;
        Rig rig;
        rig.recognizer.startSucceeds = false;
        rig.recognizer.startError = QStringLiteral("Failed to start Google STT: no microphone");
        rig.state.startRecording();
        QTRY_COMPARE(rig.state.errorMessage(), rig.recognizer.startError);
        QVERIFY(!rig.state.isRecording());
        QCOMPARE(rig.indicator.shows, 0);
        QVERIFY(log.lines().contains("❌ STT error: Failed to start Google STT: no microphone"));
        // The holders were emptied all the same, before the attempt.
        QCOMPARE(rig.recognizer.calls, (QStringList{"clear", "start"}));
        QCOMPARE(rig.typing.resets, 1);

        // The controller's error clears with the recognizer's.
        rig.recognizer.publishError(QString());
        QTRY_VERIFY(rig.state.errorMessage().isNull());
    }

    void startAndStop()
    {
        LogCapture log;
        Rig rig;
        rig.recognizer.setActiveProvider(STTProvider::google);
        rig.start();
        QCOMPARE(rig.indicator.shows, 1);
        QVERIFY(log.lines().contains("✅ Recording started with ☁️ Google"));

        rig.state.stopRecording();
        QVERIFY(!rig.state.isRecording()); // at once, before the recognizer has stopped
        QCOMPARE(rig.indicator.hides, 1);
        QTRY_VERIFY(log.lines().contains("✅ Recording stopped"));
        QVERIFY(!rig.recognizer.isListening());

        // Stopping while idle runs every step all the same.
        rig.recognizer.calls.clear();
        rig.state.stopRecording();
        QTRY_COMPARE(log.linesStartingWith(QStringLiteral("✅ Recording stopped")).size(), 2);
        QCOMPARE(log.linesStartingWith(QStringLiteral("⏹️ stopRecording() called")).size(), 2);
        QCOMPARE(rig.indicator.hides, 2);
        QCOMPARE(rig.recognizer.calls, QStringList{"stop"});

        rig.recognizer.setActiveProvider(STTProvider::apple);
        rig.start();
        QVERIFY(log.lines().contains("✅ Recording started with 🍎 Apple"));
    }

    void lateTranscriptAfterStop()
    {
        Rig rig;
        rig.start();
        rig.say(QStringLiteral("good morning"));
        rig.state.stopRecording();
        QTRY_VERIFY(!rig.recognizer.isListening());
        // A final result after the stop is still typed.
        rig.say(QStringLiteral("good morning everyone"));
        QTRY_COMPARE(rig.typing.inserted.last(), QStringLiteral("good morning everyone"));

        // The next recording starts from nothing: its first text goes whole.
        LogCapture log;
        rig.start();
        QCOMPARE(rig.state.lastInsertedText(), QString());
        QCOMPARE(rig.state.transcribedText(), QString());
        rig.say(QStringLiteral("good morning"));
        QTRY_COMPARE(rig.typing.inserted.last(), QStringLiteral("good morning"));
        QCOMPARE(log.linesStartingWith(QStringLiteral("📝")),
                 QStringList{"📝 New text to insert: 'good morning'"});
    }

    void oldTranscriptsNeverReachTheNextRecording()
    {
        Rig rig;
        rig.typing.typingTime = 50ms;
        rig.start();
        rig.say(QStringLiteral("first words"));

        // The stop is slow (a last upload) and ends with a late transcript;
        // the user starts again before it is done.
        rig.recognizer.holdStop = true;
        rig.recognizer.transcriptAtStop = QStringLiteral("first words and more");
        rig.recognizer.calls.clear();
        rig.state.stopRecording();
        rig.state.startRecording();
        QTest::qWait(30);
        QVERIFY(!rig.recognizer.calls.contains("clear")); // waits for the stop
        rig.recognizer.release();
        QTRY_VERIFY(rig.state.isRecording());
        rig.say(QStringLiteral("second"));
        QTRY_COMPARE(rig.typing.journal.last(), QStringLiteral("typed:second"));

        // The late text was typed, completely, before the reset; the new
        // recording's first text came after it and whole.
        const QStringList &journal = rig.typing.journal;
        const qsizetype secondReset = journal.indexOf(QStringLiteral("reset"), 1);
        QVERIFY(secondReset > journal.indexOf(QStringLiteral("typed:first words")));
        QVERIFY(secondReset > journal.indexOf(QStringLiteral("typed:first words and more")));
        QCOMPARE(journal.mid(secondReset), (QStringList{"reset", "type:second", "typed:second"}));

        // A transcript published before the holders were emptied, but
        // delivered after, is dropped.
        rig.recognizer.transcriptAtStop = QString();
        rig.recognizer.holdStop = false;
        rig.state.stopRecording();
        QTRY_VERIFY(!rig.recognizer.isListening());
        rig.recognizer.publishTranscript(QStringLiteral("second, stale"));
        rig.state.startRecording(); // empties the holders before the delivery runs
        QTRY_VERIFY(rig.state.isRecording());
        QTest::qWait(20);
        QVERIFY(!rig.typing.inserted.contains("second, stale"));
    }

    void languageChange()
    {
        Rig rig;
        rig.state.setLanguage(SupportedLanguage::german);
        QCOMPARE(rig.recognizer.calls, QStringList{"language:de-DE"});
        QCOMPARE(rig.indicator.shows, 0);
        QCOMPARE(rig.indicator.hides, 0);

        rig.start();
        rig.state.setLanguageCode(QStringLiteral("fr-FR"));
        QCOMPARE(rig.recognizer.calls.last(), QStringLiteral("language:fr-FR"));
        QCOMPARE(rig.indicator.hides, 1);
        QCOMPARE(rig.indicator.shows, 2);
        // A code that names no language changes nothing.
        rig.state.setLanguageCode(QStringLiteral("xx-XX"));
        QCOMPARE(rig.recognizer.calls.last(), QStringLiteral("language:fr-FR"));
    }

    void ridesThroughRecognizerRestarts()
    {
        Rig rig;
        rig.start();
        QSignalSpy recording(&rig.state, &AppState::isRecordingChanged);
        // A language change restarts the recognizer: stop, then listen again.
        rig.state.setLanguage(SupportedLanguage::english_UK);
        QTRY_VERIFY(rig.recognizer.isListening());
        QTest::qWait(300); // past the grace
        QVERIFY(rig.state.isRecording());
        QVERIFY(rig.indicator.showing);
        QVERIFY(recording.isEmpty());

        // The on-device path failing over to the cloud looks the same.
        rig.recognizer.setListening(false);
        QTest::qWait(50);
        rig.recognizer.setListening(true);
        QTest::qWait(300);
        QVERIFY(rig.state.isRecording());
        QVERIFY(rig.indicator.showing);
        QVERIFY(recording.isEmpty());

        // A stop in the middle of a restart stops the restarted session.
        rig.recognizer.setListening(false);
        QTest::qWait(20);
        rig.state.stopRecording();
        QVERIFY(!rig.state.isRecording());
        QVERIFY(!rig.recognizer.calls.endsWith("stop"));
        rig.recognizer.setListening(true);
        QTRY_VERIFY(!rig.recognizer.isListening());
        QVERIFY(!rig.state.isRecording());
        QVERIFY(!rig.indicator.showing);
    }

    void recognizerStoppingByItself()
    {
        Rig rig;
        rig.start();
        rig.recognizer.setListening(false);
        QTRY_VERIFY(!rig.state.isRecording());
        QVERIFY(!rig.indicator.showing);

        // A restart slower than the grace: when the recognizer listens again
        // the controller says so again.
        rig.recognizer.setListening(true);
        QTRY_VERIFY(rig.state.isRecording());
        QVERIFY(rig.indicator.showing);

        // A language change whose restart never comes ends the recording.
        rig.recognizer.restartDelayMs = -1;
        rig.state.setLanguage(SupportedLanguage::italian);
        QVERIFY(rig.state.isRecording());
        QTRY_VERIFY(!rig.state.isRecording());
        QVERIFY(!rig.indicator.showing);
    }
};

QTEST_MAIN(TestAppState)
#include "test_appstate.moc"
