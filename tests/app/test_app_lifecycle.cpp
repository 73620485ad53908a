// How the program comes and goes: one instance however many start at once,
// and a termination signal that lets the words being typed reach the end.
#include "app/SingleInstance.h"
#include "app/TellwindApp.h"
#include "fakes/FakeAccessibilityTrust.h"
#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeApplicationBundle.h"
#include "fakes/FakeKeyboardEventSink.h"
#include "fakes/FakePasteboard.h"
#include "fakes/FakeWorkspace.h"
#include "fakes/LogCapture.h"
#include "output/TextInsertionService.h"

#include <QApplication>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <qcoro/qcorotask.h>

#include <cstdio>

using namespace std::chrono_literals;

namespace
{

const char childVariable[] = "TELLWIND_TEST_CLAIM";

// A start of the program reduced to its claim.
int claimAsChild(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    SingleInstance instance;
    std::puts(instance.claim({}) ? "claimed" : "handed over");
    return 0;
}

} // namespace

class TestAppLifecycle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void startWhileAnotherIsStillSettingUpHandsOverToIt()
    {
        QTemporaryDir runtime;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", runtime.path());
        environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
        environment.insert(childVariable, "1");
        QVERIFY(QDir(runtime.path()).mkdir("tellwind"));
        const QString path = runtime.filePath("tellwind/instance");
        // This process plays a start that has claimed the name and does not
        // listen yet.
        QLockFile claim(path + ".lock");
        QVERIFY(claim.tryLock(0));
        QProcess child;
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath());
        // Nothing shows the child trying to reach us; a while is all it takes.
        QVERIFY(child.waitForStarted());
        QTest::qWait(300);
        QLocalServer server;
        QVERIFY(server.listen(path));
        QTRY_VERIFY_WITH_TIMEOUT(child.state() == QProcess::NotRunning, 5000);
        QCOMPARE(child.readAllStandardOutput(), "handed over\n");
        QTRY_VERIFY(server.hasPendingConnections());
        QLocalSocket *peer = server.nextPendingConnection();
        QTRY_VERIFY(peer->canReadLine() || peer->state() != QLocalSocket::ConnectedState);
        QCOMPARE(peer->readAll(), QByteArray("activate\n"));
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
        FakeKeyboardEventSink keyboard;
        FakeAccessibilityTrust trust;
        FakePasteboard pasteboard;
        FakeAlertPresenter alerts;
        FakeWorkspace workspace;
        FakeApplicationBundle bundle;
        keyboard.pasteboard = &pasteboard;
        TextInsertionService typing(keyboard, trust, pasteboard, alerts, workspace, bundle);

        // The first words are being typed, a longer transcript waits behind them.
        const QString first = "send the report to the finance team";
        const QString last = first + " thanks";
        auto running = typing.insertText(first);
        auto queued = typing.insertText(last);
        QVERIFY(typing.isTyping());

        LogCapture log;
        QCOMPARE(QCoro::waitFor(TellwindApp::finishTypingForQuit(typing, bound)), finishes);
        const QString onScreen = keyboard.screen;
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

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet(childVariable))
        return claimAsChild(argc, argv);
    QApplication application(argc, argv);
    TestAppLifecycle test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_app_lifecycle.moc"
