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

    void recordedKeys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("sequence");
        QTest::addColumn<QString>("trigger");
        QTest::addRow("ctrl alt letter")
            << int(Qt::Key_D) << int(Qt::ControlModifier | Qt::AltModifier) << true << "Ctrl+Alt+D"
            << "CTRL+ALT+d";
        QTest::addRow("super function key") << int(Qt::Key_F9) << int(Qt::MetaModifier) << true << "Meta+F9"
                                            << "LOGO+F9";
        QTest::addRow("ctrl shift space")
            << int(Qt::Key_Space) << int(Qt::ControlModifier | Qt::ShiftModifier) << true
            << "Ctrl+Shift+Space"
            << "CTRL+SHIFT+space";
        QTest::addRow("alt digit") << int(Qt::Key_5) << int(Qt::AltModifier) << true << "Alt+5"
                                   << "ALT+5";
        // Shift + R is today's hotkey, stored as nothing at all.
        QTest::addRow("shift r") << int(Qt::Key_R) << int(Qt::ShiftModifier) << true << ""
                                 << "SHIFT+r";
        // Keys that type text would be stolen from every application.
        QTest::addRow("plain letter") << int(Qt::Key_R) << 0 << false << ""
                                      << "";
        QTest::addRow("shift letter") << int(Qt::Key_T) << int(Qt::ShiftModifier) << false << ""
                                      << "";
        QTest::addRow("function key alone") << int(Qt::Key_F9) << 0 << false << ""
                                            << "";
        QTest::addRow("modifier alone") << int(Qt::Key_Control) << int(Qt::ControlModifier) << false << ""
                                        << "";
        QTest::addRow("unknown key") << int(Qt::Key_unknown) << int(Qt::ControlModifier) << false << ""
                                     << "";
    }
    void recordedKeys()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, accepted);
        QFETCH(QString, sequence);
        QFETCH(QString, trigger);
        const std::optional<Hotkey> hotkey = Hotkey::fromKey(key, modifiers);
        QCOMPARE(hotkey.has_value(), accepted);
        if (!hotkey)
            return;
        QCOMPARE(hotkey->sequence(), sequence);
        QCOMPARE(hotkey->portalTrigger(), trigger);
        // What is stored reads back as the same shortcut.
        QCOMPARE(Hotkey::fromSequence(hotkey->sequence()), hotkey);
    }

    void storedValue_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        QTest::addRow("absent") << QString() << "Shift + R";
        QTest::addRow("a shortcut") << "Ctrl+Alt+D"
                                    << "Ctrl+Alt+D";
        QTest::addRow("garbage") << "Ctrl+Nonsense+"
                                 << "Shift + R";
        QTest::addRow("a chord of two") << "Ctrl+K, Ctrl+D"
                                        << "Shift + R";
        QTest::addRow("no modifier") << "D"
                                     << "Shift + R";
    }
    void storedValue()
    {
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        if (!stored.isNull())
            Settings::setString(Hotkey::settingsKey, stored);
        QCOMPARE(Hotkey::stored().displayText(), shown);
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
        QCOMPARE(manager.hotkeyText(), QStringLiteral("Ctrl+Alt+D"));
        QCOMPARE(Settings::stringValue(Hotkey::settingsKey), QStringLiteral("Ctrl+Alt+D"));

        xdotool({ "key", "ctrl+alt+d" });
        QTRY_COMPARE(toggles, 1);
        // Held down, it toggles once.
        xdotool({ "keydown", "ctrl+alt+d", "sleep", "0.6", "keyup", "ctrl+alt+d" });
        QTRY_COMPARE(toggles, 2);
        xdotool({ "key", "x" });

        manager.resetHotkey();
        QVERIFY(manager.isShiftR());
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
