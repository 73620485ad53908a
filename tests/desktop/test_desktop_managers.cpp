#include "common/Settings.h"
#include "desktop/GlobalHotkeyManager.h"
#include "desktop/LaunchAtLoginManager.h"
#include "desktop/MenuBarManager.h"
#include "desktop/WindowPositionManager.h"
#include "desktop/LogCapture.h"
#include "fakes/FakeAutostartStore.h"
#include "fakes/FakeKeyMonitor.h"
#include "fakes/FakeStatusBar.h"
#include "platform/xdg/XdgAutostartStore.h"

#include <QFile>
#include <QMenu>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

namespace {

KeyEvent key(quint16 keyCode, quint32 flags, bool isRepeat = false)
{
    return KeyEvent {keyCode, flags, isRepeat};
}

void clearSettings()
{
    QSettings(Settings::filePath(), QSettings::IniFormat).clear();
}

// A value written by something other than this program: a string where a
// bool belongs.
void storeForeignValue(const QString &keyName, const QVariant &value)
{
    QSettings settings(Settings::filePath(), QSettings::IniFormat);
    settings.setValue(keyName, value);
    settings.sync();
}

QString storedText(const QString &keyName)
{
    return QSettings(Settings::filePath(), QSettings::IniFormat).value(keyName).toString();
}

// Share of the opaque pixels that are clearly red.
double redShare(const QIcon &icon)
{
    const QImage image = icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
    int opaque = 0;
    int red = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor color = image.pixelColor(x, y);
            if (color.alpha() < 200)
                continue;
            ++opaque;
            if (color.red() > 200 && color.green() < 100 && color.blue() < 100)
                ++red;
        }
    }
    return opaque ? double(red) / opaque : 0.0;
}

// Whether the middle of the capsule is painted: the filled microphone.
bool isFilled(const QIcon &icon)
{
    const QImage image = icon.pixmap(64, 64).toImage();
    return image.pixelColor(32, 20).alpha() > 200;
}

QStringList menuTexts(const QMenu *menu)
{
    QStringList texts;
    for (const QAction *action : menu->actions())
        texts << (action->isSeparator() ? QStringLiteral("---") : action->text());
    return texts;
}

QAction *menuAction(const QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

} // namespace

