#include "common/Settings.h"
#include "desktop/GlobalHotkeyManager.h"
#include "desktop/TestKeyboard.h"
#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeApplicationBundle.h"
#include "fakes/FakeWorkspace.h"
#include "output/TextInsertionService.h"
#include "platform/qt/QtPasteboard.h"
#include "platform/x11/XTestKeyboard.h"
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

QString output(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromLatin1(process.readAllStandardOutput()).section('\n', 0, 0).trimmed();
}

// An xterm with the keyboard focus, writing what it is typed into a file.
class TypingTarget
{
public:
    explicit TypingTarget(const QString &path) : m_path(path)
    {
        m_xterm.start("xterm", {"-e", "sh", "-c", "stty -echo; cat > \"$0\"", path});
        m_xterm.waitForStarted();
        const QString window
            = output("xdotool", {"search", "--sync", "--onlyvisible", "--pid", QString::number(m_xterm.processId())});
        m_focused = !window.isEmpty() && run("xdotool", {"windowfocus", "--sync", window});
    }
    ~TypingTarget()
    {
        m_xterm.kill();
        m_xterm.waitForFinished();
    }
    bool isFocused() const { return m_focused; }

    // Ends the input; everything the terminal received.
    QString finish()
    {
        run("xdotool", {"key", "Return", "ctrl+d"});
        m_xterm.waitForFinished(10000);
        QFile file(m_path);
        file.open(QIODevice::ReadOnly);
        return QString::fromUtf8(file.readAll()).trimmed();
    }

private:
    QString m_path;
    QProcess m_xterm;
    bool m_focused = false;
};

} // namespace

class TestHotkeyX11 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings(Settings::filePath(), QSettings::IniFormat).clear();
        QVERIFY2(m_keyboard.isOpen(), "no X display");
        // A quick repeat keeps the test short; the monitor must follow it.
        QVERIFY(run("xset", {"r", "rate", "250", "30"}));
        m_typing = std::make_unique<TextInsertionService>(m_typingKeyboard, m_typingKeyboard, m_pasteboard,
                                                          m_alerts, m_workspace, m_bundle);
    }

    void init()
    {
        m_presses = 0;
        m_manager = std::make_unique<GlobalHotkeyManager>(std::make_unique<X11KeyMonitor>(SyntheticKeyLog::shared()));
        m_manager->onHotkeyPressed = [this] { ++m_presses; };
    }

    void userShiftRTogglesAndStillReachesTheFocusedApplication()
    {
        TypingTarget xterm(m_dir.filePath("hotkey.txt"));
        QVERIFY(xterm.isFocused());
        QVERIFY(run("xdotool", {"key", "shift+r"}));
        QTRY_COMPARE(m_presses, 1);
        m_keyboard.send(TestKeyboard::rightShift, true);
        m_keyboard.tap(TestKeyboard::r);
        m_keyboard.send(TestKeyboard::rightShift, false);
        QTRY_COMPARE(m_presses, 2);

        // Caps Lock on, Control or Alt held, no Shift: not the hotkey.
        QVERIFY(run("xdotool", {"key", "Caps_Lock", "shift+r", "Caps_Lock", "ctrl+shift+r", "alt+shift+r", "r"}));
        // Those keys came through XTEST, as ours do: the monitor has read them
        // by the time dictation types, a moment later.
        QTest::qWait(100);
        // A dictated sentence typed by the real typing service: its capital
        // Rs are Shift + R too.
        QCoro::waitFor(m_typing->insertText(QStringLiteral("Richard Roe")));
        // The user's own press after all that counts, once.
        QVERIFY(run("xdotool", {"key", "shift+r"}));
        QTRY_COMPARE(m_presses, 3);
        QTest::qWait(100);
        QCOMPARE(m_presses, 3);
        const QString typed = xterm.finish(); // with what Ctrl and Alt made of the R between
        QVERIFY2(typed.startsWith("RRr") && typed.endsWith("rRichard RoeR"), qPrintable(typed));

        // Switched off: inert, and remembered.
        m_manager->setIsEnabled(false);
        QCOMPARE(QSettings(Settings::filePath(), QSettings::IniFormat).value("globalHotkeyEnabled").toString(),
                 QString("false"));
        QVERIFY(run("xdotool", {"key", "shift+r"}));
        QTest::qWait(150);
        QCOMPARE(m_presses, 3);
        m_manager->setIsEnabled(true);
    }

    void holdingShiftRRepeats()
    {
        TypingTarget xterm(m_dir.filePath("repeat.txt"));
        QVERIFY(xterm.isFocused());
        m_keyboard.send(TestKeyboard::leftShift, true);
        m_keyboard.send(TestKeyboard::r, true);
        QTest::qWait(800);
        // Shift let go while R is still held: the repeats are lowercase now.
        m_keyboard.send(TestKeyboard::leftShift, false);
        QTest::qWait(50);
        const int whileShifted = m_presses;
        QTest::qWait(300);
        m_keyboard.send(TestKeyboard::r, false);
        QTest::qWait(100);
        QCOMPARE(m_presses, whileShifted);

        // Each capital R the terminal got from the repeat toggled once.
        const QString typed = xterm.finish();
        QVERIFY2(whileShifted >= 5 && qAbs(int(typed.count('R')) - whileShifted) <= 2,
                 qPrintable(QStringLiteral("%1 toggles for %2").arg(whileShifted).arg(typed)));
        QVERIFY(typed.endsWith('r'));
    }

    // Last: it leaves a second keyboard behind.
    void eachKeyboardHasItsOwnModifiers()
    {
        QVERIFY(run("xinput", {"create-master", "second"}));
        const int second = output("xinput", {"list", "--id-only", "second XTEST keyboard"}).toInt();
        QVERIFY(second > 0);
        QTest::qWait(100); // typing on a new keyboard starts a moment after it appears

        // Shift held on one keyboard does not make an R on the other capital.
        m_keyboard.send(TestKeyboard::leftShift, true);
        QVERIFY(m_keyboard.sendOnDevice(second, TestKeyboard::r, true));
        QVERIFY(m_keyboard.sendOnDevice(second, TestKeyboard::r, false));
        m_keyboard.send(TestKeyboard::leftShift, false);
        for (const auto &[code, press] : std::initializer_list<std::pair<unsigned, bool>> {
                 {TestKeyboard::leftShift, true}, {TestKeyboard::r, true}, {TestKeyboard::r, false}, {TestKeyboard::leftShift, false}})
            QVERIFY(m_keyboard.sendOnDevice(second, code, press));
        QTRY_COMPARE(m_presses, 1);
        QTest::qWait(100);
        QCOMPARE(m_presses, 1);
    }

private:
    TestKeyboard m_keyboard;
    XTestKeyboard m_typingKeyboard;
    QtPasteboard m_pasteboard;
    FakeAlertPresenter m_alerts;
    FakeWorkspace m_workspace;
    FakeApplicationBundle m_bundle;
    std::unique_ptr<TextInsertionService> m_typing;
    QTemporaryDir m_dir;
    std::unique_ptr<GlobalHotkeyManager> m_manager;
    int m_presses = 0;
};

QTEST_MAIN(TestHotkeyX11)
#include "test_hotkey_x11.moc"
