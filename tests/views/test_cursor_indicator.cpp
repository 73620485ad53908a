// The recording badge beside the pointer: where it goes, that it follows,
// and that clicks pass through it.

#include "fakes/LogCapture.h"
#include "output/CursorIndicatorService.h"
#include "platform/WindowSystem.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QProcess>
#include <QRasterWindow>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>

namespace {

// A plain window that counts the presses it receives.
class ClickTarget : public QRasterWindow
{
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent *) override { ++presses; }
    void paintEvent(QPaintEvent *) override {}
};

bool xdotool(const QStringList &arguments)
{
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

} // namespace

class TestCursorIndicator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void placement()
    {
        const QRect frame(0, 0, 1280, 800);
        // Beside the pointer: 20 to the right, the top edge 10 below it.
        QCOMPARE(CursorIndicatorService::badgeOrigin({400, 300}, frame), QPoint(420, 310));
        QCOMPARE(CursorIndicatorService::badgeOrigin({400, 300}, std::nullopt), QPoint(420, 310));

        // Less than 52 from the right edge: to the left, its right edge 20
        // left of the pointer. At exactly 52 it still fits on the right.
        QCOMPARE(CursorIndicatorService::badgeOrigin({1240, 300}, frame), QPoint(1188, 310));
        QCOMPARE(CursorIndicatorService::badgeOrigin({1228, 300}, frame), QPoint(1248, 310));
        QCOMPARE(CursorIndicatorService::badgeOrigin({1229, 300}, frame), QPoint(1177, 310));

        // Within 42 of the bottom: above, its bottom edge 20 above the pointer.
        QCOMPARE(CursorIndicatorService::badgeOrigin({400, 790}, frame), QPoint(420, 738));
        QCOMPARE(CursorIndicatorService::badgeOrigin({400, 758}, frame), QPoint(420, 768));
        QCOMPARE(CursorIndicatorService::badgeOrigin({400, 759}, frame), QPoint(420, 707));

        // Both at once, in the corner; a screen that does not start at 0.
        QCOMPARE(CursorIndicatorService::badgeOrigin({1270, 795}, frame), QPoint(1218, 743));
        const QRect second(1280, 100, 1024, 600);
        QCOMPARE(CursorIndicatorService::badgeOrigin({2290, 690}, second), QPoint(2238, 638));
    }

    void followsThePointer()
    {
        LogCapture log;
        QPoint pointer(300, 200);
        CursorIndicatorService service(WindowSystem::shared(), [&pointer] { return pointer; });
        QVERIFY(!service.indicatorWindow());

        service.show();
        service.show();
        QWidget *badge = service.indicatorWindow();
        QVERIFY(badge);
        QVERIFY(QTest::qWaitForWindowExposed(badge));
        QCOMPARE(badge->size(), QSize(32, 32));
        QCOMPARE(badge->pos(), QPoint(320, 210));
        QVERIFY(service.isVisible());
        QVERIFY(service.isTracking());
        QVERIFY(badge->windowFlags() & Qt::WindowTransparentForInput);
        QVERIFY(badge->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(badge->property("isPulsing").toBool());

        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        pointer = QPoint(screen.right() - 10, screen.bottom() - 10);
        QTRY_COMPARE(badge->pos(), CursorIndicatorService::badgeOrigin(pointer, screen));

        service.hide();
        service.hide();
        QVERIFY(!badge->isVisible());
        QVERIFY(!service.isTracking());
        // Shown again, the same window comes back.
        pointer = QPoint(100, 100);
        service.show();
        QCOMPARE(service.indicatorWindow(), badge);
        QCOMPARE(badge->pos(), QPoint(120, 110));
        service.hide();

        QCOMPARE(log.linesStartingWith(QStringLiteral("🎯 [Cursor] Indicator shown")).size(), 2);
        QCOMPARE(log.linesStartingWith(QStringLiteral("🎯 [Cursor] Indicator hidden")).size(), 2);
    }

    void clicksPassThrough()
    {
        ClickTarget target;
        target.setGeometry(500, 400, 200, 150);
        target.show();
        QVERIFY(QTest::qWaitForWindowExposed(&target));

        // The real pointer, moved by the X server, so the badge follows it.
        CursorIndicatorService service(WindowSystem::shared());
        QVERIFY(xdotool({"mousemove", "540", "430"}));
        QTRY_COMPARE(QCursor::pos(), QPoint(540, 430));
        service.show();
        QVERIFY(QTest::qWaitForWindowExposed(service.indicatorWindow()));
        QCOMPARE(service.indicatorWindow()->pos(), QPoint(560, 440));

        // A click in the middle of the badge reaches the window beneath.
        QVERIFY(xdotool({"mousemove", "576", "456", "click", "1"}));
        QTRY_COMPARE(target.presses, 1);
        service.hide();
    }
};

QTEST_MAIN(TestCursorIndicator)
#include "test_cursor_indicator.moc"
