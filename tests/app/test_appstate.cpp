// The dictation controller against a fake recognizer, fake typing and a
// counting cursor indicator; and the delegate's permission check at launch.

#include "app/AppDelegate.h"
#include "app/AppState.h"
#include "app/SharedNeighbours.h"
#include "common/Settings.h"
#include "fakes/FakeAccessibilityTrust.h"
#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeApplicationBundle.h"
#include "fakes/FakeCursorIndicator.h"
#include "fakes/FakeDictationRecognizer.h"
#include "fakes/FakeDictationTyping.h"
#include "fakes/FakeKeyboardEventSink.h"
#include "fakes/FakePasteboard.h"
#include "fakes/FakeWorkspace.h"
#include "fakes/LogCapture.h"
#include "output/TextInsertionService.h"
#include "platform/SessionInfo.h"
#include "platform/WindowSystem.h"
#include "speech/TextFormattingSettings.h"
#include "support/DesktopServices.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

using namespace std::chrono_literals;

namespace
{

struct Rig {
    FakeDictationRecognizer recognizer;
    FakeCursorIndicator indicator;
    FakeDictationTyping typing;
    AppState state { recognizer, indicator, typing };

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

// The controller typing through the real service into a text field that
// records its keys.
struct FieldRig {
    FakeDictationRecognizer recognizer;
    FakeCursorIndicator indicator;
    FakeKeyboardEventSink field;
    FakeAccessibilityTrust trust;
    FakePasteboard pasteboard;
    FakeAlertPresenter alerts;
    FakeWorkspace workspace;
    FakeApplicationBundle bundle;
    TextInsertionService service { field, trust, pasteboard, alerts, workspace, bundle };
    ServiceTyping typing { service };
    AppState state { recognizer, indicator, typing };

    // Each transcript ("utterance|text", or the first utterance's text) is
    // typed to its end before the next comes.
    bool say(const QString &update)
    {
        const qsizetype bar = update.indexOf(u'|');
        recognizer.publishTranscript(update.mid(bar + 1), bar < 0 ? 0 : update.left(bar).toULongLong());
        return QTest::qWaitFor([&] { return !service.isTyping(); });
    }
};

} // namespace

class TestAppState : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    // Text as recognized unless a test formats it.
    void init()
    {
        Settings::setBool(TextFormattingSettings::autoCapitalizeKey, false);
        Settings::setBool(TextFormattingSettings::spokenPunctuationKey, false);
    }

    void revisionsReachTypingButNotTheLog()
    {
        LogCapture log;
        Rig rig;
        rig.start();
        // A revision that only adds a combining mark is still handed on.
        rig.say(QStringLiteral("cafe"));
        rig.say(u"cafe\u0301"_qs);
        QTRY_COMPARE(
            rig.typing.journal.filter("typed:"), (QStringList { "typed:cafe", u"typed:cafe\u0301"_qs }));
        // What the user says reaches the log only when its debug lines are on.
        QVERIFY(!log.lines().join(u'\n').contains("cafe"));
    }

    void typesFormattedTranscripts_data()
    {
        QTest::addColumn<QStringList>("published");
        QTest::addColumn<QString>("screen");
        QTest::addRow("a mark revised away and back")
            << QStringList { "hello comma", "hello coma", "hello comma world" } << "Hello, world";
        // A fresh utterance is separated by what the formatted text ends with.
        QTest::addRow("a new utterance after a question")
            << QStringList { "is it raining question mark", "1|yes" } << "Is it raining? Yes";
        QTest::addRow("a new utterance mid-sentence")
            << QStringList { "it is raining", "1|yes" } << "It is raining. Yes";
    }
    void typesFormattedTranscripts()
    {
        QFETCH(QStringList, published);
        QFETCH(QString, screen);
        Settings::setBool(TextFormattingSettings::autoCapitalizeKey, true);
        Settings::setBool(TextFormattingSettings::spokenPunctuationKey, true);
        FieldRig rig;
        rig.state.startRecording();
        QTRY_VERIFY(rig.state.isRecording());
        for (const QString &text : published)
            QVERIFY2(rig.say(text), qPrintable(text));
        QCOMPARE(rig.field.screen, screen);
    }

    void refusedStarts()
    {
        Rig rig;
        rig.typing.trusted = false;
        rig.state.startRecording();
        // Without the permission: an alert, and nothing else touched.
        QTRY_COMPARE(rig.typing.journal, QStringList { "enable alert" });
        QVERIFY(rig.recognizer.calls.isEmpty() && !rig.state.isRecording());
        rig.typing.trusted = true;

        // A recognizer that cannot start: its error shows, no badge.
        rig.recognizer.startError = QStringLiteral("Failed to start server recognition: no microphone");
        rig.state.startRecording();
        QTRY_COMPARE(rig.state.errorMessage(), rig.recognizer.startError);
        QVERIFY(!rig.state.isRecording() && rig.indicator.shows == 0);
        QCOMPARE(rig.recognizer.calls, (QStringList { "start" }));
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
        QVERIFY(!rig.state.isRecording() && !rig.indicator.showing && rig.state.isFinishing());
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
            (QStringList { "reset", "type:first words", "typed:first words", "type:first words and more",
                "typed:first words and more", "reset", "type:again", "typed:again" }));
    }

    void recognizerRestarts()
    {
        Rig rig;
        rig.state.setLanguage(SupportedLanguage::german);
        QCOMPARE(rig.indicator.shows + rig.indicator.hides, 0); // idle: no badge

        // The recognizer restarts itself (stops, listens again) for a new
        // language, and when on-device fails over to the cloud: the recording
        // and its badge ride through.
        rig.start();
        QSignalSpy recording(&rig.state, &AppState::isRecordingChanged);
        rig.state.setLanguageCode(QStringLiteral("fr-FR"));
        QCOMPARE(rig.recognizer.calls.last(), QStringLiteral("language:fr-FR"));
        rig.recognizer.setListening(false);
        rig.recognizer.setListening(true);
        QTest::qWait(300); // past the grace
        QVERIFY(rig.state.isRecording() && rig.indicator.showing && recording.isEmpty());

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
        QTRY_VERIFY(!rig.state.isRecording() && !rig.indicator.showing);
        // A restart slower than the grace: listening again is recording again.
        rig.recognizer.setListening(true);
        QTRY_VERIFY(rig.state.isRecording() && rig.indicator.showing);
    }

    void accessibilityCheckAtLaunch()
    {
        // Trusted: nothing asked. Refused: the prompt, then the alert.
        for (const bool trusted : { true, false }) {
            Rig rig;
            rig.typing.trusted = trusted;
            DesktopServices desktop;
            const auto windowSystem = WindowSystem::create(SessionInfo::current());
            AppDelegate delegate(rig.state, rig.typing, *windowSystem, desktop.services());
            delegate.applicationDidFinishLaunching();
            QTest::qWait(AppDelegate::accessibilityCheckDelayMs + 200);
            QCOMPARE(rig.typing.journal,
                (trusted ? QStringList() : QStringList { "prompt", "needs permission", "permission alert" }));
        }
    }
};

QTEST_MAIN(TestAppState)
#include "test_appstate.moc"
