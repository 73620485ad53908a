// Starting from a command line, learning what the server offers while it
// comes up, and a termination signal that lets the words being typed reach
// the end.
#include "app/CommandLine.h"
#include "app/LanguageAvailability.h"
#include "app/SingleInstance.h"
#include "app/TellwindApp.h"
#include "common/Settings.h"
#include "fakes/LogCapture.h"
#include "support/ScriptedHttpServer.h"
#include "support/TypingRig.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>

#include <qcoro/qcorotask.h>

using namespace std::chrono_literals;

class TestAppLifecycle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

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

    // Without a display, as from a script or a Wayland-only shortcut daemon:
    // the switches reach the running Tellwind (played here by this test),
    // and --stop with none running just ends.
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
            // The event loop runs meanwhile: the hand-over is a call to this process.
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

    // A server still loading its models when Tellwind starts is asked again
    // until it answers: refused at first, then "not ready", then the list.
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
        // One line for the refusal and one for the 503, not one per retry.
        QCOMPARE(log.linesStartingWith("⚠️ [STT] Could not ask the server for its languages").size(), 2);
    }

    // Within the bound, or cut off when it runs out.
    void terminationLetsTheTypingFinish()
    {
        for (const auto &[bound, finishes] :
            { std::pair(std::chrono::milliseconds(10s), true), std::pair(30ms, false) }) {
            TypingRig rig;
            TextInsertionService &typing = rig.service;
            // The first words are being typed, a longer transcript waits behind them.
            const QString first = "send the report to the finance team";
            const QString last = first + " thanks";
            auto running = typing.insertTranscript(rig.scope, { 1, 0, first, false });
            auto queued = typing.insertTranscript(rig.scope, { 1, 0, last, false });
            QVERIFY(typing.isTyping());

            LogCapture log;
            QCOMPARE(QCoro::waitFor(TellwindApp::finishTypingForQuit(typing, bound)), finishes);
            const QString onScreen = rig.field.screen;
            // A count of what was lost, never the words.
            const QStringList told = log.linesStartingWith("⚠️ [App] Quit while typing: ");
            QCOMPARE(told.size(), finishes ? 0 : 1);
            QVERIFY(finishes ? onScreen == last
                             : onScreen.size() < first.size() && !told.first().contains("report"));
            QTRY_VERIFY(!typing.isTyping());
        }
    }
};

QTEST_MAIN(TestAppLifecycle)

#include "test_app_lifecycle.moc"
