// The dictation controller against a fake recognizer, fake typing and a
// counting cursor indicator; and the delegate's permission check at launch.

#include "app/AppDelegate.h"
#include "app/AppState.h"
#include "fakes/FakeCursorIndicator.h"
#include "fakes/FakeDictationRecognizer.h"
#include "fakes/FakeDictationTyping.h"
#include "fakes/LogCapture.h"
#include "platform/WindowSystem.h"
#include "support/DesktopServices.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

using namespace std::chrono_literals;

namespace {

struct Rig {
    FakeDictationRecognizer recognizer;
    FakeCursorIndicator indicator;
    FakeDictationTyping typing;
    AppState state{recognizer, indicator, typing};

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

    void handsEveryUpdateOfTheRecordingToTyping()
    {
        LogCapture log;
        Rig rig;
        rig.start();
        for (const QString &text : QStringList{"hello", "hello world", "hello wor", u"cafe\u0301"_qs})
            rig.recognizer.publishTranscript(text);
        QTRY_COMPARE(rig.typing.journal.filter("typed:"),
                     (QStringList{"typed:hello", "typed:hello world", "typed:hello wor", u"typed:cafe\u0301"_qs}));
        // What the user says reaches the log only when its debug lines are on.
        for (const QString &line : log.lines())
            QVERIFY2(!line.contains("hello"), qPrintable(line));
    }

    void resultsOfAnotherRecordingAreDropped()
    {
        Rig rig;
        rig.start();
        const quint64 first = rig.recognizer.recording;
        rig.say(QStringLiteral("first"));
        rig.state.stopRecording();
        QTRY_VERIFY(!rig.state.isFinishing());
        rig.start();
        QCOMPARE(rig.recognizer.recording, first + 1);
        // A late reply of the first recording, delivered during the second.
        rig.recognizer.publishFor(first, QStringLiteral("late"));
        rig.say(QStringLiteral("second"));
        QTRY_COMPARE(rig.typing.journal.last(), QStringLiteral("typed:second"));
        QVERIFY(!rig.typing.journal.join(u',').contains("late"));
    }

    void refusedStarts()
    {
        Rig rig;
        rig.typing.trusted = false;
        rig.state.startRecording();
        // Without the permission: an alert, and nothing else touched.
        QTRY_COMPARE(rig.typing.journal, QStringList{"enable alert"});
        QVERIFY(rig.recognizer.calls.isEmpty());
        QVERIFY(!rig.state.isRecording());
        QVERIFY(rig.state.needsAccessibilityPermission());
        rig.typing.trusted = true;
        QVERIFY(rig.state.checkAccessibilityPermission());
        QVERIFY(!rig.state.needsAccessibilityPermission());

        // A recognizer that cannot start: its error shows, no badge.
        rig.recognizer.startError = QStringLiteral("Failed to start server recognition: no microphone");
        rig.state.startRecording();
        QTRY_COMPARE(rig.state.errorMessage(), rig.recognizer.startError);
        QVERIFY(!rig.state.isRecording() && rig.indicator.shows == 0);
        QCOMPARE(rig.recognizer.calls, (QStringList{"start"}));
    }

