// The dictation controller against a fake recognizer, fake typing and a
// counting cursor indicator; and the delegate's permission check at launch.

#include "app/AppDelegate.h"
#include "app/AppState.h"
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
struct FieldRig : DictationTyping {
    FakeDictationRecognizer recognizer;
    FakeCursorIndicator indicator;
    FakeKeyboardEventSink field;
    FakeAccessibilityTrust trust;
    FakePasteboard pasteboard;
    FakeAlertPresenter alerts;
    FakeWorkspace workspace;
    FakeApplicationBundle bundle;
    TextInsertionService service { field, trust, pasteboard, alerts, workspace, bundle };
    AppState state { recognizer, indicator, *this };

    bool isAccessibilityTrusted() const override { return true; }
    bool requestAccessibilityTrust() override { return true; }
    void setNeedsAccessibilityPermission(bool) override { }
    QCoro::Task<> showAccessibilityPermissionAlert() override { co_return; }
    QCoro::Task<> showEnableAccessibilityAlert() override { co_return; }
    void beginRecording(quint64 recording) override { service.beginRecording(recording); }
    QCoro::Task<> insertTranscript(TranscriptEvent event) override
    {
        return service.insertTranscript(std::move(event));
    }

    // Each transcript ("utterance|text", or the first utterance's text) is
    // typed to its end before the next comes.
    bool say(const QString &update)
    {
        const qsizetype bar = update.indexOf(u'|');
        const quint64 utterance = bar < 0 ? 0 : update.left(bar).toULongLong();
        recognizer.publishTranscript(update.mid(bar + 1), utterance);
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

    void handsEveryUpdateOfTheRecordingToTyping()
    {
        LogCapture log;
        Rig rig;
        rig.start();
        for (const QString &text : QStringList { "hello", "hello world", "hello wor", u"cafe\u0301"_qs })
            rig.recognizer.publishTranscript(text);
        QTRY_COMPARE(rig.typing.journal.filter("typed:"),
            (QStringList { "typed:hello", "typed:hello world", "typed:hello wor", u"typed:cafe\u0301"_qs }));
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

    void typesFormattedTranscripts_data()
    {
        QTest::addColumn<QStringList>("published");
        QTest::addColumn<bool>("formatting");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("screen");
        QTest::addRow("a mark revised away and back")
            << QStringList { "hello comma", "hello coma", "hello comma world" } << true
            << u"Hello,⌫ coma⌫⌫⌫⌫⌫, world"_qs << "Hello, world";
        QTest::addRow("a word that becomes a command")
            << QStringList { "thanks new", "thanks new line", "thanks new line for it" } << true
            << u"Thanks new⌫⌫⌫⌫\nFor it"_qs << "Thanks\nFor it";
        QTest::addRow("a capital revised away") << QStringList { "it is monday", "it is mon day" } << true
                                                << u"It is Monday⌫⌫⌫⌫⌫⌫mon day"_qs << "It is mon day";
        // A fresh utterance is separated by what the formatted text ends with.
        QTest::addRow("a new utterance after a question")
            << QStringList { "is it raining question mark", "1|yes" } << true << "Is it raining? Yes"
            << "Is it raining? Yes";
        QTest::addRow("a new utterance mid-sentence")
            << QStringList { "it is raining today", "1|yes" } << true << "It is raining today. Yes"
            << "It is raining today. Yes";
        QTest::addRow("formatting off") << QStringList { "hello comma", "hello coma", "hello comma world" }
                                        << false << u"hello comma⌫⌫a⌫ma world"_qs << "hello comma world";
    }
    void typesFormattedTranscripts()
    {
        QFETCH(QStringList, published);
        QFETCH(bool, formatting);
        QFETCH(QString, keys);
        QFETCH(QString, screen);
        Settings::setBool(TextFormattingSettings::autoCapitalizeKey, formatting);
        Settings::setBool(TextFormattingSettings::spokenPunctuationKey, formatting);
        FieldRig rig;
        rig.state.startRecording();
        QTRY_VERIFY(rig.state.isRecording());
        for (const QString &text : published)
            QVERIFY2(rig.say(text), qPrintable(text));
        QCOMPARE(rig.field.keys, keys);
        QCOMPARE(rig.field.screen, screen);
    }

    void refusedStarts()
    {
        Rig rig;
        rig.typing.trusted = false;
        rig.state.startRecording();
        // Without the permission: an alert, and nothing else touched.
        QTRY_COMPARE(rig.typing.journal, QStringList { "enable alert" });
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
            (QStringList { "reset", "type:first words", "typed:first words", "type:first words and more",
                "typed:first words and more", "reset", "type:again", "typed:again" }));

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
        QCOMPARE(rig.recognizer.calls, QStringList { "language:de-DE" });
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
        const QList<std::tuple<bool, bool, QStringList>> cases { { true, false, {} },
            { false, true, { "prompt" } },
            { false, false, { "prompt", "needs permission", "permission alert" } } };
        for (const auto &[trusted, trustedAfterPrompt, journal] : cases) {
            Rig rig;
            rig.typing.trusted = trusted;
            rig.typing.trustedAfterPrompt = trustedAfterPrompt;
            DesktopServices desktop;
            const auto windowSystem = WindowSystem::create();
            AppDelegate delegate(rig.state, rig.typing, *windowSystem, desktop.services());
            delegate.applicationDidFinishLaunching();
            QTest::qWait(AppDelegate::accessibilityCheckDelayMs + 200);
            QCOMPARE(rig.typing.journal, journal);
        }
    }
};

QTEST_MAIN(TestAppState)
#include "test_appstate.moc"
