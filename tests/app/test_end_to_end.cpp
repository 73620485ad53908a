// The whole program, as a user meets it: click the panel's microphone, speak,
// click again, and the words are in the application that had the focus.

#include "DesktopSession.h"

#include <QStandardPaths>

#include <csignal>

namespace {

const QString sentence = QStringLiteral("hello world this is a test of the dictation system");

// Waits until the program has logged nothing new for `quietMs`.
void waitForQuiet(Child &child, int quietMs = 1500, int timeoutMs = 20000)
{
    QDeadlineTimer deadline(timeoutMs);
    qsizetype seen = -1;
    QDeadlineTimer quiet(quietMs);
    while (!deadline.hasExpired()) {
        const qsizetype now = child.lines().size();
        if (now != seen) {
            seen = now;
            quiet.setRemainingTime(quietMs);
        } else if (quiet.hasExpired()) {
            return;
        }
        QTest::qWait(50);
    }
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

    // Start, speak, stop, and read what the xterm received.
    QString dictate(DesktopSession &session, Child &tellwind, bool cloud)
    {
        const QRect panel = session.panelGeometry();
        if (panel.size() != QSize(190, 160))
            return QStringLiteral("panel not found");
        if (cloud) {
            session.click(panel.topLeft() + DesktopSession::providerOffset);
            if (!tellwind.waitForLine(QStringLiteral("🔄 [STT] Preferred provider toggled to: Google")))
                return QStringLiteral("provider not switched");
        }
        session.click(panel.topLeft() + DesktopSession::microphoneOffset);
        if (!tellwind.waitForLine(QStringLiteral("✅ Recording started with"), 20000))
            return QStringLiteral("recording did not start");
        // The click left the keyboard focus where it was.
        if (session.focusedWindowName() != QLatin1String("dictation-target"))
            return QStringLiteral("focus moved to ") + session.focusedWindowName();
        session.say(sentence);
        QTest::qWait(cloud ? 500 : 800);
        session.click(panel.topLeft() + DesktopSession::microphoneOffset);
        if (!tellwind.waitForLine(QStringLiteral("✅ Recording stopped"), 30000))
            return QStringLiteral("recording did not stop");
        waitForQuiet(tellwind);
        return session.finishTarget();
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void onDevice()
    {
        DesktopSession session;
        QVERIFY(session.startTarget());
        auto tellwind = session.startTellwind();
        QVERIFY(tellwind->waitForLine(QStringLiteral("✅ Window configured as floating borderless")));
        const QString typed = dictate(session, *tellwind, false);
        if (typed != sentence)
            qInfo().noquote() << tellwind->lines().join(QLatin1Char('\n'));
        QCOMPARE(typed, sentence);
    }

    void throughTheCloud()
    {
        DesktopSession session;
        Child server(session.environment());
        server.start(DesktopSession::buildDir() + QStringLiteral("/tellwind-server"),
                     {"--listen", "127.0.0.1:0", "--data-dir", session.path(QStringLiteral("server"))});
        QVERIFY(server.waitForLine(QStringLiteral("tellwind-server listening on"), 30000));
        QString address;
        for (const QString &line : server.lines())
            if (line.startsWith(QLatin1String("tellwind-server listening on")))
                address = line.section(QLatin1Char(' '), 3, 3);
        QVERIFY(address.startsWith(QLatin1String("http://127.0.0.1:")));
        session.addSetting(QStringLiteral("serverBaseURL=") + address);

        QVERIFY(session.startTarget());
        auto tellwind = session.startTellwind();
        QVERIFY(tellwind->waitForLine(QStringLiteral("✅ Window configured as floating borderless")));
        const QString typed = dictate(session, *tellwind, true);
        if (typed != sentence)
            qInfo().noquote() << tellwind->lines().join(QLatin1Char('\n')) << server.lines().join(QLatin1Char('\n'));
        QVERIFY2(tellwind->lines().contains(QStringLiteral("✅ Recording started with ☁️ Google")),
                 "the cloud path was not used");
        QCOMPARE(typed, sentence);
    }

    void secondStartHandsOverItsUrl()
    {
        DesktopSession session;
        auto first = session.startTellwind();
        QVERIFY(first->waitForLine(QStringLiteral("✅ Window configured as floating borderless")));

        auto second = session.startTellwind({QStringLiteral("tellwind://callback?token=x")});
        QVERIFY(second->process().waitForFinished(10000));
        QCOMPARE(second->process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->process().exitCode(), 0);
        QVERIFY(first->waitForLine(QStringLiteral("🔗 [App] Received URL: tellwind://callback?token=<redacted>")));
        QVERIFY(!second->lines().contains(QStringLiteral("✅ Window configured as floating borderless")));

        // SIGTERM ends it the way Quit does: an orderly exit.
        ::kill(pid_t(first->process().processId()), SIGTERM);
        QVERIFY(first->process().waitForFinished(10000));
        QCOMPARE(first->process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(first->process().exitCode(), 0);
    }
};

QTEST_MAIN(TestEndToEnd)
#include "test_end_to_end.moc"
