// The typing service against fakes (the keyboard a US text field), the backend each kind of session gets,
// and typing and shortcuts through a scripted portal on the test's own session bus.
#include "common/Graphemes.h"
#include "common/Settings.h"
#include "desktop/GlobalHotkeyManager.h"
#include "desktop/Hotkey.h"
#include "fakes/FakeKeyMonitor.h"
#include "output/TextInsertionService.h"
#include "platform/Pasteboard.h"
#include "platform/SyntheticKeyLog.h"
#include "platform/portal/GlobalShortcutsPortal.h"
#include "platform/typing/TypingBackends.h"
#include "platform/typing/remotedesktop/RemoteDesktopKeyboard.h"
#include "support/TypingRig.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <qcoro/qcorotask.h>

#include <xkbcommon/xkbcommon.h>

namespace
{

const QString family = u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_qs;
const QString flag = u"\U0001F1E9\U0001F1EA"_qs;
const QString wayland = qEnvironmentVariable("TELLWIND_SOURCE_DIR") + "/tests/wayland/";

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
struct PortalRig {
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

    PortalRig()
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

class TestTextInsertion : public QObject
{
    Q_OBJECT

    std::unique_ptr<TypingRig> rig;
    QProcess bus;
    std::unique_ptr<QProcess> portal;

    void type(const QString &transcript) { typeUtterance(*rig, transcript); }
    QString told(int failure = 0) const { return rig->failures.at(failure).first().toString(); }

private slots:
    // A session bus that activates nothing: an installed portal would take the scripted one's name.
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        bus.start("dbus-daemon",
            { "--nofork", "--print-address=1", "--config-file=" + wayland + "private-bus.conf" });
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
    // The portal cases get a fresh scripted portal each; it ends when its input closes.
    void init()
    {
        rig = std::make_unique<TypingRig>();
        if (!QByteArray(QTest::currentTestFunction()).startsWith("portal"))
            return;
        Settings::remove(RemoteDesktopKeyboard::restoreTokenKey);
        portal = std::make_unique<QProcess>();
        portal->start(wayland + "scripted_portal.py");
        QVERIFY(portal->waitForReadyRead(10000) && portal->readLine().trimmed() == "ready");
    }
    void cleanup()
    {
        if (!portal)
            return;
        portal->closeWriteChannel();
        if (!portal->waitForFinished(3000))
            portal->kill();
        portal.reset();
    }

    // Updates as "utterance|text": the keys the last costs, what the field shows, and that characters outside
    // the layout are pasted in runs, a terminal's chord tried first and the chord that worked kept.
    void typesOnlyWhatChanged_data()
    {
        QTest::addColumn<QStringList>("updates");
        QTest::addColumn<QString>("keys"); // null: not checked
        QTest::addColumn<QString>("screen");
        const auto row
            = [](const char *name, const QStringList &updates, const QString &keys, const QString &screen) {
                  QTest::addRow("%s", name) << updates << keys << screen;
              };
        row("revised ending", { "0|Hello word", "0|Hello world" }, "⌫ld", "Hello world");
        row("shrinking", { "0|Hello world this is", "0|Hello" }, QString(14, u'⌫'), "Hello");
        row("combining mark composed and pasted", { "0|Cafe", u"0|Cafe\u0301 au lait"_qs }, "⌫^⇧V^V au lait",
            u"Caf\u00E9 au lait"_qs);
        row("emoji sequences are one character", { "0|We " + family, "0|We " + flag }, "⌫^V", "We " + flag);
        // A formatter's marks arrive as themselves; once Ctrl+V worked in the field, it comes first.
        const QString marks = u"\u201Ca\u201D \u2013 b\u2026"_qs;
        row("typographic marks", { "0|" + marks }, "^⇧V^Va^V ^V b^V", marks);
        const QString heard = "censor report to the finance team period new line thanks period";
        const QString meant = "send the report to the finance team period new line thanks period";
        row("a rewritten start is an edit, however long", { "0|" + heard, "0|" + meant }, {}, meant);
        row("a new utterance after a separator", { "0|hello world", "1|next one" }, {},
            "hello world. next one");
        row("an empty final takes it back", { "0|hello", "1|uh", "1|" }, {}, "hello");
        row("extending the last character retypes it", { u"0|क"_qs, u"0|कि"_qs }, {}, u"कि"_qs);
        row("no edit through a later utterance", { "0|one", "1|two", "0|uno" }, {}, "one. two");
    }
    void typesOnlyWhatChanged()
    {
        QFETCH(QStringList, updates);
        QFETCH(QString, keys);
        QFETCH(QString, screen);
        // A clipboard manager copies each text at once; only the field's own read means the paste key worked.
        rig->pasteboard.manager = true;
        for (const QString &update : updates) {
            rig->field.keys.clear();
            const qsizetype bar = update.indexOf(u'|');
            typeUtterance(*rig, update.mid(bar + 1), update.left(bar).toULongLong());
        }
        QVERIFY2(keys.isNull() || rig->field.keys == keys, qPrintable(rig->field.keys));
        QCOMPARE(rig->field.screen, screen);
        QCOMPARE(Graphemes::canonical(rig->service.lastInsertedText()), Graphemes::canonical(screen));
        // Every paste put the user's clipboard back.
        QCOMPARE(rig->pasteboard.log.count("read"), rig->pasteboard.log.count("restore"));
        QCOMPARE(rig->failures.size(), 0);

        // What one window taught about pasting is not carried to the next dictation, maybe in a terminal.
        rig->scope = rig->service.beginDictation();
        rig->field.keys.clear();
        type(u"\u00E9"_qs);
        QVERIFY2(rig->field.keys.endsWith(u"^⇧V^V"_qs), qPrintable(rig->field.keys));
    }

