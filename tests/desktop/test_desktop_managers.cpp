#include "common/Settings.h"
#include "desktop/GlobalHotkeyManager.h"
#include "desktop/LaunchAtLoginManager.h"
#include "desktop/MenuBarManager.h"
#include "desktop/WindowPositionManager.h"
#include "fakes/FakeAutostartStore.h"
#include "fakes/FakeKeyMonitor.h"
#include "fakes/FakeStatusBar.h"
#include "fakes/LogCapture.h"
#include "platform/xdg/XdgAutostartStore.h"

#include <QMoveEvent>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

namespace
{

QSettings rawSettings()
{
    return QSettings(Settings::filePath(), QSettings::IniFormat);
}

// A manager launched on a fake (a fresh one unless given), which the test keeps a hand on.
template <typename Manager, typename Fake> std::unique_ptr<Manager> launch(Fake *&fake, Fake *given = nullptr)
{
    fake = given ? given : new Fake;
    return std::make_unique<Manager>(std::unique_ptr<Fake>(fake));
}

bool isRed(const QIcon &icon)
{
    const QColor middle = icon.pixmap(32, 32).toImage().pixelColor(16, 10);
    return middle.red() > 200 && middle.green() < 100;
}

void writeFile(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

} // namespace

class TestDesktopManagers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { rawSettings().clear(); }

    void hotkeyMatchesExactlyShiftR()
    {
        FakeKeyMonitor *monitor;
        auto manager = launch<GlobalHotkeyManager>(monitor);
        int presses = 0;
        manager->onHotkeyPressed = [&] { ++presses; };

        monitor->type({ KeyEvent::ansiR, KeyModifier::shift | 0x4 }); // which Shift: no matter
        // Reported on a later turn of the event loop, never from inside the monitor.
        QCOMPARE(presses, 0);
        QTRY_COMPARE(presses, 1);
        monitor->type({ KeyEvent::ansiR, KeyModifier::shift, true }); // each repeat toggles again
        QTRY_COMPARE(presses, 2);

        monitor->type({ KeyEvent::ansiR, KeyModifier::shift | KeyModifier::altGr });
        // Gone before a queued report runs: nothing happens.
        monitor->type({ KeyEvent::ansiR, KeyModifier::shift });
        manager.reset();
        QTest::qWait(50);
        QCOMPARE(presses, 2);
    }

    void hotkeyAndTraySwitches()
    {
        FakeKeyMonitor *monitor;
        auto hotkey = launch<GlobalHotkeyManager>(monitor);
        hotkey->start(); // reinstalls, never doubles
        QCOMPARE(monitor->globalCount(), 1);
        hotkey->setIsEnabled(false);
        // A later launch honours the choice.
        hotkey = launch<GlobalHotkeyManager>(monitor);
        hotkey->start();
        QCOMPARE(monitor->globalCount(), 0);

        FakeStatusBar *bar;
        auto tray = launch<MenuBarManager>(bar);
        tray->showRecordingState(true);
        tray->setIsEnabled(false);
        QVERIFY(!bar->item);
        // Back on: one new item showing the current state.
        tray->setIsEnabled(true);
        tray->setIsEnabled(true);
        QCOMPARE(bar->itemsMade, 2);
        QVERIFY(isRed(bar->item->image));

        // No tray on this desktop: logged, and the item waits for one.
        auto *trayless = new FakeStatusBar;
        trayless->available = false;
        LogCapture log;
        tray = launch<MenuBarManager>(bar, trayless);
        QCOMPARE(log.linesStartingWith("⚠️ No system tray").size(), 1);
        QVERIFY(trayless->item);
    }

    void launchAtLogin()
    {
        FakeAutostartStore *store;
        auto manager = launch<LaunchAtLoginManager>(store); // the first launch ever switches it on
        QVERIFY(manager->isEnabled());
        manager->setIsEnabled(false);
        manager->setIsEnabled(false); // the same value: no call
        QCOMPARE(store->calls, QStringList({ "register", "unregister" }));
        // The user turned it off: later launches keep it off.
        manager = launch<LaunchAtLoginManager>(store);
        QVERIFY(!manager->isEnabled() && store->calls.isEmpty());

        // A change the desktop refuses is undone once, even when the undo fails too;
        // observers see the request, then the undo.
        store->registerError = QStringLiteral("disk full");
        store->unregisterError = QStringLiteral("busy");
        QSignalSpy changes(manager.get(), &LaunchAtLoginManager::isEnabledChanged);
        manager->setIsEnabled(true);
        QTRY_COMPARE(changes.count(), 2);
        QVERIFY(!manager->isEnabled());
        QCOMPARE(store->calls, QStringList({ "register", "unregister" }));
    }

    void xdgAutostartEntry()
    {
        QTemporaryDir home;
        const QString program = home.filePath("my apps/tell$wind \"beta\"");
        writeFile(program, "#!/bin/sh\n");
        QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner);
        XdgAutostartStore store(home.filePath("config"), { home.filePath("xdg") }, program);
        QCOMPARE(store.registerApp(), std::nullopt);
        QCOMPARE(store.status(), AutostartStore::Status::enabled);
        QFile entry(home.filePath("config/autostart/tellwind.desktop"));
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QString exec = QString::fromUtf8(entry.readAll()).section("\nExec=", 1).section('\n', 0, 0);
        QCOMPARE(XdgAutostartStore::execProgram(exec), program); // quoted: starts exactly this file
        QFile::rename(program, program + ".moved");
        QCOMPARE(store.status(), AutostartStore::Status::notFound);

