// The dictation controller against a fake recognizer, fake typing and a
// counting cursor indicator; and the delegate's permission check at launch.

#include "app/AppDelegate.h"
#include "app/AppState.h"
#include "fakes/FakeCursorIndicator.h"
#include "fakes/FakeDictationRecognizer.h"
#include "fakes/FakeDictationTyping.h"
#include "fakes/FakeAccessibilityTrust.h"
#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeApplicationBundle.h"
#include "fakes/FakeKeyboardEventSink.h"
#include "fakes/FakePasteboard.h"
#include "fakes/FakeWorkspace.h"
#include "fakes/LogCapture.h"
#include "common/Settings.h"
#include "output/TextInsertionService.h"
#include "speech/TextFormattingSettings.h"

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
    TextInsertionService service{field, trust, pasteboard, alerts, workspace, bundle};
    AppState state{&recognizer, &indicator, this};

    bool isAccessibilityTrusted() const override { return true; }
    bool requestAccessibilityTrust() override { return true; }
    void setNeedsAccessibilityPermission(bool) override {}
    QCoro::Task<> showAccessibilityPermissionAlert() override { co_return; }
    QCoro::Task<> showEnableAccessibilityAlert() override { co_return; }
    void resetForNewRecording() override
    {
        service.setLastInsertedText(QString());
        service.setPendingText(std::nullopt);
    }
    QCoro::Task<> insertText(QString text) override { return service.insertText(std::move(text)); }

    // Each transcript is typed to its end before the next comes.
    bool say(const QString &text)
    {
        recognizer.publishTranscript(text);
        return QTest::qWaitFor([&] { return state.transcribedText() == text && !service.isTyping(); });
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

    void typesOnlyWhatIsNew()
    {
        // What the recognizer publishes, in turn, and the new parts it brings.
        const QList<std::pair<QStringList, QStringList>> cases{
            {{"hello", "hello world"}, {"hello", " world"}},
            {{"hello wor", "hello word", "hello world"}, {"hello wor", "d", "hello world"}},
            {{"hello world", "hello wor", "hello world"}, {"hello world", "hello wor", "ld"}},
            {{"hello", "", "hello"}, {"hello"}}, // empty is skipped; the same again adds nothing
            // Compared by canonical equivalence, counted as the user sees them.
            {{"caf\u00e9", "cafe\u0301 au lait"}, {"caf\u00e9", " au lait"}}};
        for (const auto &[published, newParts] : cases) {
            LogCapture log;
            Rig rig;
            rig.start();
            for (const QString &text : published)
                rig.recognizer.publishTranscript(text);
            QStringList logged;
            for (const QString &part : newParts)
                logged << QStringLiteral("📝 New text to insert: '%1'").arg(part);
            QTRY_COMPARE(log.linesStartingWith(QStringLiteral("📝")), logged);
            // Typing gets the whole transcript, each time there is something new.
            QCOMPARE(rig.typing.journal.filter("type:").size(), newParts.size());
            QCOMPARE(rig.typing.journal.filter("type:").last(), "type:" + published.last());
            QCOMPARE(rig.state.transcribedText(), published.last());
        }
    }

    void typesFormattedTranscripts_data()
    {
        QTest::addColumn<QStringList>("published");
        QTest::addColumn<bool>("formatting");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("screen");
        QTest::addRow("a mark revised away and back")
            << QStringList{"hello comma", "hello coma", "hello comma world"} << true
            << u"Hello,⌫ coma⌫⌫⌫⌫⌫, world"_qs << "Hello, world";
        QTest::addRow("a word that becomes a command")
            << QStringList{"thanks new", "thanks new line", "thanks new line for it"} << true
            << u"Thanks new⌫⌫⌫⌫\nFor it"_qs << "Thanks\nFor it";
        QTest::addRow("a capital revised away")
            << QStringList{"it is monday", "it is mon day"} << true
            << u"It is Monday⌫⌫⌫⌫⌫⌫mon day"_qs << "It is mon day";
        // A fresh utterance is separated by what the formatted text ends with.
        QTest::addRow("a new utterance after a question")
            << QStringList{"is it raining question mark", "yes"} << true << "Is it raining? Yes"
            << "Is it raining? Yes";
        QTest::addRow("a new utterance mid-sentence")
            << QStringList{"it is raining today", "yes"} << true << "It is raining today. Yes"
            << "It is raining today. Yes";
        QTest::addRow("formatting off")
            << QStringList{"hello comma", "hello coma", "hello comma world"} << false
            << u"hello comma⌫⌫a⌫ma world"_qs << "hello comma world";
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
        QTRY_COMPARE(rig.typing.journal, QStringList{"enable alert"});
        QVERIFY(rig.recognizer.calls.isEmpty());
        QVERIFY(!rig.state.isRecording());
        QVERIFY(rig.state.needsAccessibilityPermission());
        rig.typing.trusted = true;
        QVERIFY(rig.state.checkAccessibilityPermission());
        QVERIFY(!rig.state.needsAccessibilityPermission());

        // A recognizer that cannot start: its error shows, no badge.
        rig.recognizer.startError = QStringLiteral("Failed to start Google STT: no microphone");
        rig.state.startRecording();
        QTRY_COMPARE(rig.state.errorMessage(), rig.recognizer.startError);
        QVERIFY(!rig.state.isRecording() && rig.indicator.shows == 0);
        QCOMPARE(rig.recognizer.calls, (QStringList{"clear", "start"}));
    }

    void stopping()
    {
        Rig rig;
        rig.typing.typingTime = 50ms;
        rig.start();
        rig.say(QStringLiteral("first words"));
        QTRY_COMPARE(rig.typing.journal.last(), QStringLiteral("typed:first words"));

        // A slow stop (the last upload) ends with a late transcript. The
        // controller is idle at once; the user starts again before it is done.
        rig.recognizer.holdStop = true;
        rig.recognizer.transcriptAtStop = QStringLiteral("first words and more");
        rig.state.stopRecording();
        QVERIFY(!rig.state.isRecording() && !rig.indicator.showing);
        rig.state.startRecording();
        QTest::qWait(30);
        QCOMPARE(rig.recognizer.calls.count("clear"), 1); // the start waits for the stop
        rig.recognizer.release();
        QTRY_VERIFY(rig.state.isRecording());
        rig.say(QStringLiteral("first words and more again"));
        // The late text was typed, completely, before the holders were
        // emptied; the new recording's text then went whole.
        QTRY_COMPARE(rig.typing.journal,
                     (QStringList{"reset", "type:first words", "typed:first words",
                                  "type:first words and more", "typed:first words and more", "reset",
                                  "type:first words and more again", "typed:first words and more again"}));

        // A transcript published before the next start emptied the holders,
        // but delivered after, belongs to the old recording: dropped.
        rig.recognizer.holdStop = false;
        rig.recognizer.transcriptAtStop = QString();
        rig.state.stopRecording();
        QTRY_VERIFY(!rig.recognizer.isListening());
        rig.recognizer.publishTranscript(QStringLiteral("stale"));
        rig.state.startRecording();
        QTRY_VERIFY(rig.state.isRecording());
        QTest::qWait(20);
        QVERIFY(!rig.typing.journal.contains("type:stale"));

        // Stopping while idle runs every step all the same.
        rig.state.stopRecording();
        rig.state.stopRecording();
        QTRY_COMPARE(rig.recognizer.calls.count("stop"), 4);
        QCOMPARE(rig.indicator.hides, 4);
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
            AppDelegate delegate(&rig.state, &rig.typing);
            delegate.applicationDidFinishLaunching();
            QTest::qWait(AppDelegate::accessibilityCheckDelayMs + 200);
            QCOMPARE(rig.typing.journal, journal);
        }
    }
};

QTEST_MAIN(TestAppState)
#include "test_appstate.moc"
