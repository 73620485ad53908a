// A termination signal lets the words being typed reach the end.
#include "app/TellwindApp.h"
#include "fakes/LogCapture.h"
#include "support/TypingRig.h"

#include <QApplication>
#include <QStandardPaths>
#include <QTest>

#include <qcoro/qcorotask.h>

using namespace std::chrono_literals;

class TestAppLifecycle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

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
        auto running = typing.insertTranscript({ 1, 0, first, false });
        auto queued = typing.insertTranscript({ 1, 0, last, false });
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
