// Typing and shortcuts through the desktop portal, against a scripted portal on the test's own session bus.
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

// The first answer of the scripted portal's test interface.
QVariant ask(const QString &method, const QVariantList &arguments = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(
        "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", "org.tellwind.Test", method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message).arguments().value(0);
}

// Each character pressed and released; \b is Backspace, \n Return.
Keys strokes(const QString &characters)
{
    Keys keys;
    for (const QChar c : characters) {
        const QString keysym = QString::number(QHash<QChar, int> { { u'\b', XKB_KEY_BackSpace },
            { u'\n', XKB_KEY_Return } }.value(c, c.unicode()));
        keys << keysym + " 1" << keysym + " 0";
    }
    return keys;
}
const QString control = QString::number(XKB_KEY_Control_L), shift = QString::number(XKB_KEY_Shift_L);

// The typing service wired to the portal keyboard and fakes for the rest.
struct Rig {
    FakePasteboard pasteboard;
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
        pasteboard.readAtWait = 2; // the first comes before the paste key
        keyboard.report = [this](const QString &message) { reports << message; };
    }
    // A recording start, then each transcript awaited, in a window of its own.
    bool dictate(const QStringList &transcripts)
    {
        ++windows.focus;
        const std::shared_ptr<TypingScope> scope = service.beginDictation();
        if (!keyboard.canSynthesizeInput())
            return false;
        for (const QString &transcript : transcripts)
            QCoro::waitFor(service.insertTranscript(scope, { ++recording, 0, transcript, true }));
        return true;
    }
};

} // namespace

class TestPortal : public QObject
{
    Q_OBJECT

