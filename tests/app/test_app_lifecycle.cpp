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

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<CommandLine::Outcome>("outcome");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<QString>("text"); // part of what it prints
        using O = CommandLine::Outcome;
        const QString link = "tellwind://callback?token=abc&state=xyz";
        QTest::addRow("plain start") << QStringList() << O::run << "" << QStringList() << "";
        QTest::addRow("toggle") << QStringList { "--toggle" } << O::run << "toggle-recording" << QStringList()
                                << "";
        QTest::addRow("start") << QStringList { "--start" } << O::run << "start-recording" << QStringList()
                               << "";
        QTest::addRow("stop") << QStringList { "--stop" } << O::run << "stop-recording" << QStringList()
                              << "";
        QTest::addRow("sign-in link") << QStringList { link } << O::run << "" << QStringList { link } << "";
        QTest::addRow("Qt's own option") << QStringList { "-platform", "xcb", "--start" } << O::run
                                         << "start-recording" << QStringList() << "";
        QTest::addRow("help") << QStringList { "--help" } << O::exitOk << "" << QStringList() << "--toggle";
        QTest::addRow("short help") << QStringList { "-h" } << O::exitOk << "" << QStringList() << "--stop";
        QTest::addRow("version") << QStringList { "--version" } << O::exitOk << "" << QStringList()
                                 << "tellwind 9.8.7\n";
        QTest::addRow("short version") << QStringList { "-v" } << O::exitOk << "" << QStringList() << "9.8.7";
        QTest::addRow("unknown option")
            << QStringList { "--frobnicate" } << O::exitError << "" << QStringList() << "--help";
        QTest::addRow("two switches")
            << QStringList { "--start", "--stop" } << O::exitError << "" << QStringList() << "--start";
        QTest::addRow("not a link") << QStringList { "notes.txt" } << O::exitError << "" << QStringList()
                                    << "notes.txt";
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(CommandLine::Outcome, outcome);
        QFETCH(QString, action);
        QFETCH(QStringList, urls);
        QFETCH(QString, text);
        QCoreApplication::setApplicationVersion("9.8.7");
        const CommandLine line = CommandLine::parse(QStringList { "tellwind" } + arguments);
        QCOMPARE(line.outcome, outcome);
        QCOMPARE(line.action, action);
        QCOMPARE(line.urls, urls);
        QVERIFY2(line.text.contains(text), qPrintable(line.text));
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

    void terminationLetsTheTypingFinish_data()
    {
        QTest::addColumn<std::chrono::milliseconds>("bound");
        QTest::addColumn<bool>("finishes");
        QTest::addRow("within the bound") << std::chrono::milliseconds(10s) << true;
        QTest::addRow("bound runs out") << std::chrono::milliseconds(30ms) << false;
    }
    void terminationLetsTheTypingFinish()
    {
        QFETCH(std::chrono::milliseconds, bound);
        QFETCH(bool, finishes);
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
        if (finishes)
            QCOMPARE(onScreen, last);
        else
            QVERIFY(onScreen.size() < first.size() && !told.first().contains("report"));
        QTRY_VERIFY(!typing.isTyping());
    }
};

QTEST_MAIN(TestAppLifecycle)

#include "test_app_lifecycle.moc"
