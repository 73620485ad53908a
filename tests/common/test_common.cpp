#include "common/Log.h"
#include "common/NextSignal.h"
#include "common/Settings.h"

#include "fakes/LogCapture.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <qcoro/qcorotask.h>

class TestCommon : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // One event, one line, with its priority where journald reads the stream:
    // a line break in a message must not forge a second event.
    void logLinesCarryTheirPriority()
    {
        for (const auto &[type, line] : { std::pair { QtDebugMsg, "<7>" }, { QtInfoMsg, "<6>" },
                 { QtWarningMsg, "<4>" }, { QtCriticalMsg, "<3>" } })
            QCOMPARE(formatLogLine(type, "✅ one\ntwo", true), line + QByteArray("✅ one two\n"));
        QCOMPARE(formatLogLine(QtInfoMsg, "✅ started", false), QByteArray("✅ started\n"));
    }

    // A signal that fires twice before the waiting coroutine runs again used
    // to resume it twice, the second time through an awaiter already gone.
    void aSignalTwiceInOneTurnResumesItsWaiterOnce()
    {
        QObject source;
        int turns = 0;
        // One emission at a time, counting the turns it got.
        auto waiting = [](QObject *source, int *turns) -> QCoro::Task<> {
            co_await nextSignal(source, &QObject::objectNameChanged);
            ++*turns;
            co_await nextSignal(source, &QObject::objectNameChanged, std::chrono::milliseconds(50));
            ++*turns;
        }(&source, &turns);
        source.setObjectName("one");
        source.setObjectName("two");
        QTRY_COMPARE(turns, 1);
        // The second wait ends by its timeout, not by the first wait's emissions.
        QTest::qWait(20);
        QCOMPARE(turns, 1);
        QTRY_COMPARE(turns, 2);
    }

    void settings()
    {
        // The INI file keeps no types: after a restart a switch reads back from text, and only what was
        // written as a boolean counts as one.
        const QString file = Settings::filePath();
        const QString folder = QFileInfo(file).absolutePath();
        QVERIFY(QDir().mkpath(folder));
        QFile written(file);
        QVERIFY(written.open(QIODevice::WriteOnly));
        written.write("[General]\non=true\noff=false\ndamaged1=ture\ndamaged2=yes\n");
        written.close();
        QVERIFY(Settings::boolValue("on", false) && !Settings::boolValue("off", true));
        QVERIFY(Settings::boolValue("damaged1", true) && !Settings::boolValue("damaged2", false));

        // A write that does not reach the disk is reported (nobody, root included, can write under a file
        // where the folder belongs), and the secret is not logged.
        QSignalSpy failures(&SettingsStatus::instance(), &SettingsStatus::writeFailed);
        QVERIFY(Settings::setBool("menuBarEnabled", true));
        QVERIFY(QDir(folder).removeRecursively());
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        auto unblock = qScopeGuard([&] { QFile::remove(folder); });
        LogCapture log;
        QVERIFY(!Settings::setString("authToken", "secret-token-1"));
        QCOMPARE(failures.count(), 1);
        QCOMPARE(failures.first().first().toString(), file);
        QVERIFY(log.lines().join('\n').contains("❌ Setting 'authToken' not saved to " + file));
        QVERIFY(log.lines().filter("secret-token").isEmpty());

        QVERIFY(QFile::remove(folder));
        QVERIFY(Settings::setBool("menuBarEnabled", true));
        QCOMPARE(failures.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestCommon)
#include "test_common.moc"
