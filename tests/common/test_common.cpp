#include "common/Observe.h"
#include "common/Settings.h"

#include "fakes/LogCapture.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

class Source : public QObject
{
    Q_OBJECT

public:
    bool flag = false;
    bool value() const { return flag; }
    void setValue(bool value) { emit valueChanged(flag = value); }

signals:
    void valueChanged(bool value);
};

class TestCommon : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void settingsReadAnotherTypeAsTheDefault()
    {
        Settings::setString("menuBarEnabled", "yes please");
        QVERIFY(Settings::boolValue("menuBarEnabled", true) && !Settings::boolValue("menuBarEnabled", false));
        QVERIFY(!Settings::doubleValue("menuBarEnabled") && !Settings::dataValue("menuBarEnabled"));
        Settings::setDouble("windowPositionX", 12.5);
        QCOMPARE(Settings::doubleValue("windowPositionX"), std::optional(12.5));
        QVERIFY(!Settings::stringValue("windowPositionX") && !Settings::boolValue("windowPositionX", false));
    }

    void settingsWriteThatDoesNotReachTheDiskIsReported_data()
    {
        QTest::addColumn<bool>("blockFolder");
        // Either made so that nobody, root included, can write there.
        QTest::addRow("a file where the folder belongs") << true;
        QTest::addRow("a folder where the file belongs") << false;
    }
    void settingsWriteThatDoesNotReachTheDiskIsReported()
    {
        QFETCH(bool, blockFolder);
        const QString file = Settings::filePath();
        const QString folder = QFileInfo(file).absolutePath();
        QSignalSpy failures(&SettingsStatus::instance(), &SettingsStatus::writeFailed);
        QVERIFY(Settings::setBool("menuBarEnabled", true));
        QCOMPARE(failures.count(), 0);

        QVERIFY(QDir(folder).removeRecursively());
        if (blockFolder) {
            QFile blocker(folder);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        } else {
            QVERIFY(QDir().mkpath(file));
        }
        auto unblock = qScopeGuard([&] { QFile::remove(folder) || QDir(folder).removeRecursively(); });
        LogCapture log;
        QVERIFY(!Settings::setString("authToken", "secret-token-1"));
        QVERIFY(!Settings::setBool("menuBarEnabled", false));
        QCOMPARE(failures.count(), 2);
        QCOMPARE(failures.first().first().toString(), file);
        const QStringList told = log.linesStartingWith("❌ Setting ");
        QCOMPARE(told.size(), 2);
        QVERIFY2(
            told.first().startsWith("❌ Setting 'authToken' not saved to " + file), qPrintable(told.first()));
        QVERIFY(log.lines().filter("secret-token").isEmpty());

        unblock.dismiss();
        QVERIFY(QFile::remove(folder) || QDir(folder).removeRecursively());
        QVERIFY(Settings::setBool("menuBarEnabled", true));
        QCOMPARE(failures.count(), 2);
    }

    void observeDeliversCurrentValueThenEveryChangeQueued()
    {
        Source source;
        source.setValue(true);
        auto receiver = std::make_unique<QObject>();
        QList<bool> seen;
        observe(
            &source, &Source::value, &Source::valueChanged, receiver.get(), [&seen](bool v) { seen << v; });
        source.setValue(false);
        source.setValue(true);
        QVERIFY(seen.isEmpty()); // nothing runs inside the subscribe call or the setters
        QTRY_COMPARE(seen, (QList<bool> { true, false, true }));

        // The subscription dies with its receiver, even with deliveries queued.
        source.setValue(false);
        receiver.reset();
        source.setValue(true);
        QTest::qWait(20);
        QCOMPARE(seen, (QList<bool> { true, false, true }));
    }
};

QTEST_GUILESS_MAIN(TestCommon)
#include "test_common.moc"
