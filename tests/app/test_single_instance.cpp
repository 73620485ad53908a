// One instance per session: a second start hands its URL to the first, over
// the session bus or, without one, over the user's local socket.

#include "ProcessRig.h"
#include "app/SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <csignal>
#include <sys/stat.h>

class TestSingleInstance : public QObject
{
    Q_OBJECT

    QString probe() const
    {
        return qEnvironmentVariable("TELLWIND_BUILD_DIR") + QStringLiteral("/instance_probe");
    }

    // The first instance, a second one with a URL, a third with none.
    void handOff(const QProcessEnvironment &environment)
    {
        Child first(environment);
        first.start(probe());
        QVERIFY(first.waitForLine(QStringLiteral("READY")));

        Child second(environment);
        second.start(probe(), {QStringLiteral("tellwind://callback?token=x")});
        QVERIFY(second.process().waitForFinished(10000));
        QCOMPARE(second.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process().exitCode(), 0);
        QVERIFY(first.waitForLine(QStringLiteral("URL tellwind://callback?token=x")));

        Child third(environment);
        third.start(probe());
        QVERIFY(third.process().waitForFinished(10000));
        QCOMPARE(third.process().exitCode(), 0);
        QVERIFY(first.waitForLine(QStringLiteral("ACTIVATE")));

        // SIGTERM ends it through the event loop, cleanly.
        ::kill(pid_t(first.process().processId()), SIGTERM);
        QVERIFY(first.process().waitForFinished(5000));
        QCOMPARE(first.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.process().exitCode(), 0);
        QVERIFY(first.lines().contains(QStringLiteral("SIGNAL 15")));
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void urlsOnTheCommandLine()
    {
        QCOMPARE(SingleInstance::urlsFromArguments(
                     {"tellwind", "tellwind://callback?token=x", "-x", "plain", "https://a.b/"}),
                 (QStringList{"tellwind://callback?token=x", "https://a.b/"}));
    }

    void overTheSessionBus()
    {
        PrivateBus bus;
        QVERIFY(!bus.address().isEmpty());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        handOff(environment);
    }

    void overTheLocalSocket()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           QStringLiteral("unix:path=/nonexistent/bus"));
        const QString runtime = QDir::tempPath() + QStringLiteral("/tellwind-instance-test");
        QDir(runtime).removeRecursively();
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        handOff(environment);

        // The socket's folder is the user's alone.
        QFileInfo folder(runtime + QStringLiteral("/tellwind"));
        QVERIFY(folder.isDir());
        QCOMPARE(folder.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup
                                         | QFile::WriteOther | QFile::ExeGroup | QFile::ExeOther),
                 QFile::Permissions());

        // A socket left behind by a crash does not keep the next start out.
        {
            Child crashed(environment);
            crashed.start(probe());
            QVERIFY(crashed.waitForLine(QStringLiteral("READY")));
            crashed.process().kill();
            crashed.process().waitForFinished(3000);
        }
        QVERIFY(QFileInfo::exists(runtime + QStringLiteral("/tellwind/instance")));
        Child next(environment);
        next.start(probe(), {QStringLiteral("tellwind://callback?token=y")});
        QVERIFY(next.waitForLine(QStringLiteral("READY")));
        QVERIFY(next.lines().contains(QStringLiteral("URL tellwind://callback?token=y")));
        QDir(runtime).removeRecursively();
    }
};

QTEST_MAIN(TestSingleInstance)
#include "test_single_instance.moc"
