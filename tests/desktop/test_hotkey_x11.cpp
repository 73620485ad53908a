#include "common/Settings.h"
#include "desktop/GlobalHotkeyManager.h"
#include "desktop/LogCapture.h"
#include "desktop/TestKeyboard.h"
#include "platform/SyntheticKeyLog.h"
#include "platform/x11/X11KeyMonitor.h"

#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool run(const QString &program, const QStringList &arguments)
{
    return QProcess::execute(program, arguments) == 0;
}

// An xterm that writes what it is typed into a file, with keyboard focus.
class TypingTarget
{
public:
    explicit TypingTarget(const QString &outputPath) : m_outputPath(outputPath)
    {
        m_xterm.start("xterm", {"-e", "sh", "-c", "stty -echo; cat > \"$0\"", outputPath});
    }

    ~TypingTarget()
    {
        if (m_xterm.state() != QProcess::NotRunning) {
            m_xterm.kill();
            m_xterm.waitForFinished();
        }
    }

    bool focus()
    {
        if (!m_xterm.waitForStarted())
            return false;
        QProcess search;
        search.start("xdotool", {"search", "--sync", "--onlyvisible", "--pid",
                                 QString::number(m_xterm.processId())});
        if (!search.waitForFinished(10000))
            return false;
        const QString window = QString::fromLatin1(search.readAllStandardOutput()).split('\n').first().trimmed();
        return !window.isEmpty() && run("xdotool", {"windowfocus", "--sync", window});
    }

    // Ends the input and answers everything the terminal received.
    QString finish()
    {
        run("xdotool", {"key", "Return", "ctrl+d"});
        if (!m_xterm.waitForFinished(10000))
            return QStringLiteral("<xterm did not end>");
        QFile file(m_outputPath);
        file.open(QIODevice::ReadOnly);
        return QString::fromUtf8(file.readAll()).trimmed();
    }

private:
    QString m_outputPath;
    QProcess m_xterm;
};

} // namespace

