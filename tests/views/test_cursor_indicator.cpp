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

    // Beside the pointer: 20 to the right, the top edge 10 below it. Less
    // than 52 from the right edge: its right edge 20 left of the pointer.
    // Less than 42 from the bottom: its bottom edge 20 above the pointer.
    void placement_data()
    {
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QPoint>("origin");
        const QRect frame(0, 0, 1280, 800);
        QTest::addRow("screen unknown") << QPoint(400, 300) << QRect() << QPoint(420, 310);
        QTest::addRow("just room on the right") << QPoint(1228, 300) << frame << QPoint(1248, 310);
        QTest::addRow("no room on the right") << QPoint(1229, 300) << frame << QPoint(1177, 310);
        QTest::addRow("no room below") << QPoint(400, 759) << frame << QPoint(420, 707);
        QTest::addRow("second screen's corner")
            << QPoint(2290, 690) << QRect(1280, 100, 1024, 600) << QPoint(2238, 638);
    }
    void placement()
    {
        QFETCH(QPoint, pointer);
        QFETCH(QRect, screen);
        QFETCH(QPoint, origin);
        const std::optional<QRect> known = screen.isNull() ? std::nullopt : std::optional<QRect>(screen);
        QCOMPARE(CursorIndicatorService::badgeOrigin(pointer, known), origin);
    }

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
