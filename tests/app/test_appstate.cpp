// The dictation controller on a fake recognizer, typing through the real service into a fake
// field; and the program's start from a command line, a late server, and a quit mid-typing.

#include "app/AppState.h"
#include "app/CommandLine.h"
#include "app/LanguageAvailability.h"
#include "app/SingleInstance.h"
#include "app/TellwindApp.h"
#include "common/Settings.h"
#include "fakes/FakeCursorIndicator.h"
#include "fakes/FakeDictationRecognizer.h"
#include "fakes/FakeDictationTyping.h"
#include "fakes/LogCapture.h"
#include "speech/TextFormattingSettings.h"
#include "support/ScriptedHttpServer.h"
#include "support/TypingRig.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QRandomGenerator>
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
};

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
    // "utterance|text", or the first utterance's text; a leading "*" makes it final.
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
            { { "cafe", u"cafe\u0301"_qs }, u"Caf\u00E9"_qs }, // a revision adding only a combining mark
            { { "hello comma", "hello coma", "hello comma world" }, "Hello, world" },
            { { "is it raining question mark", "1|yes" }, "Is it raining? Yes" }, // a fresh utterance
            { { "it is raining", "1|yes" }, "It is raining. Yes" },
            // A line break cannot be taken back: it waits for the final text.
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

    // Refused starts touch nothing else; a stop returns once the last words are typed.
    void startsAndStopsBeyondTheUsualOnes()
    {
        Rig rig;
        rig.typing.trusted = false;
        rig.state.startRecording();
        QTRY_COMPARE(rig.typing.journal, QStringList { "enable alert" });
        QTRY_VERIFY(rig.recognizer.calls.isEmpty() && !rig.state.isRecording());
        rig.typing.trusted = true;
        rig.recognizer.startError = QStringLiteral("Failed to start server recognition: no microphone");
        rig.state.startRecording();
        QTRY_COMPARE(rig.state.errorMessage(), rig.recognizer.startError);
        QTRY_VERIFY(!rig.state.isRecording() && rig.indicator.shows == 0);
        rig.recognizer.startError = QString();

        // The microphone goes away: the next toggle starts rather than "stops".
        QCoro::waitFor(rig.state.startRecording());
        QVERIFY(rig.state.isRecording() && rig.indicator.showing);
        rig.recognizer.session->endByItself();
        QTRY_VERIFY(!rig.state.isRecording() && !rig.indicator.showing && !rig.state.isFinishing());
        QCoro::waitFor(rig.state.toggleRecording());
        QVERIFY(rig.state.isRecording() && rig.recognizer.isListening());
        QCOMPARE(rig.recognizer.calls, (QStringList { "start", "start", "stop", "start" }));

        rig.typing.typingTime = std::chrono::milliseconds(50);
        rig.recognizer.transcriptAtStop = QStringLiteral("last words");
        QCoro::waitFor(rig.state.stopRecording());
        QCOMPARE(rig.typing.journal.last(), QStringLiteral("typed:Last words"));
        QVERIFY(!rig.state.isFinishing());
    }

    // Started again in another window before the last words came: they go to the clipboard, not there.
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
        QVERIFY(!rig.service.isTyping() && rig.field.screen == QStringLiteral("USER TEXT IN B"));
        QTRY_COMPARE(rig.alerts.shown.size(), 0); // not while the user dictates
        QVERIFY(rig.say("good morning"));
        QCOMPARE(rig.field.screen, QStringLiteral("USER TEXT IN BGood morning"));

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

    // A late revision of the last recording after the next one typed in the same place.
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
        QVERIFY(rig.say("an mr john"));
        QCOMPARE(rig.field.screen, QStringLiteral("It is nice today. An mr john"));
        rig.recognizer.holdStop = false;
        const std::shared_ptr<RecognitionSession> first = rig.recognizer.sessions.first();
        first->deliver(TranscriptEvent { 0, 0, QStringLiteral("it is nice to day period"), true });
        rig.recognizer.release();
        QTRY_VERIFY(!rig.state.isFinishing() && !rig.service.isTyping());
        QCOMPARE(rig.field.screen, QStringLiteral("It is nice today. An mr john"));
    }

    // Any mix of toggles at any pace ends in the state their count says.
    void togglesNeverGetLost()
    {
        Rig rig;
        // A start takes a moment: toggles meanwhile must read what the ones before them meant.
        rig.recognizer.startTime = std::chrono::milliseconds(2);
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
        QCOMPARE(rig.recognizer.calls.count("start"), rig.recognizer.calls.count("stop"));
    }

    void commandLine()
    {
        using O = CommandLine::Outcome;
        const QString link = "tellwind://callback?token=abc&state=xyz";
        const struct {
            QStringList arguments;
            O outcome;
            QString action, text; // text: part of what it prints
        } cases[] = { { {}, O::run, "", "" }, { { "--toggle" }, O::run, "toggle-recording", "" },
            { { "--start" }, O::run, "start-recording", "" }, { { "--stop" }, O::run, "stop-recording", "" },
            { { link }, O::run, "", "" },
            { { "-platform", "xcb", "--start" }, O::run, "start-recording", "" },
            { { "--help" }, O::exitOk, "", "--toggle" }, { { "-h" }, O::exitOk, "", "--stop" },
            { { "--version" }, O::exitOk, "", "tellwind 9.8.7\n" }, { { "-v" }, O::exitOk, "", "9.8.7" },
            { { "--frobnicate" }, O::exitError, "", "--help" },
            { { "--start", "--stop" }, O::exitError, "", "--start" },
            { { "notes.txt" }, O::exitError, "", "notes.txt" } };
        QCoreApplication::setApplicationVersion("9.8.7");
        for (const auto &[arguments, outcome, action, text] : cases) {
            const CommandLine line = CommandLine::parse(QStringList { "tellwind" } + arguments);
            QVERIFY2(line.outcome == outcome && line.action == action && line.text.contains(text),
                qPrintable(arguments.join(' ') + ": " + line.action + " " + line.text));
            QCOMPARE(line.urls, arguments.filter("://"));
        }
    }

    // Without a display, the switches reach the running Tellwind (this test); --stop alone just ends.
    void commandLineWithoutADisplay()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.insert("QT_QPA_PLATFORM", "xcb");
        const QString program = qEnvironmentVariable("TELLWIND_BUILD_DIR") + "/tellwind";
        auto run = [&](const QStringList &arguments, QByteArray *output = nullptr) {
            QProcess process;
            process.setProcessEnvironment(environment);
            process.start(program, arguments);
            if (!QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; }, 20000))
                return -2;
            if (output)
                *output = process.readAllStandardOutput();
            return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        };
        QByteArray output;
        QCOMPARE(run({ "--version" }, &output), 0);
        QVERIFY2(output.startsWith("tellwind ") && output.endsWith("\n"), output.constData());
        QCOMPARE(run({ "--help" }, &output), 0);
        QVERIFY(output.contains("--toggle") && output.contains("--stop"));
        QCOMPARE(run({ "--no-such-option" }), 1);

        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY(bus.isConnected());
        QStringList received;
        {
            SingleInstance running;
            QVERIFY(running.claim({}, {}));
            running.setActionHandler([&received](const QString &action) { received << action; });
            for (const char *option : { "--toggle", "--stop", "--start" })
                QCOMPARE(run({ option }), 0);
            QCOMPARE(received, (QStringList { "toggle-recording", "stop-recording", "start-recording" }));
            bus.interface()->unregisterService(SingleInstance::busName);
            bus.unregisterObject(SingleInstance::objectPath);
        }
        QCOMPARE(run({ "--stop" }), 0);
    }

    // Asked again until it answers: refused, then "not ready", then the list.
    void languagesAreAskedAgainUntilTheServerAnswers()
    {
        QTcpServer placeholder;
        QVERIFY(placeholder.listen(QHostAddress::LocalHost, 0));
        const quint16 port = placeholder.serverPort();
        placeholder.close();
        Settings::setString(QStringLiteral("serverBaseURL"), QStringLiteral("http://127.0.0.1:%1").arg(port));
        LanguageAvailability availability([](const QString &) { return false; });
        availability.setRetryDelays(20ms, 80ms);
        LogCapture log;
        availability.refresh();
        QTRY_COMPARE(availability.server(), LanguageAvailability::Server::unreachable);
        QCOMPARE(availability.mark("de-DE", true), QString("Server unreachable"));

        ScriptedHttpServer server(port);
        QVERIFY(server.port() == port);
        server.script = { ScriptedHttpServer::Reply(503, R"({"status":"not ready"})") };
        server.fallback = ScriptedHttpServer::Reply(200, R"({"languages":[{"code":"de-DE"}]})");
        QTRY_COMPARE_WITH_TIMEOUT(availability.server(), LanguageAvailability::Server::reachable, 10000);
        QCOMPARE(server.requests.size(), 2);
        QCOMPARE(availability.mark("de-DE", true), QString());
        QCOMPARE(log.linesStartingWith("⚠️ [STT] Could not ask the server for its languages").size(), 2);
    }

    // A quit waits for the typing within the bound, or cuts it off.
    void terminationLetsTheTypingFinish()
    {
        for (const auto &[bound, finishes] :
            { std::pair(std::chrono::milliseconds(10s), true), std::pair(30ms, false) }) {
            TypingRig rig;
            TextInsertionService &typing = rig.service;
            const QString first = "send the report to the finance team";
            const QString last = first + " thanks";
            auto running = typing.insertTranscript(rig.scope, { 1, 0, first, false });
            auto queued = typing.insertTranscript(rig.scope, { 1, 0, last, false });
            QVERIFY(typing.isTyping());

            LogCapture log;
            QCOMPARE(QCoro::waitFor(TellwindApp::finishTypingForQuit(typing, bound)), finishes);
            const QString onScreen = rig.field.screen;
            // A count of what was lost is logged, never the words.
            const QStringList told = log.linesStartingWith("⚠️ [App] Quit while typing: ");
            QCOMPARE(told.size(), finishes ? 0 : 1);
            QVERIFY(finishes ? onScreen == last
                             : onScreen.size() < first.size() && !told.first().contains("report"));
            QTRY_VERIFY(!typing.isTyping());
        }
    }
};

QTEST_MAIN(TestAppState)
#include "test_appstate.moc"