    void stopWaitsForTheLastResultsAndTheirTyping()
    {
        Rig rig;
        rig.typing.typingTime = 50ms;
        rig.start();
        rig.say(QStringLiteral("first words"));
        QTRY_COMPARE(rig.typing.journal.last(), QStringLiteral("typed:first words"));

        // A slow stop (the last upload) ends with a late transcript. The
        // recording is finishing until that is typed; a start waits for it.
        rig.recognizer.holdStop = true;
        rig.recognizer.transcriptAtStop = QStringLiteral("first words and more");
        QSignalSpy finishing(&rig.state, &AppState::isFinishingChanged);
        rig.state.stopRecording();
        QVERIFY(!rig.state.isRecording() && !rig.indicator.showing);
        QVERIFY(rig.state.isFinishing());
        rig.state.startRecording();
        // A second stop meanwhile joins the first instead of running again.
        rig.state.stopRecording();
        QCOMPARE(rig.recognizer.calls.count("start"), 1);
        QCOMPARE(rig.recognizer.calls.count("stop"), 1);
        rig.recognizer.release();
        QTRY_VERIFY(rig.state.isRecording());
        QCOMPARE(finishing.size(), 2);
        rig.say(QStringLiteral("again"));
        QTRY_COMPARE(rig.typing.journal,
                     (QStringList{"reset", "type:first words", "typed:first words",
                                  "type:first words and more", "typed:first words and more", "reset",
                                  "type:again", "typed:again"}));

        // Stopping while idle is harmless.
        rig.recognizer.holdStop = false;
        rig.recognizer.transcriptAtStop = QString();
        rig.state.stopRecording();
        QTRY_VERIFY(!rig.state.isFinishing());
        rig.state.stopRecording();
        QTRY_VERIFY(!rig.state.isFinishing());
        QVERIFY(!rig.recognizer.isListening() && !rig.indicator.showing);
    }

    void recognizerRestarts()
    {
        Rig rig;
        rig.state.setLanguage(SupportedLanguage::german);
        QCOMPARE(rig.recognizer.calls, QStringList{"language:de-DE"});
        QCOMPARE(rig.indicator.shows + rig.indicator.hides, 0); // idle: no badge

        // The recognizer restarts itself (stops, listens again) for a new
        // language, and when on-device fails over to the cloud: the recording
        // and its badge ride through.
        rig.start();
        QSignalSpy recording(&rig.state, &AppState::isRecordingChanged);
        rig.state.setLanguageCode(QStringLiteral("fr-FR"));
        QCOMPARE(rig.recognizer.calls.last(), QStringLiteral("language:fr-FR"));
        QCOMPARE(rig.indicator.hides, 1);
        QCOMPARE(rig.indicator.shows, 2);
        QTest::qWait(50);
        rig.recognizer.setListening(false);
        QTest::qWait(50);
        rig.recognizer.setListening(true);
        QTest::qWait(300); // past the grace
        QVERIFY(rig.state.isRecording() && rig.indicator.showing);
        QVERIFY(recording.isEmpty());

        // A stop in the middle of a restart stops the restarted session.
        rig.recognizer.setListening(false);
        QTest::qWait(20);
        rig.state.stopRecording();
        rig.recognizer.setListening(true);
        QTRY_VERIFY(!rig.recognizer.isListening());
        QVERIFY(!rig.state.isRecording() && !rig.indicator.showing);

        // Stopped by itself for longer than the grace: idle, and no badge.
        rig.start();
        rig.recognizer.setListening(false);
        QTRY_VERIFY(!rig.state.isRecording());
        QVERIFY(!rig.indicator.showing);
        // A restart slower than the grace: listening again is recording again.
        rig.recognizer.setListening(true);
        QTRY_VERIFY(rig.state.isRecording() && rig.indicator.showing);
    }

    void accessibilityCheckAtLaunch()
    {
        // Trusted; trusted once prompted; refused: what the launch asks of typing.
        const QList<std::tuple<bool, bool, QStringList>> cases{
            {true, false, {}},
            {false, true, {"prompt"}},
            {false, false, {"prompt", "needs permission", "permission alert"}}};
        for (const auto &[trusted, trustedAfterPrompt, journal] : cases) {
            Rig rig;
            rig.typing.trusted = trusted;
            rig.typing.trustedAfterPrompt = trustedAfterPrompt;
            DesktopServices desktop;
            AppDelegate delegate(rig.state, rig.typing, WindowSystem::shared(), desktop.services());
            delegate.applicationDidFinishLaunching();
            QTest::qWait(AppDelegate::accessibilityCheckDelayMs + 200);
            QCOMPARE(rig.typing.journal, journal);
        }
    }
};

QTEST_MAIN(TestAppState)
#include "test_appstate.moc"