    QProcess bus;
    std::unique_ptr<QProcess> portal;

private slots:
    // A session bus that activates nothing: an installed portal would take the scripted one's name.
    void initTestCase()
    {
        bus.start("dbus-daemon",
            { "--nofork", "--print-address=1",
                "--config-file=" + qEnvironmentVariable("TELLWIND_SOURCE_DIR")
                    + "/tests/wayland/private-bus.conf" });
        QVERIFY(bus.waitForReadyRead(10000));
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed());
        QVERIFY(!RemoteDesktopKeyboard::isOffered());
        qputenv("WAYLAND_DISPLAY", "wayland-test");
    }
    void cleanupTestCase()
    {
        bus.kill();
        bus.waitForFinished(3000);
    }
    // A fresh scripted portal for each case; it ends when its input closes.
    void init()
    {
        Settings::remove(RemoteDesktopKeyboard::restoreTokenKey);
        portal = std::make_unique<QProcess>();
        portal->start(qEnvironmentVariable("TELLWIND_SOURCE_DIR") + "/tests/wayland/scripted_portal.py");
        QVERIFY(portal->waitForStarted()
            && QTest::qWaitFor(
                [this] { return portal->canReadLine() || portal->waitForReadyRead(50); }, 10000)
            && portal->readLine().trimmed() == "ready");
    }
    void cleanup()
    {
        portal->closeWriteChannel();
        if (!portal->waitForFinished(3000))
            portal->kill();
    }

    // What the layout lacks is pasted with a terminal's chord, its modifiers released and the clipboard put
    // back. A call sent before the last was answered may overtake it: each key waits for its answer.
    void keysymsInOrder_data()
    {
        QTest::addColumn<QStringList>("transcripts");
        QTest::addColumn<Keys>("keys");
        QTest::addColumn<QString>("layout"); // what the desktop's layout types, where known
        const Keys paste { control + " 1", shift + " 1", "118 1", "118 0", shift + " 0", control + " 0" };
        QTest::addRow("ascii, return, a revision") << QStringList { "Hi, there", "Hi, you!\n1" }
                                                   << strokes("Hi, there\b\b\b\b\byou!\n1") << QString();
        QTest::addRow("past ascii, layout unknown")
            << QStringList { "a\u00E9\u20AC b\U0001F600\u0071\u0301" }
            << strokes("a") + paste + strokes(" b") + paste << QString();
        // A French layout has é but no €, and no y.
        QTest::addRow("a known layout")
            << QStringList { "a\u00E9\u20AC y" } << strokes("a\u00E9") + paste + strokes(" ") + paste
            << u"a \u00E9"_qs;
    }
    void keysymsInOrder()
    {
        QFETCH(QStringList, transcripts);
        QFETCH(Keys, keys);
        QFETCH(QString, layout);
        QVERIFY(RemoteDesktopKeyboard::isOffered());
        ask("SetMode", { "reorder" });
        Rig rig;
        rig.keyboard.layoutKeysyms = [layout] {
            QSet<quint32> keysyms;
            for (const QChar c : layout)
                keysyms.insert(xkb_utf32_to_keysym(c.unicode()));
            return keysyms;
        };
        QVERIFY(rig.dictate(transcripts));
        QCOMPARE(ask("Keysyms").toStringList(), keys);
        QCOMPARE(ask("MaxInFlight").toUInt(), 1u);
        QVERIFY(rig.keyboard.failedCalls() == 0 && rig.reports.isEmpty() && rig.failures.isEmpty());
        const QStringList &log = rig.pasteboard.log;
        QVERIFY(
            keys.contains(control + " 1") ? log.first() == "read" && log.last() == "restore" : log.isEmpty());
    }

    // A refused call ends the text with the user told; every key pressed goes up again, the refused one too,
    // and the rest of the recording is not typed.
    void aRefusedKeyEndsTheTextAndReleasesEverything_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<Keys>("typed");
        QTest::addRow("a key's press") << "fail-key:3" << strokes("a") + Keys { "98 0" };
        QTest::addRow("a key's release") << "fail-key:4" << strokes("ab");
        QTest::addRow("a paste's modifier")
            << "fail-key:4" << strokes("a") + Keys { control + " 1", shift + " 0", control + " 0" };
        QTest::addRow("the paste key")
            << "fail-key:5"
            << strokes("a") + Keys { control + " 1", shift + " 1", "118 0", shift + " 0", control + " 0" };
    }
    void aRefusedKeyEndsTheTextAndReleasesEverything()
    {
        QFETCH(QString, failing);
        QFETCH(Keys, typed);
        Rig rig;
        QVERIFY(rig.dictate({}));
        QTRY_VERIFY(rig.keyboard.hasSession());
        ask("SetMode", { failing });
        const bool paste = QString(QTest::currentDataTag()).contains("paste");
        QVERIFY(rig.dictate({ paste ? "a\u00E9cd" : "abcd", paste ? "a\u00E9cdef" : "abcdef" }));
        QCOMPARE(ask("Keysyms").toStringList(), typed); // each key pressed released again, none twice down
        QCOMPARE(rig.failures.size(), 1);
        QVERIFY(rig.failures.first().first().toString().startsWith(
            "Typing stopped before the text was complete"));
        QVERIFY(!paste || rig.pasteboard.log.last() == "restore");
    }

    // One session a run; the next run hands the permission's token back.
    void restoreTokenReused()
    {
        {
            Rig rig;
            QVERIFY(rig.dictate({ "one" }) && rig.dictate({ "two" }));
            QCOMPARE(Settings::stringValue(RemoteDesktopKeyboard::restoreTokenKey), QString("token-1"));
        }
        Rig next;
        QVERIFY(next.dictate({ "three" }));
        const QString select = "SelectDevices types=1 persist_mode=2 restore_token=";
        QCOMPARE(ask("Calls").toStringList(),
            (QStringList {
                "CreateSession", select, "Start", "Close", "CreateSession", select + "token-1", "Start" }));
        QCOMPARE(Settings::stringValue(RemoteDesktopKeyboard::restoreTokenKey), QString("token-2"));
    }

    // Refused, or ended by the desktop mid-dictation: the user hears why once, and the next dictation (not
    // the next update) opens a new session.
    void sessionLostThenReopened_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<Keys>("typed");
        QTest::addRow("refused") << "refuse" << Keys();
        QTest::addRow("closed by the desktop") << "close-after:4" << strokes("ab");
    }
    void sessionLostThenReopened()
    {
        QFETCH(QString, mode);
        QFETCH(Keys, typed);
        ask("SetMode", { mode });
        Rig rig;
        QVERIFY(rig.dictate({ "ab", "abcdef" }));
        QTRY_COMPARE(rig.reports.size(), 1);
        QVERIFY(!rig.keyboard.hasSession());
        QCOMPARE(ask("Keysyms").toStringList(), typed);
        rig.keyboard.canSynthesizeInput(); // as the next update of this dictation asks
        QCOMPARE(ask("Calls").toStringList().count("CreateSession"), 1);

        ask("SetMode", { "accept" });
        rig.keyboard.dictationGap = std::chrono::milliseconds(0);
        QVERIFY(rig.dictate({ "xy" }));
        QCOMPARE(ask("Keysyms").toStringList().mid(typed.size()), strokes("xy"));
        QCOMPARE(ask("Calls").toStringList().count("Start"), 2);
    }

    // The desktop's shortcut counts as bound only when listed back (KDE binds only what the session named),
    // Settings then showing its trigger; a backend that never opens a session gets the command hint in time.
    void shortcutBoundByTheDesktop_data()
    {
        QTest::addColumn<bool>("bound"); // or a backend that never opens a session
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("note");
        QTest::addRow("bound") << true << QString("Meta+F9") << QString("desktop's keyboard settings");
        QTest::addRow("never answers") << false << QString("Ctrl+Alt+D") << QString("\"tellwind --toggle\"");
    }
    void shortcutBoundByTheDesktop()
    {
        QFETCH(bool, bound);
        QFETCH(QString, shown);
        QFETCH(QString, note);
        ask("SetMode", { bound ? "accept" : "silent-shortcuts" });
        GlobalShortcutsPortal::sessionWait = std::chrono::milliseconds(500);
        Settings::remove(Hotkey::settingsKey);
        GlobalHotkeyManager manager(std::make_unique<FakeKeyMonitor>());
        int toggles = 0;
        manager.onHotkeyPressed = [&toggles] { ++toggles; };
        QSignalSpy changes(&manager, &GlobalHotkeyManager::hotkeyChanged);
        manager.setIsEnabled(true); // whatever an earlier test left
        manager.start();
        QTRY_COMPARE(manager.desktopBinding(),
            bound ? GlobalHotkeyManager::DesktopBinding::bound
                  : GlobalHotkeyManager::DesktopBinding::unavailable);
        QCOMPARE(manager.hotkeyText(), shown);
        QVERIFY2(manager.shortcutNote().contains(note), qPrintable(manager.shortcutNote()));
        QVERIFY(!changes.isEmpty());
        QCOMPARE(ask("Calls").toStringList().mid(0, 1),
            QStringList { "GlobalShortcuts.CreateSession shortcuts=toggle-recording" });
        if (!bound)
            return;
        QVERIFY(ask("Calls").toStringList().contains("BindShortcuts toggle-recording trigger=CTRL+ALT+d"));
        for (const char *id : { "toggle-recording", "something-else", "toggle-recording" })
            ask("Activate", { id });
        QTRY_COMPARE(toggles, 2);

        // Turned off, the session goes and activations do nothing.
        manager.setIsEnabled(false);
        QTRY_VERIFY(ask("Calls").toStringList().contains("Close"));
        QCOMPARE(manager.shortcutNote(), QString());
        ask("Activate", { "toggle-recording" });
        QTest::qWait(100);
        QCOMPARE(toggles, 2);
    }
};

QTEST_GUILESS_MAIN(TestPortal)
#include "test_portal.moc"
