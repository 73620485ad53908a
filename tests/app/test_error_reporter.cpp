// Failures reaching the user: which of them become desktop notifications and
// what the panel is left showing; and the notification backend without a
// notification daemon (with one, it is the end-to-end test's).

#include "app/ErrorReporter.h"
#include "fakes/FakeNotifier.h"
#include "fakes/LogCapture.h"
#include "platform/xdg/FreedesktopNotifier.h"

#include <QTest>

class TestErrorReporter : public QObject
{
    Q_OBJECT

private slots:
    void notifiesOncePerDistinctMessagePerRecording_data()
    {
        QTest::addColumn<QStringList>("events"); // "start", "result" or the text of an error
        QTest::addColumn<QStringList>("notified");
        QTest::addColumn<QString>("shown");

        const QString refused = QStringLiteral("Network error: Connection refused");
        const QString spanish = QStringLiteral("Language not supported: es-ES");
        QTest::addRow("the same failure over and over")
            << QStringList { "start", refused, refused, refused } << QStringList { refused } << refused;
        QTest::addRow("a new recording tells again") << QStringList { "start", refused, "start", refused }
                                                     << QStringList { refused, refused } << refused;
        QTest::addRow("a result clears the panel")
            << QStringList { "start", spanish, "result" } << QStringList { spanish } << QString();
        QTest::addRow("a failure after a result shows again, notified once")
            << QStringList { "start", refused, "result", refused } << QStringList { refused } << refused;
    }
    void notifiesOncePerDistinctMessagePerRecording()
    {
        QFETCH(QStringList, events);
        QFETCH(QStringList, notified);
        QFETCH(QString, shown);

        FakeNotifier notifier;
        ErrorReporter reporter(notifier);
        for (const QString &event : events) {
            if (event == QLatin1String("start"))
                reporter.recordingStarted();
            else if (event == QLatin1String("result"))
                reporter.resultArrived();
            else
                reporter.reportError(event);
        }
        QStringList bodies;
        for (const QString &line : notifier.shown)
            bodies << line.section(QStringLiteral(": "), 1);
        QCOMPARE(bodies, notified);
        QCOMPARE(reporter.message(), shown);
    }

    void noNotificationServiceIsNoError()
    {
        LogCapture log;
        FreedesktopNotifier notifier;
        notifier.notify(
            QStringLiteral("Dictation problem"), QStringLiteral("Network error: Connection refused"));
        QTRY_VERIFY(!log.lines().filter(QStringLiteral("No desktop notification")).isEmpty());
        // Without any session bus at all it shows nothing either.
        FreedesktopNotifier(QDBusConnection(QStringLiteral("never-connected")))
            .notify("Dictation problem", "x");
    }
};

QTEST_MAIN(TestErrorReporter)
#include "test_error_reporter.moc"