class TestHotkeyX11 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY2(m_keyboard.isOpen(), "no X display");
        // A quick repeat keeps the test short; the monitor must follow it.
        QVERIFY(run("xset", {"r", "rate", "250", "30"}));
    }

    void init() { QSettings(Settings::filePath(), QSettings::IniFormat).clear(); }

    void shiftRTogglesAndStillReachesTheFocusedApplication()
    {
        GlobalHotkeyManager manager {std::make_unique<X11KeyMonitor>(SyntheticKeyLog::shared())};
        int presses = 0;
        manager.onHotkeyPressed = [&] { ++presses; };
        TypingTarget xterm(m_dir.filePath("hotkey.txt"));
        QVERIFY(xterm.focus());

        QVERIFY(run("xdotool", {"key", "shift+r"}));
        QTRY_COMPARE(presses, 1);
        // Right Shift too.
        m_keyboard.send(TestKeyboard::rightShift, true);
        m_keyboard.tap(TestKeyboard::r);
        m_keyboard.send(TestKeyboard::rightShift, false);
        QTRY_COMPARE(presses, 2);

        // Caps Lock on, or Control held: not the hotkey. The press after them
        // proves they were read (events arrive in order) and let through.
        QVERIFY(run("xdotool", {"key", "Caps_Lock", "shift+r", "Caps_Lock"}));
        QVERIFY(run("xdotool", {"key", "ctrl+shift+r", "alt+shift+r", "r"}));
        QVERIFY(run("xdotool", {"key", "shift+r"}));
        QTRY_COMPARE(presses, 3);
        QTest::qWait(100);
        QCOMPARE(presses, 3);

        const QString typed = xterm.finish();
        QVERIFY2(typed.startsWith("RRr"), qPrintable(typed));
        QVERIFY2(typed.endsWith("rR"), qPrintable(typed));
    }

    void synthesizedCapitalsDoNotToggle()
    {
        GlobalHotkeyManager manager {std::make_unique<X11KeyMonitor>(SyntheticKeyLog::shared())};
        int presses = 0;
        manager.onHotkeyPressed = [&] { ++presses; };
        TypingTarget xterm(m_dir.filePath("dictated.txt"));
        QVERIFY(xterm.focus());

        // What the typing service does for a dictated sentence: note each
        // key, then send it.
        for (const QChar character : QStringLiteral("Richard Roe")) {
            const auto [keycode, shifted] = m_keyboard.keyFor(character);
            QVERIFY(keycode != 0);
            auto send = [this](unsigned code, bool press) {
                SyntheticKeyLog::shared().recordSent(code, press);
                m_keyboard.send(code, press);
            };
            if (shifted)
                send(TestKeyboard::leftShift, true);
            send(keycode, true);
            send(keycode, false);
            if (shifted)
                send(TestKeyboard::leftShift, false);
        }
        // The user's own Shift + R right after still counts, once.
        QVERIFY(run("xdotool", {"key", "shift+r"}));
        QTRY_COMPARE(presses, 1);
        QTest::qWait(100);
        QCOMPARE(presses, 1);
        QCOMPARE(xterm.finish(), QString("Richard RoeR"));
    }

    void holdingShiftRRepeats()
    {
        GlobalHotkeyManager manager {std::make_unique<X11KeyMonitor>(SyntheticKeyLog::shared())};
        int presses = 0;
        manager.onHotkeyPressed = [&] { ++presses; };
        TypingTarget xterm(m_dir.filePath("repeat.txt"));
        QVERIFY(xterm.focus());

        m_keyboard.send(TestKeyboard::leftShift, true);
        m_keyboard.send(TestKeyboard::r, true);
        QTest::qWait(800);
        // Shift let go while R is still held: the repeats are lowercase now.
        m_keyboard.send(TestKeyboard::leftShift, false);
        QTest::qWait(50);
        const int whileShifted = presses;
        QTest::qWait(300);
        QCOMPARE(presses, whileShifted);
        m_keyboard.send(TestKeyboard::r, false);
        QTest::qWait(200);
        QCOMPARE(presses, whileShifted);

        // Each capital R the terminal got by the repeat toggled once.
        const QString typed = xterm.finish();
        const int capitals = int(typed.count('R'));
        QVERIFY2(whileShifted >= 5, qPrintable(QString::number(whileShifted)));
        QVERIFY2(qAbs(capitals - whileShifted) <= 2,
                 qPrintable(QStringLiteral("%1 toggles for %2").arg(whileShifted).arg(typed)));
        QVERIFY(typed.contains('r'));
    }

    void switchedOffIsInert()
    {
        GlobalHotkeyManager manager {std::make_unique<X11KeyMonitor>(SyntheticKeyLog::shared())};
        int presses = 0;
        manager.onHotkeyPressed = [&] { ++presses; };
        manager.setIsEnabled(false);
        QCOMPARE(QSettings(Settings::filePath(), QSettings::IniFormat).value("globalHotkeyEnabled").toString(),
                 QString("false"));
        QVERIFY(run("xdotool", {"key", "shift+r"}));
        QTest::qWait(150);
        QCOMPARE(presses, 0);

        manager.setIsEnabled(true);
        QVERIFY(run("xdotool", {"key", "shift+r"}));
        QTRY_COMPARE(presses, 1);
    }

    // Last: it leaves a second keyboard behind until the test ends.
    void eachKeyboardHasItsOwnModifiers()
    {
        GlobalHotkeyManager manager {std::make_unique<X11KeyMonitor>(SyntheticKeyLog::shared())};
        int presses = 0;
        manager.onHotkeyPressed = [&] { ++presses; };
        // A second keyboard, plugged in while the monitor already runs.
        QVERIFY(run("xinput", {"create-master", "second"}));
        QProcess list;
        list.start("xinput", {"list", "--id-only", "second XTEST keyboard"});
        QVERIFY(list.waitForFinished());
        const int second = list.readAllStandardOutput().trimmed().toInt();
        QVERIFY(second > 0);
        QTest::qWait(100); // a user types on a new keyboard some time after plugging it in

        // Shift held on one keyboard does not make an R on the other capital.
        m_keyboard.send(TestKeyboard::leftShift, true);
        QVERIFY(m_keyboard.sendOnDevice(second, TestKeyboard::r, true));
        QVERIFY(m_keyboard.sendOnDevice(second, TestKeyboard::r, false));
        m_keyboard.send(TestKeyboard::leftShift, false);
        // Shift + R on the second keyboard alone is the hotkey.
        QVERIFY(m_keyboard.sendOnDevice(second, TestKeyboard::leftShift, true));
        QVERIFY(m_keyboard.sendOnDevice(second, TestKeyboard::r, true));
        QVERIFY(m_keyboard.sendOnDevice(second, TestKeyboard::r, false));
        QVERIFY(m_keyboard.sendOnDevice(second, TestKeyboard::leftShift, false));
        QTRY_COMPARE(presses, 1);
        QTest::qWait(100);
        QCOMPARE(presses, 1);
    }

private:
    TestKeyboard m_keyboard;
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestHotkeyX11)
#include "test_hotkey_x11.moc"
