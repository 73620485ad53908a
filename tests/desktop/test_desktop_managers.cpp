// The desktop's side of the program: login item, panel place, and which shortcuts the user can record and how
// each desktop is told of them.
#include "common/Settings.h"
#include "desktop/Hotkey.h"
#include "desktop/LaunchAtLoginManager.h"
#include "desktop/WindowPositionManager.h"
#include "fakes/FakeAutostartStore.h"
#include "fakes/LogCapture.h"
#include "platform/xdg/XdgAutostartStore.h"

#include <QMoveEvent>
#include <QSettings>
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
    // Other tests share the settings file: each case starts with nothing stored, and leaves nothing.
    void init() { rawSettings().clear(); }
    void cleanup() { rawSettings().clear(); }

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
        // Hidden alone hides it as well: most desktops read nothing else.
        writeFile(entry.fileName(), "[Desktop Entry]\nExec=/bin/true\nHidden=true\n");
        QCOMPARE(store.status(), AutostartStore::Status::notRegistered);

        // A file where the folder belongs: nobody, root included, can write there.
        writeFile(home.filePath("blocked/autostart"), "");
        XdgAutostartStore blocked(home.filePath("blocked"), {}, program);
        QVERIFY(blocked.registerApp().value_or(QString()).startsWith("Cannot create"));
    }

    // A start never switches the login item on, points a kept one at this program, drops a build's.
    void launchAtLoginAtStart_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("registered");
        QTest::addRow("first start, installed") << "/usr/bin/tellwind" << false;
        QTest::addRow("kept, installed") << "/opt/tellwind/bin/tellwind" << true;
        QTest::addRow("kept, in ~/.local") << QDir::homePath() + "/.local/bin/tellwind" << true;
        QTest::addRow("first start, build folder") << "/home/u/tellwind/build/tellwind" << false;
        QTest::addRow("left by a build") << "/home/u/tellwind/build/tellwind" << true;
        QTest::addRow("looks like /usr but is not") << "/usr2/bin/tellwind" << false;
    }
    void launchAtLoginAtStart()
    {
        QFETCH(QString, program);
        QFETCH(bool, registered);
        const bool installed = !program.contains("/build/") && !program.startsWith("/usr2");
        auto *store = new FakeAutostartStore;
        if (registered)
            store->currentStatus = AutostartStore::Status::enabled;
        LaunchAtLoginManager manager(std::unique_ptr<AutostartStore>(store), program);
        QCOMPARE(manager.isEnabled(), registered && installed);
        const QStringList calls
            = registered ? QStringList { installed ? "register" : "unregister" } : QStringList();
        QCOMPARE(store->calls, calls);
        QCOMPARE(manager.available(), installed);
        QCOMPARE(manager.unavailableReason().isEmpty(), installed);
        manager.setIsEnabled(true);
        QCOMPARE(manager.isEnabled(), installed);
        QCOMPARE(store->calls.count("register"), calls.count("register") + int(installed && !registered));
    }

    void damagedStoredPositionIsForgotten_data()
    {
        QTest::addColumn<QVariant>("x");
        QTest::addColumn<QVariant>("y");
        QTest::addRow("not a number") << QVariant("nan") << QVariant("300.0");
        QTest::addRow("on a display that is gone") << QVariant("2500.0") << QVariant("600.0");
        QTest::addRow("half a pair") << QVariant("300.0") << QVariant();
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

        // A drag, one move event per pointer motion, writes the settings file once, when it stops.
        positions.startObserving(&window);
        LogCapture log;
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

    // A shortcut needs Ctrl, Alt or Super (Shift alone would eat capitals), told to the portal in its terms.
    void whichShortcutsCanBeRecorded_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("portal"); // empty: refused
        const auto row = [](const char *name, int key, int modifiers, const char *portal) {
            QTest::addRow("%s", name) << key << modifiers << QString(portal);
        };
        row("Ctrl+Alt+D", Qt::Key_D, Qt::ControlModifier | Qt::AltModifier, "CTRL+ALT+d");
        row("Super+F5", Qt::Key_F5, Qt::MetaModifier, "LOGO+F5");
        row("Ctrl+Shift+1", Qt::Key_1, Qt::ControlModifier | Qt::ShiftModifier, "CTRL+SHIFT+1");
        row("Shift+D", Qt::Key_D, Qt::ShiftModifier, "");
        row("D alone", Qt::Key_D, 0, "");
        row("a modifier as the key", Qt::Key_Shift, Qt::ControlModifier, "");
        row("Shift+R, the old default", Qt::Key_R, Qt::ShiftModifier, "SHIFT+r");
    }
    void whichShortcutsCanBeRecorded()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, portal);
        const std::optional<Hotkey> hotkey = Hotkey::fromKey(key, modifiers);
        QCOMPARE(hotkey ? hotkey->portalTrigger() : QString(), portal);
    }

    // Nothing stored is Ctrl+Alt+D, a stored choice (Shift + R too) stays, a damaged value reads as the
    // default.
    void storedShortcut_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("portal");
        const auto row = [](const char *name, const QVariant &stored, const char *shown, const char *portal) {
            QTest::addRow("%s", name) << stored << QString(shown) << QString(portal);
        };
        row("nothing stored", QVariant(), "Ctrl+Alt+D", "CTRL+ALT+d");
        row("Shift + R chosen", "Shift+R", "Shift + R", "SHIFT+r");
        row("own chord", "Ctrl+Shift+F9", "Ctrl+Shift+F9", "CTRL+SHIFT+F9");
        row("super", "Meta+Space", "Meta+Space", "LOGO+space");
        for (const char *damaged : { "Ctrl+Nonsense+", "Ctrl+K, Ctrl+D", "D", "Shift+X", "" })
            row(qPrintable(QString("damaged '%1'").arg(damaged)), damaged, "Ctrl+Alt+D", "CTRL+ALT+d");
    }
    void storedShortcut()
    {
        QFETCH(QVariant, stored);
        QFETCH(QString, shown);
        QFETCH(QString, portal);
        if (stored.isValid())
            Settings::setString(Hotkey::settingsKey, stored.toString());
        const Hotkey hotkey = Hotkey::stored();
        QCOMPARE(hotkey.displayText(), shown);
        QCOMPARE(hotkey.portalTrigger(), portal);
        QCOMPARE(hotkey.isShiftR(), shown == "Shift + R");
        QCOMPARE(hotkey.isDefault(), shown == "Ctrl+Alt+D");
    }
};

QTEST_MAIN(TestDesktopManagers)
#include "test_desktop_managers.moc"