    void onlyTheNewestQueuedUpdateIsTyped()
    {
        type("Hello");
        rig->field.keys.clear();
        auto run = rig->service.insertTranscript(rig->scope, { 1, 0, "Hello there", false });
        // Three updates while it types: each replaces the last, none runs itself.
        for (const char *update : { "Hello there w", "Hello there wo", "Hello there world" })
            type(update);
        QCOMPARE(rig->service.pendingText(), std::optional<QString>("Hello there world"));
        QCoro::waitFor(run);
        QCOMPARE(rig->field.keys, QString(" there world"));
        QCOMPARE(rig->field.screen, QString("Hello there world"));
        QVERIFY(!rig->service.pendingText() && !rig->service.isTyping());

        // Updates of different utterances all count: one's final is not folded into the next one's start.
        run = rig->service.insertTranscript(rig->scope, { 1, 0, "Hello there world, and", false });
        auto last = rig->service.insertTranscript(rig->scope, { 1, 0, "Hello there world, and you", true });
        auto next = rig->service.insertTranscript(rig->scope, { 1, 1, "next one", false });
        for (auto *task : { &run, &last, &next })
            QCoro::waitFor(*task);
        QCOMPARE(rig->field.screen, QString("Hello there world, and you. next one"));
    }

    // A failed key ends the text there, told once, and nothing later of that recording is typed onto the
    // wrong text; a paste no target takes names what is missing, once per character per recording.
    void failuresAreToldNeverSilent()
    {
        rig->field.keysLeft = 3;
        type("Hello");
        type("Hello there");
        QCOMPARE(rig->field.screen, QString("Hel"));
        QCOMPARE(rig->failures.size(), 1);
        QVERIFY(told().contains("the field went away"));

        rig = std::make_unique<TypingRig>();
        rig->field.pasteboard = nullptr;
        type(u"caf\u00E9 \u2013 ok"_qs);
        type(u"caf\u00E9 \u2013 ok \u2013 \u20AC"_qs);
        QCOMPARE(rig->field.screen, QString("caf  ok  "));
        const QString missing = "These characters could not be typed on this desktop: ";
        QCOMPARE(rig->failures.size(), 2);
        QCOMPARE(told(0), missing + u"\u00E9 \u2013"_qs);
        QCOMPARE(told(1), missing + u"\u00E9 \u2013 \u20AC"_qs);
        // A new recording starts afresh.
        rig->scope = rig->service.beginDictation();
        type(u"\u00E9"_qs);
        QCOMPARE(rig->failures.size(), 3);

        // A clipboard manager's copy is not the field's paste.
        rig = std::make_unique<TypingRig>();
        rig->pasteboard.manager = true;
        rig->field.pastes = false;
        type(u"caf\u00E9"_qs);
        QCOMPARE(rig->field.screen, QString("caf"));
        QCOMPARE(rig->failures.size(), 1);
        QVERIFY(told().endsWith(u"\u00E9"_qs));
    }

