#include "common/Observe.h"
#include "common/Settings.h"

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

    void observeDeliversCurrentValueThenEveryChangeQueued()
    {
        Source source;
        source.setValue(true);
        auto receiver = std::make_unique<QObject>();
        QList<bool> seen;
        observe(&source, &Source::value, &Source::valueChanged, receiver.get(), [&seen](bool v) { seen << v; });
        source.setValue(false);
        source.setValue(true);
        QVERIFY(seen.isEmpty()); // nothing runs inside the subscribe call or the setters
        QTRY_COMPARE(seen, (QList<bool>{true, false, true}));

        // The subscription dies with its receiver, even with deliveries queued.
        source.setValue(false);
        receiver.reset();
        source.setValue(true);
        QTest::qWait(20);
        QCOMPARE(seen, (QList<bool>{true, false, true}));
    }
};

QTEST_GUILESS_MAIN(TestCommon)
#include "test_common.moc"
