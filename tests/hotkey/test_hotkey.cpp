// The shortcut the user records: which keys can serve, how each desktop is
// told about them, and on X11 that a grabbed one toggles dictation and
// reaches no application.
#include "common/Settings.h"
#include "desktop/GlobalHotkeyManager.h"
#include "desktop/Hotkey.h"
#include "fakes/FakeKeyMonitor.h"
#include "support/TerminalTarget.h"

#include <QApplication>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestHotkey : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void cleanup() { Settings::remove(Hotkey::settingsKey); }

    // A shortcut needs Ctrl, Alt or Super: Shift alone would eat a capital
    // the user types. Each is told to the portal in its own terms.
    void whichShortcutsCanBeRecorded_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("portal"); // empty: refused
        QTest::addRow("Ctrl+Alt+D") << int(Qt::Key_D) << int(Qt::ControlModifier | Qt::AltModifier)
                                    << "CTRL+ALT+d";
        QTest::addRow("Super+F5") << int(Qt::Key_F5) << int(Qt::MetaModifier) << "LOGO+F5";
        QTest::addRow("Ctrl+Shift+1")
            << int(Qt::Key_1) << int(Qt::ControlModifier | Qt::ShiftModifier) << "CTRL+SHIFT+1";
        QTest::addRow("Shift+D") << int(Qt::Key_D) << int(Qt::ShiftModifier) << "";
        QTest::addRow("D alone") << int(Qt::Key_D) << 0 << "";
        QTest::addRow("a modifier as the key") << int(Qt::Key_Shift) << int(Qt::ControlModifier) << "";
        QTest::addRow("Shift+R, the default") << int(Qt::Key_R) << int(Qt::ShiftModifier) << "SHIFT+r";
    }
    void whichShortcutsCanBeRecorded()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, portal);
        const std::optional<Hotkey> hotkey = Hotkey::fromKey(key, modifiers);
        QCOMPARE(hotkey ? hotkey->portalTrigger() : QString(), portal);
    }

    // A stored value no trigger can be made of falls back to Shift + R.
    void damagedStoredValue()
    {
        for (const QString stored : { "Ctrl+Nonsense+", "Ctrl+K, Ctrl+D", "D" }) {
            Settings::setString(Hotkey::settingsKey, stored);
            QCOMPARE(Hotkey::stored().displayText(), QStringLiteral("Shift + R"));
        }
    }

    // On X11 the recorded shortcut is grabbed: it toggles dictation, and the
    // focused application never sees it. Back on Shift + R the grab goes.
    void grabbedOnX11()
    {
        QTemporaryDir folder;
        TerminalTarget target(folder.filePath("out.txt"));
        QVERIFY(target.isReady());
        GlobalHotkeyManager manager(std::make_unique<FakeKeyMonitor>());
        int toggles = 0;
        manager.onHotkeyPressed = [&toggles] { ++toggles; };
        manager.setIsEnabled(true); // whatever an earlier test left in the settings
        manager.start();
        QVERIFY(manager.recordHotkey(Qt::Key_D, Qt::ControlModifier | Qt::AltModifier));
        QCOMPARE(Settings::stringValue(Hotkey::settingsKey), QStringLiteral("Ctrl+Alt+D"));

        xdotool({ "key", "ctrl+alt+d" });
        QTRY_COMPARE(toggles, 1);
        // Held down, it toggles once.
        xdotool({ "keydown", "ctrl+alt+d", "sleep", "0.6", "keyup", "ctrl+alt+d" });
        QTRY_COMPARE(toggles, 2);
        xdotool({ "key", "x" });

        manager.resetHotkey();
        QVERIFY(!Settings::contains(Hotkey::settingsKey));
        xdotool({ "key", "ctrl+alt+d", "y", "Return" });
        // Only once the grab is gone does xterm see the keys (and reads
        // Ctrl+Alt+D as the eight-bit character 0x84).
        QCOMPARE(target.finish(), QStringLiteral("x\u0084y\n"));
        QCOMPARE(toggles, 2);
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestHotkey test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_hotkey.moc"