    void choosesBackend_data()
    {
        QTest::addColumn<QStringList>("assignments");
        QTest::addColumn<QString>("offered"); // v: virtual keyboard, p: portal, x: XTEST
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("limited");
        QTest::addColumn<QString>("asked");
        const auto row = [](const char *name, const QStringList &assignments, const QString &offered,
                             const QString &chosen, bool limited, const QString &asked) {
            QTest::addRow("%s", name) << assignments << offered << chosen << limited << asked;
        };
        const QStringList wayland { "WAYLAND_DISPLAY=wayland-0", "DISPLAY=:0" };
        // An X server still starting keeps XTEST: it is retried at each use.
        row("x11 not answering yet", { "DISPLAY=:0" }, "", "X11 (XTEST)", false, "");
        row("sway", wayland, "vpx", "Wayland virtual keyboard", false, "v");
        row("gnome", wayland, "px", "RemoteDesktop portal", false, "vp");
        row("xwayland only", wayland, "x", "X11 (XTEST)", true, "vpx");
        row("no xwayland, no portal", { "WAYLAND_DISPLAY=wayland-0" }, "x", "none", true, "vp");
        row("no session", {}, "vpx", "none", true, "");
    }
    void choosesBackend()
    {
        QFETCH(QStringList, assignments);
        QFETCH(QString, offered);
        QFETCH(QString, chosen);
        QFETCH(bool, limited);
        QFETCH(QString, asked);
        QString probed;
        // The real table, each probe only noting that it was asked and saying what the row offers.
        QList<TypingBackendRow> table = typingBackendTable();
        for (TypingBackendRow &row : table) {
            const char backend = row.name[0] == 'W' ? 'v' : row.name[0] == 'R' ? 'p' : 'x';
            row.probe = [&, backend](
                            const SessionInfo &) { return (probed += backend, offered.contains(backend)); };
        }
        QProcessEnvironment environment;
        for (const QString &assignment : assignments)
            environment.insert(assignment.section('=', 0, 0), assignment.section('=', 1));
        const SessionInfo session = SessionInfo::fromEnvironment(environment);
        const TypingChoice choice = chooseTypingBackend(session, table);
        QCOMPARE(choice.name(), chosen);
        QCOMPARE(!choice.limitation.isEmpty(), limited);
        // No better backend passed over, none past the chosen asked (a probe may open a connection).
        QCOMPARE(probed, asked);
        // Every row builds a backend, the last one too, which says why it types nothing.
        if (chosen == "none") {
            QVERIFY(choice.row && choice.row->make);
            SyntheticKeyLog sent;
            FakePasteboard pasteboard;
            auto backend = choice.row->make({ session, sent, pasteboard });
            QVERIFY(!backend->canSynthesizeInput());
            const TypingResult typed = QCoro::waitFor(backend->typeText("a"));
            QCOMPARE(typed.status, TypingResult::Status::failed);
            QCOMPARE(typed.message, backend->limitation());
            QVERIFY(!typed.message.isEmpty());
        }
    }

    // The chords the backends press are read as desktop settings write them.
    void chordsParse()
    {
        using Chord = std::optional<KeyChord>;
        QCOMPARE(KeyChord::parse("ctrl+shift+v"), Chord({ 'v', true, true, false }));
        QCOMPARE(KeyChord::parse("Return"), Chord({ 0xff0d, false, false, false }));
        QCOMPARE(KeyChord::parse("Alt+Tab"), Chord({ 0xff09, false, false, true }));
        QVERIFY(!KeyChord::parse("hyper+v") && !KeyChord::parse("ctrl+nosuchkey"));
    }

    // What the layout lacks is pasted with a terminal's chord, its modifiers released and the clipboard put
    // back. A call sent before the last was answered may overtake it: each key waits for its answer.
    void portalKeysymsInOrder_data()
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
    void portalKeysymsInOrder()
    {
        QFETCH(QStringList, transcripts);
        QFETCH(Keys, keys);
        QFETCH(QString, layout);
        QVERIFY(RemoteDesktopKeyboard::isOffered());
        ask("SetMode", { "reorder" });
        PortalRig rig;
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

    // A refused call ends the text, told; every key pressed goes up again, and the rest is not typed.
    void portalRefusedKeyEndsTheTextAndReleasesEverything_data()
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
    void portalRefusedKeyEndsTheTextAndReleasesEverything()
    {
        QFETCH(QString, failing);
        QFETCH(Keys, typed);
        PortalRig rig;
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
    void portalRestoreTokenReused()
    {
        {
            PortalRig rig;
            QVERIFY(rig.dictate({ "one" }) && rig.dictate({ "two" }));
            QCOMPARE(Settings::stringValue(RemoteDesktopKeyboard::restoreTokenKey), QString("token-1"));
        }
        PortalRig next;
        QVERIFY(next.dictate({ "three" }));
        const QString select = "SelectDevices types=1 persist_mode=2 restore_token=";
        QCOMPARE(ask("Calls").toStringList(),
            (QStringList {
                "CreateSession", select, "Start", "Close", "CreateSession", select + "token-1", "Start" }));
        QCOMPARE(Settings::stringValue(RemoteDesktopKeyboard::restoreTokenKey), QString("token-2"));
    }

    // Refused, or ended mid-dictation: the user hears why once; the next dictation, not update, reopens.
    void portalSessionLostThenReopened_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<Keys>("typed");
        QTest::addRow("refused") << "refuse" << Keys();
        QTest::addRow("closed by the desktop") << "close-after:4" << strokes("ab");
    }
    void portalSessionLostThenReopened()
    {
        QFETCH(QString, mode);
        QFETCH(Keys, typed);
        ask("SetMode", { mode });
        PortalRig rig;
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
    void portalShortcutBoundByTheDesktop_data()
    {
        QTest::addColumn<bool>("bound"); // or a backend that never opens a session
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("note");
        QTest::addRow("bound") << true << QString("Meta+F9") << QString("desktop's keyboard settings");
        QTest::addRow("never answers") << false << QString("Ctrl+Alt+D") << QString("\"tellwind --toggle\"");
    }
    void portalShortcutBoundByTheDesktop()
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

QTEST_GUILESS_MAIN(TestTextInsertion)
#include "test_text_insertion.moc"
