#include "common/Observe.h"
#include "common/Settings.h"

#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

namespace {

class Source : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool flag READ flag NOTIFY flagChanged)

public:
    bool flag() const { return m_flag; }
    void setFlag(bool value)
    {
        if (m_flag == value)
            return;
        m_flag = value;
        emit flagChanged(value);
    }

signals:
    void flagChanged(bool value);

private:
    bool m_flag = false;
};

bool isOwnerOnly(const QString &path)
{
    const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
        | QFile::WriteOther | QFile::ExeOther;
    const auto permissions = QFile::permissions(path);
    return (permissions & others) == 0 && (permissions & QFile::ReadOwner)
        && (permissions & QFile::WriteOwner);
}

} // namespace

class TestCommon : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void settingsAreTypedOwnerOnlyAndWrittenThrough()
    {
        QFile::remove(Settings::filePath());
        QVERIFY(Settings::boolValue("globalHotkeyEnabled", true));
        Settings::setBool("globalHotkeyEnabled", false);
        QVERIFY(!Settings::boolValue("globalHotkeyEnabled", true));

        // Written through: another reader of the file sees the value at once.
        QSettings fresh(Settings::filePath(), QSettings::IniFormat);
        QCOMPARE(fresh.value("globalHotkeyEnabled").toString(), QString("false"));
        QVERIFY(isOwnerOnly(Settings::filePath()));

        // A value of another type reads as the default.
        Settings::setString("menuBarEnabled", "yes please");
        QVERIFY(Settings::boolValue("menuBarEnabled", true));
        QVERIFY(!Settings::boolValue("menuBarEnabled", false));
        QVERIFY(!Settings::doubleValue("menuBarEnabled"));
        Settings::setDouble("windowPositionX", 12.5);
        QCOMPARE(*Settings::doubleValue("windowPositionX"), 12.5);
        QVERIFY(!Settings::dataValue("windowPositionX"));

        Settings::setData("com.tellwind.user", QByteArray("{\"id\":\"1\"}"));
        QCOMPARE(*Settings::dataValue("com.tellwind.user"), QByteArray("{\"id\":\"1\"}"));
        Settings::remove("com.tellwind.user");
        QVERIFY(!Settings::contains("com.tellwind.user"));
        QVERIFY(isOwnerOnly(Settings::filePath()));
    }

    void observeDeliversCurrentValueThenEveryChangeQueued()
    {
        Source source;
        source.setFlag(true);
        auto receiver = std::make_unique<QObject>();
        QList<bool> seen;
        observe(&source, &Source::flag, &Source::flagChanged, receiver.get(),
                [&seen](bool value) { seen.append(value); });
        QVERIFY(seen.isEmpty()); // nothing runs inside the subscribe call

        source.setFlag(false);
        source.setFlag(true);
        QVERIFY(seen.isEmpty()); // nor inside the setters
        QTRY_COMPARE(seen, (QList<bool>{true, false, true}));

        // The subscription dies with its receiver, even with deliveries queued.
        source.setFlag(false);
        receiver.reset();
        source.setFlag(true);
        QTest::qWait(20);
        QCOMPARE(seen, (QList<bool>{true, false, true}));
    }
};

QTEST_GUILESS_MAIN(TestCommon)
#include "test_common.moc"
