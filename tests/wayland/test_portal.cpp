// Typing and shortcuts through the desktop portal, against a scripted portal
// service on the test's session bus.
#include "common/Settings.h"
#include "desktop/GlobalHotkeyManager.h"
#include "desktop/Hotkey.h"
#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeApplicationBundle.h"
#include "fakes/FakeKeyMonitor.h"
#include "fakes/FakePasteboard.h"
#include "fakes/FakeWindowSystem.h"
#include "fakes/FakeWorkspace.h"
#include "output/TextInsertionService.h"
#include "platform/Pasteboard.h"
#include "platform/SyntheticKeyLog.h"
#include "platform/portal/GlobalShortcutsPortal.h"
#include "platform/typing/remotedesktop/RemoteDesktopKeyboard.h"

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
    uint maxInFlight() { return call("MaxInFlight").arguments().value(0).toUInt(); }

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

// A clipboard whose text the focused terminal reads once it saw the paste
// key: at the wait after the first, which comes before the key.
struct ReadClipboard : FakePasteboard {
    int waits = 0;
    void setText(const QString &text) override
    {
        FakePasteboard::setText(text);
        waits = 0;
    }
    QCoro::Task<bool> waitForRead(int seen, std::chrono::milliseconds) override
    {
        log << QStringLiteral("wait");
        if (++waits == 2)
            log << QStringLiteral("taken");
        co_return reads() > seen;
    }
};

// The typing service wired to the portal keyboard and fakes for the rest.
struct Rig {
    ReadClipboard pasteboard;
    RemoteDesktopKeyboard keyboard { QDBusConnection::sessionBus(), &pasteboard };
    FakeAlertPresenter alerts;
    FakeWorkspace workspace;
    FakeApplicationBundle bundle;
    FakeWindowSystem windows;
    NullPasteboard clipboard;
    TextInsertionService service { keyboard, alerts, workspace, bundle, windows, clipboard };
    QStringList reports;
    QSignalSpy failures { &service, &TextInsertionService::typingFailed };
    quint64 recording = 0;

    Rig()
    {
        keyboard.report = [this](const QString &message) { reports << message; };
    }
    // What a recording start does, then the transcripts of that dictation,
    // each awaited.
    bool dictate(const QStringList &transcripts)
    {
        // Each dictation in a window of its own: no separator joins them.
        ++windows.focus;
        const std::shared_ptr<TypingScope> scope = service.beginDictation();
        if (!keyboard.canSynthesizeInput())
            return false;
        for (const QString &transcript : transcripts)
            QCoro::waitFor(service.insertTranscript(scope, { ++recording, 0, transcript, true }));
        return true;
    }
};

// Every key pressed is released later, none twice down.
bool allReleased(const Keys &keys)
{
    QSet<QString> down;
    for (const QString &key : keys) {
        const QString keysym = key.section(' ', 0, 0);
        if (key.endsWith(" 1") && down.contains(keysym))
            return false;
        if (key.endsWith(" 1"))
            down.insert(keysym);
        else
            down.remove(keysym);
    }
    return down.isEmpty();
}

} // namespace