        writeFile(entry.fileName(), "[Desktop Entry]\nExec=/bin/true\nX-GNOME-Autostart-enabled=false\n");
        QCOMPARE(store.status(), AutostartStore::Status::notRegistered);
        QFile::remove(entry.fileName());
        // A packaged entry starts it until an entry of the user's hides it.
        writeFile(home.filePath("xdg/autostart/tellwind.desktop"), "[Desktop Entry]\nExec=/bin/true %u\n");
        QCOMPARE(store.status(), AutostartStore::Status::enabled);
        QCOMPARE(store.unregisterApp(), std::nullopt);
        QCOMPARE(store.status(), AutostartStore::Status::notRegistered);

        // A file where the folder belongs: nobody, root included, can write there.
        writeFile(home.filePath("blocked/autostart"), "");
        XdgAutostartStore blocked(home.filePath("blocked"), {}, program);
        QVERIFY(blocked.registerApp().value_or(QString()).startsWith("Cannot create"));
    }

    void damagedStoredPositionIsForgotten_data()
    {
        QTest::addColumn<QVariant>("x");
        QTest::addColumn<QVariant>("y");
        QTest::addRow("not a number") << QVariant("nan") << QVariant("300.0");
        QTest::addRow("half a pair") << QVariant("100.0") << QVariant();
        QTest::addRow("beyond every screen") << QVariant("1e300") << QVariant("300.0");
        QTest::addRow("on a display that is gone") << QVariant("2500.0") << QVariant("600.0");
    }
    void damagedStoredPositionIsForgotten()
    {
        QFETCH(QVariant, x);
        QFETCH(QVariant, y);
        {
            QSettings raw = rawSettings();
            raw.setValue("windowPositionX", x);
            if (y.isValid())
                raw.setValue("windowPositionY", y);
            raw.setValue("hasStoredWindowPosition", true);
        }
        WindowPositionManager positions([] { return QList<QRectF> { QRectF(0, 0, 1280, 770) }; });
        QWindow window;
        window.setGeometry(570, 345, 140, 110);
        positions.restorePosition(&window);
        QCOMPARE(window.framePosition(), QPoint(570, 345));
        QVERIFY(!Settings::boolValue("hasStoredWindowPosition", true));
        QVERIFY(!Settings::contains("windowPositionX") && !Settings::contains("windowPositionY"));

        // Nor is a panel that ended up out of reach saved there; a place in reach is.
        window.setFramePosition(QPoint(-32767, 345));
        positions.savePosition(&window);
        QVERIFY(!Settings::boolValue("hasStoredWindowPosition", true));
        window.setFramePosition(QPoint(100, 100));
        positions.savePosition(&window);
        QVERIFY(Settings::boolValue("hasStoredWindowPosition", false));
    }

    void dragIsSavedWhenItStops()
    {
        WindowPositionManager positions([] { return QList<QRectF> { QRectF(0, 0, 1280, 770) }; });
        QWindow window;
        window.setGeometry(100, 100, 140, 110);
        positions.startObserving(&window);
        LogCapture log;
        // A drag: one move event per pointer motion, each to a new place.
        for (int step = 1; step <= 40; ++step) {
            const QPoint from = window.framePosition();
            const QPoint to(100 + step * 5, 100 + step);
            window.setFramePosition(to);
            QMoveEvent move(to, from);
            QCoreApplication::sendEvent(&window, &move);
        }
        QVERIFY(log.linesStartingWith("💾").size() <= 1);
        QTRY_COMPARE(Settings::doubleValue("windowPositionX"), std::optional(300.0));
        QCOMPARE(Settings::doubleValue("windowPositionY"), std::optional(140.0));
        QCOMPARE(log.linesStartingWith("💾"), QStringList("💾 Window position saved: (300.0, 140.0)"));
    }

    // Last: a reset holds for the rest of the process.
    void windowPosition()
    {
        WindowPositionManager positions([] {
            return QList<QRectF> { QRectF(0, 0, 1280, 770), QRectF(1280, 0, 1920, 1050) };
        });
        QWindow window;
        window.setGeometry(570, 345, 140, 110);
        Settings::setDouble("windowPositionX", 2500);
        Settings::setDouble("windowPositionY", 600);
        Settings::setBool("hasStoredWindowPosition", true);
        positions.restorePosition(&window);
        QCOMPARE(window.framePosition(), QPoint(2500, 600)); // on the second display
        QVERIFY(positions.isPositionOnScreen(1279, -109, 140, 110)); // a sliver counts

        // Reset from the settings window's own instance: the save at quit stores no place again.
        WindowPositionManager().clearPosition();
        positions.savePosition(&window);
        QVERIFY(!Settings::boolValue("hasStoredWindowPosition", false));
    }
};

QTEST_MAIN(TestDesktopManagers)
#include "test_desktop_managers.moc"
