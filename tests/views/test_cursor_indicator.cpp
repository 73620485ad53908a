// The recording badge beside the pointer: where it goes, that it follows,
// and that clicks pass through it.

#include "output/CursorIndicatorService.h"
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

    void placement()
    {
        // Beside the pointer: 20 to the right, the top edge 10 below it. Less
        // than 52 from the right edge: its right edge 20 left of the pointer.
        // Less than 42 from the bottom: its bottom edge 20 above the pointer.
        const QRect frame(0, 0, 1280, 800);
        const QList<std::tuple<QPoint, std::optional<QRect>, QPoint>> cases { { { 400, 300 }, std::nullopt,
                                                                                  { 420, 310 } },
            { { 1228, 300 }, frame, { 1248, 310 } }, { { 1229, 300 }, frame, { 1177, 310 } },
            { { 400, 758 }, frame, { 420, 768 } }, { { 400, 759 }, frame, { 420, 707 } },
            { { 2290, 690 }, QRect(1280, 100, 1024, 600), { 2238, 638 } } }; // a second screen
        for (const auto &[pointer, screen, origin] : cases)
            QCOMPARE(CursorIndicatorService::badgeOrigin(pointer, screen), origin);
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
        const auto windowSystem = WindowSystem::create();
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
