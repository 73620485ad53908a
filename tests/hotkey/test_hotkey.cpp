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

    // A shortcut is accepted exactly when the desktop can be given a trigger for it.
    void recordedKeys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("sequence");
        QTest::addColumn<QString>("trigger");
        const auto row
            = [](const char *name, int key, int modifiers, const QString &sequence, const QString &trigger) {
                  QTest::addRow("%s", name) << key << modifiers << sequence << trigger;
              };
        row("ctrl alt letter", Qt::Key_D, Qt::ControlModifier | Qt::AltModifier, "Ctrl+Alt+D", "CTRL+ALT+d");
        row("super function key", Qt::Key_F9, Qt::MetaModifier, "Meta+F9", "LOGO+F9");
        // Shift + R is today's hotkey, stored as nothing at all.
        row("shift r", Qt::Key_R, Qt::ShiftModifier, "", "SHIFT+r");
        // Keys that type text would be stolen from every application.
        row("shift letter", Qt::Key_T, Qt::ShiftModifier, "", "");
        row("modifier alone", Qt::Key_Control, Qt::ControlModifier, "", "");
    }
    void recordedKeys()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, sequence);
        QFETCH(QString, trigger);
        const std::optional<Hotkey> hotkey = Hotkey::fromKey(key, modifiers);
        QCOMPARE(hotkey.has_value(), !trigger.isEmpty());
        if (!hotkey)
            return;
        QCOMPARE(hotkey->sequence(), sequence);
        QCOMPARE(hotkey->portalTrigger(), trigger);
        // What is stored reads back as the same shortcut.
        QCOMPARE(Hotkey::fromSequence(hotkey->sequence()), hotkey);
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