class TestDesktopManagers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { clearSettings(); }

    void hotkeyMatchesExactlyShiftR()
    {
        auto *monitor = new FakeKeyMonitor;
        GlobalHotkeyManager manager {std::unique_ptr<KeyMonitor>(monitor)};
        int presses = 0;
        manager.onHotkeyPressed = [&] { ++presses; };
        LogCapture log;

        monitor->typeInOtherApplication(key(KeyEvent::ansiR, KeyModifier::shift));
        // Reported on a later turn of the event loop, never from inside the monitor.
        QCOMPARE(presses, 0);
        QTRY_COMPARE(presses, 1);
        QCOMPARE(log.count("🎹 Hotkey triggered: Shift + R"), 1);

        // Which Shift key it was (device-dependent bits) does not matter, and
        // a key held down toggles again with each repeat.
        monitor->typeInOtherApplication(key(KeyEvent::ansiR, KeyModifier::shift | 0x4));
        monitor->typeInOtherApplication(key(KeyEvent::ansiR, KeyModifier::shift | 0x2, true));
        // Our own windows are watched too, once.
        monitor->typeInThisApplication(key(KeyEvent::ansiR, KeyModifier::shift));
        QTRY_COMPARE(presses, 4);

        const quint32 blockers[] = {KeyModifier::capsLock, KeyModifier::control, KeyModifier::alt,
                                    KeyModifier::super,    KeyModifier::function, KeyModifier::numericPad,
                                    KeyModifier::help,     KeyModifier::altGr,    KeyModifier::other};
        for (const quint32 blocker : blockers)
            monitor->typeInOtherApplication(key(KeyEvent::ansiR, KeyModifier::shift | blocker));
        monitor->typeInOtherApplication(key(KeyEvent::ansiR, 0));
        monitor->typeInOtherApplication(key(14, KeyModifier::shift)); // E
        monitor->typeInOtherApplication(key(KeyEvent::noKeyCode, KeyModifier::shift));
        QTest::qWait(50);
        QCOMPARE(presses, 4);
        QCOMPARE(log.count("🎹 Hotkey triggered: Shift + R"), 4);
    }

    void hotkeySettingInstallsAndRemovesMonitors()
    {
        auto *monitor = new FakeKeyMonitor;
        auto manager = std::make_unique<GlobalHotkeyManager>(std::unique_ptr<KeyMonitor>(monitor));
        // A fresh install is on, with both monitors, and says so in the store.
        QVERIFY(manager->isEnabled());
        QCOMPARE(monitor->globalCount(), 1);
        QCOMPARE(monitor->localCount(), 1);
        QCOMPARE(storedText("globalHotkeyEnabled"), QString("true"));

        // Registering again (as start does) never leaves two of a kind.
        {
            LogCapture log;
            manager->start();
            manager->registerHotkey();
            QCOMPARE(monitor->globalCount(), 1);
            QCOMPARE(monitor->localCount(), 1);
            QVERIFY(log.contains("🎹 Global hotkey manager started (Shift + R)"));
        }

        int presses = 0;
        manager->onHotkeyPressed = [&] { ++presses; };
        QSignalSpy changes(manager.get(), &GlobalHotkeyManager::isEnabledChanged);
        manager->setIsEnabled(false);
        QCOMPARE(monitor->globalCount(), 0);
        QCOMPARE(monitor->localCount(), 0);
        QCOMPARE(storedText("globalHotkeyEnabled"), QString("false"));
        QCOMPARE(changes.count(), 1);
        QCOMPARE(changes.at(0).at(0).toBool(), false);
        monitor->typeInOtherApplication(key(KeyEvent::ansiR, KeyModifier::shift));
        QTest::qWait(20);
        QCOMPARE(presses, 0);
        {
            // Switched off, start neither installs nor logs.
            LogCapture log;
            manager->start();
            QCOMPARE(monitor->globalCount(), 0);
            QVERIFY(!log.anyStartsWith("🎹"));
        }

        // A fresh launch honours the stored choice.
        monitor = new FakeKeyMonitor;
        manager = std::make_unique<GlobalHotkeyManager>(std::unique_ptr<KeyMonitor>(monitor));
        QVERIFY(!manager->isEnabled());
        QCOMPARE(monitor->globalCount(), 0);
        manager->setIsEnabled(true);
        QCOMPARE(monitor->globalCount(), 1);

        // Stopping at quit removes the monitors but keeps the choice.
        manager->unregisterHotkey();
        QCOMPARE(monitor->globalCount(), 0);
        QVERIFY(manager->isEnabled());
        QCOMPARE(storedText("globalHotkeyEnabled"), QString("true"));

        // Something else than a bool in the store reads as on.
        for (const QVariant &foreign : {QVariant(QStringLiteral("off")), QVariant(0.0)}) {
            storeForeignValue("globalHotkeyEnabled", foreign);
            monitor = new FakeKeyMonitor;
            manager = std::make_unique<GlobalHotkeyManager>(std::unique_ptr<KeyMonitor>(monitor));
            QVERIFY(manager->isEnabled());
            QCOMPARE(monitor->globalCount(), 1);
            QCOMPARE(storedText("globalHotkeyEnabled"), QString("true"));
        }
    }

    void hotkeyOutlivedByItsMonitorsAndCallbacks()
    {
        auto *monitor = new FakeKeyMonitor;
        monitor->installsLocal = false; // a platform that gives no handle
        auto manager = std::make_unique<GlobalHotkeyManager>(std::unique_ptr<KeyMonitor>(monitor));
        QVERIFY(manager->hasEventMonitor());
        QVERIFY(!manager->hasLocalEventMonitor());

        bool called = false;
        manager->onHotkeyPressed = [&] { called = true; };
        monitor->typeInOtherApplication(key(KeyEvent::ansiR, KeyModifier::shift));
        // Gone before the queued report runs: nothing happens.
        manager.reset();
        QTest::qWait(20);
        QVERIFY(!called);
    }

    void menuBarItemAndMenu()
    {
        auto *bar = new FakeStatusBar;
        LogCapture log;
        MenuBarManager manager {std::unique_ptr<StatusBar>(bar)};
        QVERIFY(bar->item);
        QVERIFY(log.contains("📍 Menubar icon created"));
        QCOMPARE(storedText("menuBarEnabled"), QString("true"));
        QCOMPARE(bar->item->description, QString("Tellwind"));
        QCOMPARE(redShare(bar->item->image), 0.0);
        QVERIFY(!isFilled(bar->item->image));

        QMenu *menu = bar->item->menu;
        QVERIFY(menu);
        QCOMPARE(menuTexts(menu), QStringList({"Toggle Recording", "---", "Show Window", "Settings...", "---",
                                               "Quit Tellwind"}));
        QCOMPARE(menuAction(menu, "Toggle Recording")->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_R));
        QCOMPARE(menuAction(menu, "Settings...")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
        QCOMPARE(menuAction(menu, "Quit Tellwind")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
        QVERIFY(menuAction(menu, "Show Window")->shortcut().isEmpty());

        // Entries without a callback do nothing; with one they call it.
        for (QAction *action : menu->actions())
            action->trigger();
        QStringList called;
        manager.onToggleRecording = [&] { called << "toggle"; };
        manager.onShowWindow = [&] { called << "show"; };
        manager.onOpenSettings = [&] { called << "settings"; };
        manager.onQuit = [&] { called << "quit"; };
        for (QAction *action : menu->actions())
            action->trigger();
        bar->item->click(StatusItem::Click::left);
        bar->item->click(StatusItem::Click::right);
        bar->item->click(StatusItem::Click::middle);
        QCOMPARE(called, QStringList({"toggle", "show", "settings", "quit", "toggle"}));

        // Recording: filled red microphone, the first entry offers the stop.
        manager.showRecordingState(true);
        QVERIFY(redShare(bar->item->image) > 0.5);
        QVERIFY(isFilled(bar->item->image));
        QCOMPARE(menu->actions().first()->text(), QString("Stop Recording"));
        manager.showRecordingState(false);
        QCOMPARE(redShare(bar->item->image), 0.0);
        QVERIFY(!isFilled(bar->item->image));
        QCOMPARE(menu->actions().first()->text(), QString("Start Recording"));
    }

    void menuBarSettingRemovesAndRebuildsItem()
    {
        auto *bar = new FakeStatusBar;
        auto manager = std::make_unique<MenuBarManager>(std::unique_ptr<StatusBar>(bar));
        manager->showRecordingState(true);
        {
            LogCapture log;
            manager->setIsEnabled(false);
            QVERIFY(!bar->item);
            QVERIFY(!manager->hasStatusItem());
            QCOMPARE(log.count("📍 Menubar icon removed"), 1);
            QCOMPARE(storedText("menuBarEnabled"), QString("false"));
            manager->setIsEnabled(false);
            QCOMPARE(log.count("📍 Menubar icon removed"), 1);
        }
        // Back on: a new item with the current state's icon and a fresh menu.
        manager->setIsEnabled(true);
        QVERIFY(bar->item);
        QCOMPARE(bar->itemsMade, 2);
        QVERIFY(redShare(bar->item->image) > 0.5);
        QCOMPARE(bar->item->menu->actions().first()->text(), QString("Toggle Recording"));
        manager->setIsEnabled(true);
        QCOMPARE(bar->itemsMade, 2);

        // A later launch keeps it hidden; a non-bool in the store reads as shown.
        manager->setIsEnabled(false);
        bar = new FakeStatusBar;
        manager = std::make_unique<MenuBarManager>(std::unique_ptr<StatusBar>(bar));
        QVERIFY(!manager->isEnabled());
        QCOMPARE(bar->itemsMade, 0);
        storeForeignValue("menuBarEnabled", QStringLiteral("no"));
        bar = new FakeStatusBar;
        manager = std::make_unique<MenuBarManager>(std::unique_ptr<StatusBar>(bar));
        QVERIFY(manager->isEnabled());
        QCOMPARE(bar->itemsMade, 1);

        // No tray on this desktop: said in the log, and the program goes on
        // with an item that shows once a tray starts.
        bar = new FakeStatusBar;
        bar->available = false;
        LogCapture log;
        manager = std::make_unique<MenuBarManager>(std::unique_ptr<StatusBar>(bar));
        QVERIFY(log.anyStartsWith("⚠️ No system tray"));
        QVERIFY(bar->item);
    }

    void launchAtLoginFirstLaunchDefault()
    {
        // Nothing stored, nothing registered: switched on and remembered.
        {
            auto *store = new FakeAutostartStore;
            LogCapture log;
            LaunchAtLoginManager manager {std::unique_ptr<AutostartStore>(store)};
            QVERIFY(manager.isEnabled());
            QCOMPARE(store->calls, QStringList({"register"}));
            QCOMPARE(storedText("hasSetupLaunchAtLogin"), QString("true"));
            QCOMPARE(log.lines(), QStringList({"🚀 First launch - enabling Launch at Login by default",
                                               "✅ Launch at login enabled"}));
            QCOMPARE(manager.status(), LaunchAtLoginManager::enabled);

            // The user turns it off; the same value again makes no call.
            manager.setIsEnabled(false);
            manager.setIsEnabled(false);
            QCOMPARE(store->calls, QStringList({"register", "unregister"}));
            QVERIFY(log.contains("✅ Launch at login disabled"));
        }
        // The next launch keeps it off.
        {
            auto *store = new FakeAutostartStore;
            LaunchAtLoginManager manager {std::unique_ptr<AutostartStore>(store)};
            QVERIFY(!manager.isEnabled());
            QVERIFY(store->calls.isEmpty());
        }
        // First launch when the desktop already starts it: only the key.
        clearSettings();
        {
            auto *store = new FakeAutostartStore;
            store->currentStatus = AutostartStore::Status::enabled;
            LogCapture log;
            LaunchAtLoginManager manager {std::unique_ptr<AutostartStore>(store)};
            QVERIFY(manager.isEnabled());
            QVERIFY(store->calls.isEmpty());
            QVERIFY(log.lines().isEmpty());
            QCOMPARE(storedText("hasSetupLaunchAtLogin"), QString("true"));
        }
        // A registration held for approval reads as off.
        {
            auto *store = new FakeAutostartStore;
            store->currentStatus = AutostartStore::Status::requiresApproval;
            LaunchAtLoginManager manager {std::unique_ptr<AutostartStore>(store)};
            QVERIFY(!manager.isEnabled());
            QCOMPARE(manager.status(), LaunchAtLoginManager::requiresApproval);
        }
    }

    void launchAtLoginUndoesAFailedChange()
    {
        Settings::setBool("hasSetupLaunchAtLogin", true);
        auto *store = new FakeAutostartStore;
        store->registerError = QStringLiteral("Cannot create the folder /x/autostart");
        LaunchAtLoginManager manager {std::unique_ptr<AutostartStore>(store)};
        QSignalSpy changes(&manager, &LaunchAtLoginManager::isEnabledChanged);
        LogCapture log;

        manager.setIsEnabled(true);
        // Observers see the request first, then the undo.
        QVERIFY(manager.isEnabled());
        QTRY_VERIFY(!manager.isEnabled());
        QCOMPARE(changes.count(), 2);
        QCOMPARE(store->calls, QStringList({"register", "unregister"}));
        QVERIFY(log.contains("❌ Failed to set launch at login: Cannot create the folder /x/autostart"));

        // The undo failing too leaves the restored value, with no further call.
        store->calls.clear();
        store->unregisterError = QStringLiteral("busy");
        manager.setIsEnabled(true);
        QTRY_VERIFY(!manager.isEnabled());
        QTest::qWait(50);
        QVERIFY(!manager.isEnabled());
        QCOMPARE(store->calls, QStringList({"register", "unregister"}));
        QCOMPARE(log.count("❌ Failed to set launch at login: busy"), 1);
    }

    void xdgAutostartEntry()
    {
        QTemporaryDir home;
        const QString config = home.filePath("config");
        const QString system = home.filePath("xdg");
        const QString program = home.filePath("my apps/tell$wind \"beta\"");
        QDir().mkpath(home.filePath("my apps"));
        QFile executable(program);
        QVERIFY(executable.open(QIODevice::WriteOnly));
        executable.close();
        executable.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        XdgAutostartStore store(config, {system}, program);
        QCOMPARE(store.status(), AutostartStore::Status::notRegistered);
        QCOMPARE(store.unregisterApp(), std::nullopt); // nothing to remove is no failure

        QCOMPARE(store.registerApp(), std::nullopt);
        QCOMPARE(store.userEntryPath(), config + "/autostart/tellwind.desktop");
        QCOMPARE(store.status(), AutostartStore::Status::enabled);
        QSettings entry(store.userEntryPath(), QSettings::IniFormat);
        const QString exec = [&] {
            QFile file(store.userEntryPath());
            file.open(QIODevice::ReadOnly);
            for (const QString &line : QString::fromUtf8(file.readAll()).split('\n')) {
                if (line.startsWith("Exec="))
                    return line.mid(5);
            }
            return QString();
        }();
        // The running program, by its absolute path, quoted so a desktop
        // launcher starts exactly that file.
        QCOMPARE(XdgAutostartStore::execProgram(exec), program);

        // The program moved away: the entry points nowhere.
        QFile::rename(program, program + ".old");
        QCOMPARE(store.status(), AutostartStore::Status::notFound);
        QFile::rename(program + ".old", program);

        QCOMPARE(store.unregisterApp(), std::nullopt);
        QVERIFY(!QFile::exists(store.userEntryPath()));
        QCOMPARE(store.status(), AutostartStore::Status::notRegistered);

        // Entries switched off the ways desktops do it.
        QDir().mkpath(config + "/autostart");
        for (const char *off : {"Hidden=true", "X-GNOME-Autostart-enabled=false"}) {
            QFile file(store.userEntryPath());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[Desktop Entry]\nType=Application\nExec=/bin/true\n");
            file.write(off);
            file.close();
            QCOMPARE(store.status(), AutostartStore::Status::notRegistered);
        }
        QFile::remove(store.userEntryPath());

        // A packaged entry starts it until the user's own hidden entry says no.
        QDir().mkpath(system + "/autostart");
        QFile packaged(system + "/autostart/tellwind.desktop");
        QVERIFY(packaged.open(QIODevice::WriteOnly));
        packaged.write("[Desktop Entry]\nType=Application\nExec=/bin/true %u\n");
        packaged.close();
        QCOMPARE(store.status(), AutostartStore::Status::enabled);
        QCOMPARE(store.unregisterApp(), std::nullopt);
        QCOMPARE(store.status(), AutostartStore::Status::notRegistered);
        QCOMPARE(store.registerApp(), std::nullopt);
        QCOMPARE(store.status(), AutostartStore::Status::enabled);
    }

    void xdgAutostartUnwritableFolderIsUndone()
    {
        QTemporaryDir home;
        const QString config = home.filePath("config");
        QDir().mkpath(config);
        // A file where the folder belongs: no user (not even root) can write there.
        QFile blocker(config + "/autostart");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();

        auto store = std::make_unique<XdgAutostartStore>(config, QStringList {home.filePath("none")}, "/bin/true");
        LogCapture log;
        LaunchAtLoginManager manager {std::move(store)};
        QTRY_VERIFY(log.anyStartsWith("❌ Failed to set launch at login: Cannot create the folder"));
        QTRY_VERIFY(!manager.isEnabled());
        QCOMPARE(manager.status(), LaunchAtLoginManager::notRegistered);
        // One compensating change, which succeeds: nothing was there to remove.
        QTRY_COMPARE(log.count("✅ Launch at login disabled"), 1);
        QCOMPARE(storedText("hasSetupLaunchAtLogin"), QString("true"));
    }

    void windowPositionSavedAndRestored()
    {
        WindowPositionManager positions;
        QWindow first;
        first.setFlags(Qt::FramelessWindowHint);
        first.setGeometry(100, 80, 140, 110);
        first.show();
        QVERIFY(QTest::qWaitForWindowExposed(&first));
        {
            LogCapture log;
            positions.restorePosition(&first);
            QCOMPARE(log.lines(), QStringList({"📍 No stored window position, using default"}));
            positions.startObserving(&first);
            QVERIFY(log.contains("👁️ Started observing window position changes"));
            QVERIFY(!log.anyStartsWith("💾"));

            // The user drags the panel: every move is stored.
            first.setFramePosition(QPoint(612, 403));
            QTRY_VERIFY(log.contains("💾 Window position saved: (612.0, 403.0)"));
            QCOMPARE(Settings::doubleValue("windowPositionX"), 612.0);
            QCOMPARE(Settings::doubleValue("windowPositionY"), 403.0);
            QVERIFY(Settings::boolValue("hasStoredWindowPosition", false));
        }
        first.close();

        // Next launch: same place, and putting it there is no user move.
        WindowPositionManager later;
        QWindow second;
        second.setFlags(Qt::FramelessWindowHint);
        second.setGeometry(570, 345, 140, 110);
        LogCapture log;
        later.restorePosition(&second);
        later.startObserving(&second);
        second.show();
        QVERIFY(QTest::qWaitForWindowExposed(&second));
        QTRY_COMPARE(second.framePosition(), QPoint(612, 403));
        QTest::qWait(100);
        QVERIFY(log.contains("📍 Window position restored: (612.0, 403.0)"));
        QVERIFY(!log.anyStartsWith("💾"));
    }

    void windowPositionOffScreenIsForgotten()
    {
        QList<QRectF> screens {QRectF(0, 0, 1280, 770), QRectF(1280, 0, 1920, 1050)};
        WindowPositionManager positions([&] { return screens; });
        QWindow window;
        window.setGeometry(570, 345, 140, 110);

        // On the second display: restored there.
        Settings::setDouble("windowPositionX", 2500);
        Settings::setDouble("windowPositionY", 600);
        Settings::setBool("hasStoredWindowPosition", true);
        positions.restorePosition(&window);
        QCOMPARE(window.framePosition(), QPoint(2500, 600));

        // That display is gone: forgotten, and the panel stays where it is.
        screens.removeLast();
        window.setFramePosition(QPoint(570, 345));
        LogCapture log;
        positions.restorePosition(&window);
        QCOMPARE(log.lines(), QStringList({"⚠️ Stored position is off-screen, using default",
                                           "🗑️ Stored window position cleared"}));
        QCOMPARE(window.framePosition(), QPoint(570, 345));
        QVERIFY(!Settings::contains("windowPositionX"));
        QVERIFY(!Settings::contains("windowPositionY"));
        QCOMPARE(storedText("hasStoredWindowPosition"), QString("false"));

        // A sliver on a screen counts; the flag without numbers means the origin.
        QVERIFY(positions.isPositionOnScreen(1279, -109, 140, 110));
        QVERIFY(!positions.isPositionOnScreen(1280, 0, 140, 110));
        QVERIFY(!WindowPositionManager([] { return QList<QRectF>(); }).isPositionOnScreen(0, 0, 140, 110));
        Settings::setBool("hasStoredWindowPosition", true);
        positions.restorePosition(&window);
        QCOMPARE(window.framePosition(), QPoint(0, 0));

        // Off-screen forgetting is not a reset: later moves are stored again.
        positions.savePosition(&window);
        QVERIFY(Settings::boolValue("hasStoredWindowPosition", false));
        QCOMPARE(WindowPositionManager::formatCoordinate(-3.25), QString("-3.25"));
    }

    // Last: a reset holds for the rest of the process.
    void windowPositionResetHoldsUntilNextLaunch()
    {
        WindowPositionManager delegatesManager;
        QWindow window;
        window.setFlags(Qt::FramelessWindowHint);
        window.setGeometry(300, 200, 140, 110);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        delegatesManager.startObserving(&window);
        window.setFramePosition(QPoint(320, 220));
        QTRY_VERIFY(Settings::boolValue("hasStoredWindowPosition", false));

        // The settings window resets through an instance of its own.
        LogCapture log;
        WindowPositionManager().clearPosition();
        QVERIFY(log.contains("🗑️ Stored window position cleared"));
        window.setFramePosition(QPoint(400, 300));
        QTRY_COMPARE(window.framePosition(), QPoint(400, 300));
        QTest::qWait(100);
        delegatesManager.savePosition(&window); // the save at quit
        QVERIFY(!log.anyStartsWith("💾"));
        QVERIFY(!Settings::contains("windowPositionX"));
        QVERIFY(!Settings::boolValue("hasStoredWindowPosition", false));

        // So the next launch centres the panel.
        log.lines();
        WindowPositionManager nextLaunch;
        nextLaunch.restorePosition(&window);
        QVERIFY(log.contains("📍 No stored window position, using default"));
    }
};

QTEST_MAIN(TestDesktopManagers)
#include "test_desktop_managers.moc"
