// The shortcut the user records: which keys can serve, how each desktop is told about them, and on X11 that a
// grabbed one toggles dictation and reaches no application.
#include "common/Settings.h"
#include "desktop/GlobalHotkeyManager.h"
#include "desktop/Hotkey.h"
#include "platform/SyntheticKeyLog.h"
#include "platform/x11/X11KeyMonitor.h"
#include "support/TerminalTarget.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestHotkey : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    // Other tests share the settings file: each case starts with nothing stored.
    void init() { Settings::remove(Hotkey::settingsKey); }
    void cleanup() { Settings::remove(Hotkey::settingsKey); }

    // A shortcut needs Ctrl, Alt or Super: Shift alone would eat a capital the user types. Each is told to
    // the portal in its own terms.
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

    // What the settings hold decides the shortcut: nothing stored is the default Ctrl+Alt+D, a stored choice
    // (Shift + R among them) stays the user's, and a value no trigger can be made of reads as the default.
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

    // A new user's Ctrl+Alt+D is grabbed: it toggles dictation and the focused application never sees it,
    // while a capital R they type is only an R. A recorded shortcut is stored even when it is the default;
    // back on Shift + R the grab goes.
    void grabbedOnX11()
    {
        QTemporaryDir folder;
        TerminalTarget target(folder.filePath("out.txt"));
        QVERIFY(target.isReady());
        SyntheticKeyLog sentKeys;
        GlobalHotkeyManager manager(std::make_unique<X11KeyMonitor>(sentKeys));
        int toggles = 0;
        manager.onHotkeyPressed = [&toggles] { ++toggles; };
        manager.setIsEnabled(true); // whatever an earlier test left in the settings
        manager.start();
        xdotool({ "key", "shift+r", "ctrl+alt+d" });
        QTRY_COMPARE(toggles, 1);

        QVERIFY(manager.recordHotkey(Qt::Key_D, Qt::ControlModifier | Qt::AltModifier));
        QCOMPARE(Settings::stringValue(Hotkey::settingsKey), QStringLiteral("Ctrl+Alt+D"));
        xdotool({ "key", "ctrl+alt+d" });
        QTRY_COMPARE(toggles, 2);
        // Held down past the repeat delay (660 ms), it toggles once.
        xdotool({ "keydown", "ctrl+alt+d", "sleep", "1", "keyup", "ctrl+alt+d" });
        QTRY_COMPARE(toggles, 3);
        xdotool({ "key", "x" });

        manager.resetHotkey();
        QCOMPARE(Settings::stringValue(Hotkey::settingsKey), QStringLiteral("Shift+R"));
        xdotool({ "key", "ctrl+alt+d", "y", "Return" });
        // Only once the grab is gone does xterm see the keys (and reads Ctrl+Alt+D as the eight-bit character
        // 0x84).
        QCOMPARE(target.finish(), QStringLiteral("Rx\u0084y\n"));
        QCOMPARE(toggles, 3);
    }
};

QTEST_MAIN(TestHotkey)

#include "test_hotkey.moc"
