// Typing and shortcuts through the desktop portal, against a scripted portal
// service on the test's session bus.
#include "common/Settings.h"
#include "desktop/GlobalHotkeyManager.h"
#include "desktop/Hotkey.h"
#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeApplicationBundle.h"
#include "fakes/FakeKeyMonitor.h"
#include "fakes/FakePasteboard.h"
#include "fakes/FakeWorkspace.h"
#include "output/TextInsertionService.h"
#include "platform/KeyboardBackends.h"
#include "platform/SyntheticKeyLog.h"
#include "platform/portal/GlobalShortcutsPortal.h"
#include "platform/portal/RemoteDesktopKeyboard.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <qcoro/qcorotask.h>

#include <xkbcommon/xkbcommon.h>

namespace
{

using Keys = QStringList; // "keysym state", 1 pressed and 0 released

// The scripted portal, for as long as the object lives.
class ScriptedPortal
{
public:
    ScriptedPortal()
    {
        m_process.start(qEnvironmentVariable("TELLWIND_SOURCE_DIR") + "/tests/wayland/scripted_portal.py");
        m_ready = m_process.waitForStarted()
            && QTest::qWaitFor(
                [this] { return m_process.canReadLine() || m_process.waitForReadyRead(50); }, 10000)
            && m_process.readLine().trimmed() == "ready";
    }
    ~ScriptedPortal()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
    }
    bool isReady() const { return m_ready; }

    QDBusMessage call(const QString &method, const QVariantList &arguments = {})
    {
        QDBusMessage message = QDBusMessage::createMethodCall(
            "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", "org.tellwind.Test", method);
        message.setArguments(arguments);
        return QDBusConnection::sessionBus().call(message);
    }
    void setMode(const QString &mode) { call("SetMode", { mode }); }
    QStringList calls() { return call("Calls").arguments().value(0).toStringList(); }
    Keys keys() { return call("Keysyms").arguments().value(0).toStringList(); }

private:
    QProcess m_process;
    bool m_ready = false;
};

Keys strokes(const QList<int> &keysyms)
{
    Keys keys;
    for (int keysym : keysyms)
        keys << QString::number(keysym) + " 1" << QString::number(keysym) + " 0";
    return keys;
}

// The typing service wired to the portal keyboard and fakes for the rest.
struct Rig {
    RemoteDesktopKeyboard keyboard;
    FakePasteboard pasteboard;
    FakeAlertPresenter alerts;
    FakeWorkspace workspace;
    FakeApplicationBundle bundle;
    TextInsertionService service { keyboard, keyboard, pasteboard, alerts, workspace, bundle };
    QStringList reports;

    Rig()
    {
        keyboard.report = [this](const QString &message) { reports << message; };
    }
    // What a recording start does, then the transcripts of that dictation.
    bool dictate(const QStringList &transcripts)
    {
        service.setLastInsertedText({});
        if (!keyboard.isTrusted())
            return false;
        for (const QString &transcript : transcripts)
            QCoro::waitFor(service.insertText(transcript));
        return QTest::qWaitFor([this] { return keyboard.pendingCalls() == 0; }, 5000);
    }
};

} // namespace

