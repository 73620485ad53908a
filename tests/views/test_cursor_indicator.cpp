// The recording badge beside the pointer: where it goes, that it follows,
// and that clicks pass through it.

#include "output/CursorIndicatorService.h"
#include "platform/SessionInfo.h"
#include "platform/WindowSystem.h"

#include <QProcess>
#include <QRasterWindow>
#include <QStandardPaths>
#include <QTest>

class TestCursorIndicator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void followsThePointerAndLetsClicksThrough()
    {
        // A window beneath that counts the presses it gets.
        struct Target : QRasterWindow {
            int presses = 0;
            void mousePressEvent(QMouseEvent *) override { ++presses; }
        } target;
        target.setGeometry(500, 400, 200, 150);
        target.show();
        QVERIFY(QTest::qWaitForWindowExposed(&target));

        // The real pointer, moved by the X server, in the corner: the badge goes above, left.
        QCOMPARE(QProcess::execute("xdotool", { "mousemove", "1270", "790" }), 0);
        const auto windowSystem = WindowSystem::create(SessionInfo::current());
        CursorIndicatorService service(*windowSystem);
        service.show();
        QWidget *badge = service.indicatorWindow();
        QVERIFY(QTest::qWaitForWindowExposed(badge));
        QCOMPARE(badge->geometry(), QRect(1218, 738, 32, 32));
        const Qt::WindowFlags wanted = Qt::WindowTransparentForInput | Qt::WindowStaysOnTopHint;
        QCOMPARE(badge->windowFlags() & wanted, wanted);
        QVERIFY(badge->property("isPulsing").toBool());

        // Beside the pointer, flipped to the left and above near its screen's far corner.
        QCOMPARE(CursorIndicatorService::badgeOrigin({ 2290, 690 }, QRect(1280, 100, 1024, 600)),
            QPoint(2238, 638));
        QCOMPARE(CursorIndicatorService::badgeOrigin({ 400, 300 }, std::nullopt), QPoint(420, 310));

        QCOMPARE(QProcess::execute("xdotool", { "mousemove", "540", "430" }), 0);
        QTRY_COMPARE(badge->pos(), QPoint(560, 440)); // it follows
        // A click in the middle of the badge reaches the window beneath.
        QCOMPARE(QProcess::execute("xdotool", { "mousemove", "576", "456", "click", "1" }), 0);
        QTRY_COMPARE(target.presses, 1);

        // Hidden, it stops following: nothing polls while idle.
        service.hide();
        QVERIFY(!badge->isVisible() && !service.isTracking());
    }
};

QTEST_MAIN(TestCursorIndicator)
#include "test_cursor_indicator.moc"