class TestPortal : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Settings::remove(RemoteDesktopKeyboard::restoreTokenKey); }
    void cleanup() { Settings::remove(RemoteDesktopKeyboard::restoreTokenKey); }

    // What the layout may lack (here: anything past printable ASCII) goes
    // through the clipboard with a terminal's paste chord, whose modifiers
    // are released; the clipboard gets its old contents back.
    void keysymsInOrder_data()
    {
        QTest::addColumn<QStringList>("transcripts");
        QTest::addColumn<Keys>("keys");
        QTest::addColumn<bool>("pasted");
        // What the desktop's layout types, where known; empty: not known.
        QTest::addColumn<QString>("layout");
        const QString control = QString::number(XKB_KEY_Control_L), shift = QString::number(XKB_KEY_Shift_L);
        const Keys paste { control + " 1", shift + " 1", "118 1", "118 0", shift + " 0", control + " 0" };
        QTest::addRow("ascii, return, a revision") << QStringList { "Hi, there", "Hi, you!\n1" }
                                                   << strokes({ 'H', 'i', ',', ' ', 't', 'h', 'e', 'r', 'e' })
                + strokes(QList<int>(5, XKB_KEY_BackSpace))
                + strokes({ 'y', 'o', 'u', '!', XKB_KEY_Return, '1' })
                                                   << false << QString();
        QTest::addRow("past ascii, layout unknown")
            << QStringList { "a\u00E9\u20AC b\U0001F600\u0071\u0301" }
            << strokes({ 'a' }) + paste + strokes({ ' ', 'b' }) + paste << true << QString();
        // A French layout has é but no €, and no y: its keys go by the layout.
        QTest::addRow("a known layout")
            << QStringList { "a\u00E9\u20AC y" }
            << strokes({ 'a', XKB_KEY_eacute }) + paste + strokes({ ' ' }) + paste << true << u"a \u00E9"_qs;
    }
    void keysymsInOrder()
    {
        QFETCH(QStringList, transcripts);
        QFETCH(Keys, keys);
        QFETCH(bool, pasted);
        QFETCH(QString, layout);
        QVERIFY(!RemoteDesktopKeyboard::isOffered());
        ScriptedPortal portal;
        QVERIFY(portal.isReady() && RemoteDesktopKeyboard::isOffered());
        Rig rig;
        rig.keyboard.layoutKeysyms = [layout] {
            QSet<quint32> keysyms;
            for (const QChar c : layout)
                keysyms.insert(xkb_utf32_to_keysym(c.unicode()));
            return keysyms;
        };
        QVERIFY(rig.dictate(transcripts));
        QCOMPARE(portal.keys(), keys);
        QVERIFY(rig.keyboard.failedCalls() == 0 && rig.reports.isEmpty() && rig.failures.isEmpty());
        QCOMPARE(rig.pasteboard.log.isEmpty(), !pasted);
        if (pasted)
            QVERIFY(rig.pasteboard.log.first() == "read" && rig.pasteboard.log.last() == "restore");
    }

    // The portal forwards calls from worker threads: one sent before the
    // last was answered may overtake it. Each key waits for its answer, so
    // a long text arrives in order however the answers are delayed.
    void keysNeverOvertakeEachOther()
    {
        ScriptedPortal portal;
        QVERIFY(portal.isReady());
        portal.setMode("reorder");
        Rig rig;
        const QString text = "The quick brown fox jumps over the lazy dog";
        QVERIFY(rig.dictate({ text.left(9), text }));
        QList<int> keysyms;
        for (QChar c : text)
            keysyms << c.unicode();
        QCOMPARE(portal.keys(), strokes(keysyms));
        QCOMPARE(portal.maxInFlight(), 1u);
    }

    // A refused call ends the text with the user told, never a silent
    // partial; every key and modifier pressed goes up again, also the one
    // whose call failed, and the rest of the recording is not typed.
    void aRefusedKeyEndsTheTextAndReleasesEverything_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<Keys>("typed");
        const QString control = QString::number(XKB_KEY_Control_L), shift = QString::number(XKB_KEY_Shift_L);
        QTest::addRow("a key's press") << "fail-key:3" << strokes({ 'a' }) + Keys { "98 0" };
        QTest::addRow("a key's release") << "fail-key:4" << strokes({ 'a', 'b' });
        QTest::addRow("a paste's modifier")
            << "fail-key:4" << strokes({ 'a' }) + Keys { control + " 1", shift + " 0", control + " 0" };
        QTest::addRow("the paste key") << "fail-key:5"
                                       << strokes({ 'a' })
                + Keys { control + " 1", shift + " 1", "118 0", shift + " 0", control + " 0" };
    }
    void aRefusedKeyEndsTheTextAndReleasesEverything()
    {
        QFETCH(QString, failing);
        QFETCH(Keys, typed);
        ScriptedPortal portal;
        QVERIFY(portal.isReady());
        Rig rig;
        QVERIFY(rig.dictate({}));
        QTRY_VERIFY(rig.keyboard.hasSession());
        portal.setMode(failing);
        const bool paste = QString(QTest::currentDataTag()).contains("paste");
        QVERIFY(rig.dictate({ paste ? "a\u00E9cd" : "abcd", paste ? "a\u00E9cdef" : "abcdef" }));
        QCOMPARE(portal.keys(), typed);
        QVERIFY(allReleased(portal.keys()));
        QCOMPARE(rig.failures.size(), 1);
        QVERIFY(rig.failures.first().first().toString().startsWith(
            "Typing stopped before the text was complete"));
        if (paste)
            QCOMPARE(rig.pasteboard.log.last(), QString("restore"));
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