class TestPortal : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Settings::remove(RemoteDesktopKeyboard::restoreTokenKey); }
    void cleanup() { Settings::remove(RemoteDesktopKeyboard::restoreTokenKey); }

    // What has no single keysym goes through the clipboard, which gets its old contents back.
    void keysymsInOrder_data()
    {
        QTest::addColumn<QStringList>("transcripts");
        QTest::addColumn<Keys>("keys");
        QTest::addColumn<bool>("pasted");
        const QString control = QString::number(XKB_KEY_Control_L);
        const Keys paste { control + " 1", "118 1", "118 0", control + " 0" };
        QTest::addRow("latin, euro, han, emoji, return")
            << QStringList { "Hé€中😀\n1" }
            << strokes({ XKB_KEY_H, XKB_KEY_eacute, XKB_KEY_EuroSign, 0x1004e2d, 0x101f600, XKB_KEY_Return,
                   XKB_KEY_1 })
            << false;
        QTest::addRow("no keysym") << QStringList { "a\u0071\u0301" } << strokes({ 'a' }) + paste << true;
    }
    void keysymsInOrder()
    {
        QFETCH(QStringList, transcripts);
        QFETCH(Keys, keys);
        QFETCH(bool, pasted);
        QVERIFY(!RemoteDesktopKeyboard::isOffered());
        ScriptedPortal portal;
        QVERIFY(portal.isReady() && RemoteDesktopKeyboard::isOffered());
        Rig rig;
        QVERIFY(rig.dictate(transcripts));
        QCOMPARE(portal.keys(), keys);
        QVERIFY(rig.keyboard.failedCalls() == 0 && rig.reports.isEmpty());
        QCOMPARE(rig.pasteboard.log.isEmpty(), !pasted);
        if (pasted)
            QVERIFY(rig.pasteboard.log.first() == "read" && rig.pasteboard.log.last() == "restore");
    }

    // One session for the whole run; the permission is remembered and the
    // next run hands the token back.
    void restoreTokenReused()
    {
        ScriptedPortal portal;
        QVERIFY(portal.isReady());
        {
            Rig rig;
            QVERIFY(rig.dictate({ "one" }));
            QVERIFY(rig.dictate({ "two" }));
            QCOMPARE(Settings::stringValue(RemoteDesktopKeyboard::restoreTokenKey), QString("token-1"));
        }
        Rig next;
        QVERIFY(next.dictate({ "three" }));
        QCOMPARE(portal.calls(),
            (QStringList { "CreateSession", "SelectDevices types=1 persist_mode=2 restore_token=", "Start",
                "Close", "CreateSession", "SelectDevices types=1 persist_mode=2 restore_token=token-1",
                "Start" }));
        QCOMPARE(Settings::stringValue(RemoteDesktopKeyboard::restoreTokenKey), QString("token-2"));
    }

    // Refused, or ended by the desktop mid-dictation: the user hears why once,
    // and the next dictation opens a new session (not every update of this one).
    void sessionLostThenReopened_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<Keys>("typed");
        QTest::addRow("refused") << "refuse" << Keys();
        QTest::addRow("closed by the desktop") << "close-after:4" << strokes({ 'a', 'b' });
    }
    void sessionLostThenReopened()
    {
        QFETCH(QString, mode);
        QFETCH(Keys, typed);
        ScriptedPortal portal;
        QVERIFY(portal.isReady());
        portal.setMode(mode);
        Rig rig;
        QVERIFY(rig.dictate({ "ab", "abcdef" }));
        QTRY_COMPARE(rig.reports.size(), 1);
        QVERIFY(!rig.keyboard.hasSession());
        QCOMPARE(portal.keys(), typed);
        QCOMPARE(portal.calls().count("Start"), 1);

        portal.setMode("accept");
        rig.keyboard.dictationGap = std::chrono::milliseconds(0);
        QVERIFY(rig.dictate({ "xy" }));
        QCOMPARE(portal.keys().mid(typed.size()), strokes({ 'x', 'y' }));
        QCOMPARE(portal.calls().count("Start"), 2);
    }

    // On Wayland the desktop's shortcut toggles dictation. It counts as bound
    // only when the desktop lists it back (KDE binds only what the session was
    // opened with), and Settings then shows the desktop's trigger; a desktop
    // whose backend never opens a session gets the command hint in bounded time.
    void shortcutBoundByTheDesktop_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<GlobalHotkeyManager::DesktopBinding>("binding");
        QTest::addColumn<QString>("note");
        QTest::addRow("bound") << "accept"
                               << "Meta+F9" << GlobalHotkeyManager::DesktopBinding::bound
                               << "desktop's keyboard settings";
        QTest::addRow("never answers")
            << "silent-shortcuts"
            << "Ctrl+Alt+D" << GlobalHotkeyManager::DesktopBinding::unavailable << "\"tellwind --toggle\"";
    }
    void shortcutBoundByTheDesktop()
    {
        QFETCH(QString, mode);
        QFETCH(QString, shown);
        QFETCH(GlobalHotkeyManager::DesktopBinding, binding);
        QFETCH(QString, note);
        ScriptedPortal portal;
        QVERIFY(portal.isReady());
        portal.setMode(mode);
        GlobalShortcutsPortal::sessionWait = std::chrono::milliseconds(500);
        qputenv("WAYLAND_DISPLAY", "wayland-test");
        Settings::remove(Hotkey::settingsKey);
        GlobalHotkeyManager manager(std::make_unique<FakeKeyMonitor>());
        int toggles = 0;
        manager.onHotkeyPressed = [&toggles] { ++toggles; };
        QSignalSpy changes(&manager, &GlobalHotkeyManager::hotkeyChanged);
        manager.setIsEnabled(true); // whatever an earlier test left in the settings
        manager.start();
        QTRY_COMPARE(manager.desktopBinding(), binding);
        QCOMPARE(manager.hotkeyText(), shown);
        QVERIFY2(manager.shortcutNote().contains(note), qPrintable(manager.shortcutNote()));
        QVERIFY(!changes.isEmpty());
        QCOMPARE(portal.calls().mid(0, 1),
            QStringList { "GlobalShortcuts.CreateSession shortcuts=toggle-recording" });
        if (binding != GlobalHotkeyManager::DesktopBinding::bound) {
            qunsetenv("WAYLAND_DISPLAY");
            return;
        }
        QVERIFY(portal.calls().contains("BindShortcuts toggle-recording trigger=CTRL+ALT+d"));
        portal.call("Activate", { "toggle-recording" });
        QTRY_COMPARE(toggles, 1);
        portal.call("Activate", { "something-else" });
        portal.call("Activate", { "toggle-recording" });
        QTRY_COMPARE(toggles, 2);

        // Turned off, the desktop's session goes and activations do nothing.
        manager.setIsEnabled(false);
        QTRY_VERIFY(portal.calls().contains("Close"));
        QCOMPARE(manager.shortcutNote(), QString());
        portal.call("Activate", { "toggle-recording" });
        QTest::qWait(100);
        QCOMPARE(toggles, 2);
        qunsetenv("WAYLAND_DISPLAY");
    }
};

// The test's own session bus, one that activates nothing: a portal installed
// on the machine would otherwise be started by the first question and keep
// the name the scripted one needs.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QProcess bus;
    bus.start("dbus-daemon",
        { "--nofork", "--print-address=1",
            "--config-file=" + qEnvironmentVariable("TELLWIND_SOURCE_DIR")
                + "/tests/wayland/private-bus.conf" });
    if (!bus.waitForReadyRead(10000))
        return 1;
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed());
    TestPortal test;
    const int status = QTest::qExec(&test, argc, argv);
    bus.kill();
    bus.waitForFinished(3000);
    return status;
}
#include "test_portal.moc"
