// On the harness's X server and bus: XTest typing under other layouts and Caps Lock, X11 shortcuts, the tray
// item as a panel reads it, and the real program from a first launch to a relaunch at the panel's last place.
#include "app/ProcessRig.h"
#include "common/Settings.h"
#include "desktop/GlobalHotkeyManager.h"
#include "desktop/Hotkey.h"
#include "platform/x11/X11KeyMonitor.h"
#include "support/TerminalTarget.h"
#include "support/TypingChain.h"

#include <QApplication>
#include <QClipboard>
#include <QDeadlineTimer>
#include <QMimeData>
#include <QMutex>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QtDBus>

#include <cstdio>

namespace
{

const QString sampleText = QStringLiteral("copied before the paste");
const QByteArray sampleImage = QByteArray::fromBase64(
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==");

// Another client reads the clipboard; this process, the owner, may have to answer meanwhile.
QByteArray readClipboardElsewhere(const QString &format)
{
    QProcess xclip;
    xclip.start("xclip", { "-o", "-selection", "clipboard", "-t", format });
    const bool done = QTest::qWaitFor([&xclip] { return xclip.state() == QProcess::NotRunning; }, 10000);
    return done ? xclip.readAllStandardOutput() : QByteArray();
}

bool capsLockOn()
{
    return runCommand("xset", { "q" }).simplified().contains("Caps Lock: on");
}

void setKeyboard(const QString &layout, bool capsLock)
{
    runCommand("setxkbmap", { layout });
    if (capsLockOn() != capsLock)
        xdotool({ "key", "Caps_Lock" });
}

QList<QVariant> call(const QString &service, const QString &path, const QString &interface,
    const QString &method, const QList<QVariant> &arguments = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, 5000).arguments();
}

struct Layout {
    int id = 0;
    QVariantMap properties;
    QList<QDBusVariant> children;
};

const QDBusArgument &operator>>(const QDBusArgument &argument, Layout &layout)
{
    argument.beginStructure();
    argument >> layout.id >> layout.properties >> layout.children;
    argument.endStructure();
    return argument;
}

struct Item {
    QString service;

    QString menuPath() const
    {
        const auto reply = call(service, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
            { QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Menu") });
        return qvariant_cast<QDBusObjectPath>(reply.value(0).value<QDBusVariant>().variant()).path();
    }

    // Each entry as "label" or "label [Shift+R]", "---" for a separator.
    QStringList menu(QList<int> *ids = nullptr) const
    {
        const auto layout
            = call(service, menuPath(), "com.canonical.dbusmenu", "GetLayout", { 0, -1, QStringList() });
        QStringList entries;
        for (const QDBusVariant &child : qdbus_cast<Layout>(layout.value(1)).children) {
            const auto [id, properties, children] = qdbus_cast<Layout>(child.variant());
            QString entry
                = properties.value("type") == "separator" ? "---" : properties.value("label").toString();
            for (const QStringList &keys : qdbus_cast<QList<QStringList>>(properties.value("shortcut")))
                entry += " [" + keys.join('+') + "]";
            entries << entry;
            if (ids)
                *ids << id;
        }
        return entries;
    }
    void click(int index) const
    {
        QList<int> ids;
        menu(&ids);
        call(service, menuPath(), "com.canonical.dbusmenu", "Event",
            { ids.value(index), QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u });
    }
};

// The part of a desktop panel that tray items register with.
class Watcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)

public:
    bool serve()
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "watcher");
        return bus.registerObject("/StatusNotifierWatcher", this,
                   QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties)
            && bus.registerService("org.kde.StatusNotifierWatcher");
    }
    bool isHostRegistered() const { return true; }
    QStringList items() const
    {
        QMutexLocker lock(&m_mutex);
        return m_items;
    }

public slots:
    void RegisterStatusNotifierItem(const QString &service)
    {
        QMutexLocker lock(&m_mutex);
        m_items << service;
    }

private:
    mutable QMutex m_mutex;
    QStringList m_items;
};

} // namespace

class TestDesktopSession : public QObject
{
    Q_OBJECT

    QThread watcherThread;
    Watcher *watcher = new Watcher;
    QTemporaryDir dir;
    TypingChain chain; // the program's choice of backend: XTest keys, the Qt clipboard
    quint64 utterance = 0;

    // The whole of the current utterance so far.
    void type(const QString &transcript) { QCoro::waitFor(chain.type(transcript, utterance)); }

    std::unique_ptr<Child> launch()
    {
        auto child = Child::start(userEnvironment(dir.path(), false), tellwindProgram()); // a new user's
        return child->waitForLine(tellwindReady, 20000) ? std::move(child) : nullptr;
    }
    static QString panel(Child &tellwind)
    {
        const QString pid = QString::number(tellwind.process().processId());
        return xdotool({ "search", "--pid", pid, "--name", "^Tellwind$" }).section('\n', 0, 0);
    }

private slots:
    // The panel is there before the first item, on a thread of its own: items register with a blocking call.
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings(Settings::filePath(), QSettings::IniFormat).clear();
        watcher->moveToThread(&watcherThread);
        watcherThread.start();
        bool serving = false;
        QMetaObject::invokeMethod(
            watcher, [&] { serving = watcher->serve(); }, Qt::BlockingQueuedConnection);
        QVERIFY(serving);
        QVERIFY2(chain.service.isAccessibilityTrusted(), "the harness display must offer XTEST");
    }
    void cleanupTestCase()
    {
        QMetaObject::invokeMethod(watcher, &QObject::deleteLater);
        watcherThread.quit();
        watcherThread.wait();
    }
    void init()
    {
        chain.begin();
        utterance = 0;
    }
    void cleanup() { setKeyboard("us", false); }

    void typesExactlyIntoATerminal_data()
    {
        QTest::addColumn<QString>("layout"); // and " caps" for Caps Lock on
        for (const char *layout : { "us", "de", "fr", "us caps" })
            QTest::newRow(layout) << QString(layout);
    }
    void typesExactlyIntoATerminal()
    {
        QFETCH(QString, layout);
        const bool capsLock = layout.endsWith(" caps");
        setKeyboard(layout.section(' ', 0, 0), capsLock);
        QCOMPARE(capsLockOn(), capsLock);
        TerminalTarget terminal(dir.filePath("out.txt"));
        QVERIFY(terminal.isReady());

        const QString first = "Hello World 123, it's 50% off!";
        const QString second = first + "\nKeys:\t(a+b)*c = {x} [y] <z> ~`q` @home #tag $5 ^&_|\\/;:\"? yz YZ";
        // The hotkey's Shift is still down when the first words arrive.
        xdotool({ "keydown", "shift" });
        QProcess::startDetached("sh", { "-c", "sleep 0.3; xdotool keyup shift" });
        const QDeadlineTimer released(250);
        type(first.left(1));
        QVERIFY(released.hasExpired()); // waited for it rather than releasing it
        type(first);
        type(second);
        type(second + " Typo fxed");
        type(second + " Typo fixed");
        ++utterance;
        type("Second one");
        QCOMPARE(terminal.finish(), second + " Typo fixed. Second one");
    }

    void pastesIntoGtkAndPutsTheClipboardBack()
    {
        QProcess owner;
        owner.start(QCoreApplication::applicationFilePath(), { "--own-clipboard" });
        QVERIFY(owner.waitForReadyRead(10000));
        QProcess zenity;
        zenity.start("zenity", { "--entry", "--title", "TellwindPaste" });
        QVERIFY(!focusWindow({ "--name", "TellwindPaste" }).isEmpty());
        // Keysyms are typed, on spare key codes where the layout lacks them; a letter with a mark is pasted.
        const QString text = u"Café 5€ 中文 “Grüße” – q\u0301!"_qs;
        type(text);

        xdotool({ "key", "Return" }); // OK: the dialog prints what its field holds
        QVERIFY(zenity.waitForFinished(10000));
        QCOMPARE(QString::fromUtf8(zenity.readAllStandardOutput()).trimmed(), text);

        // Another client reads what the user had copied, in both formats.
        QCOMPARE(readClipboardElsewhere("text/plain"), sampleText.toUtf8());
        QCOMPARE(readClipboardElsewhere("image/png"), sampleImage);
        owner.kill();
        owner.waitForFinished();
    }

    // A new user's Ctrl+Alt+D is grabbed: it toggles once however long held, reaching no application, and a
    // capital R is only an R. Recorded, it is stored. Reset to Shift + R, the grab goes; Shift+R toggles and
    // reaches the application, but not with Caps Lock, Control or Alt, nor as dictation's own capitals.
    void shortcutsOnX11()
    {
        int presses = 0, rKeysRead = 0;
        QObject context; // gone first: what it still has queued is dropped
        TypingChain typing; // a fresh log of dictation's keys, which the monitor must know for its own
        auto monitor = std::make_unique<X11KeyMonitor>(typing.sent);
        // Every R the monitor reads, counted two queue turns later: by then the hotkey call it may have
        // queued has run, whichever handler came first.
        const auto later
            = [&context](auto f) { QMetaObject::invokeMethod(&context, f, Qt::QueuedConnection); };
        monitor->addGlobalMonitor([&](const KeyEvent &event) {
            if (event.keyCode == KeyEvent::ansiR)
                later([&] { later([&] { ++rKeysRead; }); });
        });
        GlobalHotkeyManager hotkey(std::move(monitor));
        hotkey.onHotkeyPressed = [&presses] { ++presses; };
        hotkey.start();
        TerminalTarget xterm(dir.filePath("typed.txt"));
        QVERIFY(xterm.isReady());
        xdotool({ "key", "shift+r", "ctrl+alt+d" });
        QTRY_COMPARE(presses, 1);
        QVERIFY(hotkey.recordHotkey(Qt::Key_D, Qt::ControlModifier | Qt::AltModifier));
        QCOMPARE(Settings::stringValue(Hotkey::settingsKey), QStringLiteral("Ctrl+Alt+D"));
        xdotool({ "key", "ctrl+alt+d" });
        QTRY_COMPARE(presses, 2);
        // Held down past the repeat delay (660 ms).
        xdotool({ "keydown", "ctrl+alt+d", "sleep", "1", "keyup", "ctrl+alt+d", "key", "x" });
        QTRY_COMPARE(presses, 3);

        hotkey.resetHotkey();
        QCOMPARE(Settings::stringValue(Hotkey::settingsKey), QStringLiteral("Shift+R"));
        xdotool({ "key", "ctrl+alt+d", "y", "shift+r", "Shift_R+r" });
        QTRY_COMPARE(presses, 5);
        // Caps Lock on, Control or Alt held, no Shift: not the hotkey. XTEST keys, as dictation's are.
        xdotool({ "key", "Caps_Lock", "shift+r", "Caps_Lock", "ctrl+shift+r", "alt+shift+r", "r" });
        QTRY_COMPARE(rKeysRead, 7);
        QCOMPARE(presses, 5);
        QCoro::waitFor(typing.type("Richard Roe"));
        // The user's own press after that counts, once; none of ours is read.
        xdotool({ "key", "shift+r", "r" });
        QTRY_VERIFY(rKeysRead >= 9);
        QCOMPARE(rKeysRead, 9);
        QCOMPARE(presses, 6);
        // xterm reads Ctrl+Alt+D as the eight-bit character 0x84, and makes something of Ctrl and Alt with R.
        const QString text = xterm.finish();
        QVERIFY2(text.startsWith(u"Rx\u0084yRRr"_qs) && text.endsWith("rRichard RoeRr"), qPrintable(text));
    }

    void programDictatesOnItsShortcutAndComesBackWhereItWasLeft()
    {
        auto tellwind = launch();
        QVERIFY(tellwind);
        // Its windows carry its icon, for the window list and its alerts.
        const QString icon = runCommand("xprop", { "-id", panel(*tellwind), "_NET_WM_ICON" });
        QVERIFY2(icon.startsWith("_NET_WM_ICON(CARDINAL) = "), qPrintable(icon.left(200)));

        // The shortcut, a left click on the tray item and its first entry (which follows the state) toggle.
        QTRY_COMPARE(watcher->items().size(), 1);
        const Item item { watcher->items().value(0) };
        QTRY_COMPARE(item.menu(),
            QStringList({ "Start Dictation", "---", "Show Panel", "Choose Language…", "Settings…", "---",
                "Quit Tellwind" }));
        const auto count = [&tellwind](const QString &line) { return tellwind->lines().filter(line).size(); };
        // A new user's shortcut is Ctrl+Alt+D: a capital R they type is only an R.
        xdotool({ "key", "shift+r", "ctrl+alt+d" });
        QTRY_COMPARE(count("✅ Recording started"), 1);
        QTRY_COMPARE(item.menu().value(0), QString("Stop Dictation"));
        call(item.service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate", { 10, 10 });
        // A stop waits for the recognizer's last words, up to 5 s.
        QTRY_COMPARE_WITH_TIMEOUT(count("✅ Recording stopped"), 1, 15000);
        QTRY_COMPARE(item.menu().value(0), QString("Start Dictation"));
        item.click(0);
        QTRY_COMPARE(count("✅ Recording started"), 2);
        xdotool({ "key", "ctrl+alt+d" });
        QTRY_COMPARE_WITH_TIMEOUT(count("✅ Recording stopped"), 2, 15000);

        // The user moves the panel, then quits from the tray: the place is saved again on the way out.
        xdotool({ "windowmove", panel(*tellwind), "100", "150" });
        QVERIFY(tellwind->waitForLine("💾 Window position saved: (100.0, 150.0)"));
        item.click(6); // Quit Tellwind
        QVERIFY(tellwind->hasEnded(10000));
        // The recognizer's model may finish loading at any time; its line is not part of the quit.
        QStringList lines = tellwind->lines();
        lines.removeIf([](const QString &line) { return line.contains("[On-device STT]"); });
        QCOMPARE(lines.mid(lines.size() - 2),
            QStringList({ "💾 Window position saved: (100.0, 150.0)", "🎹 Global hotkey manager stopped" }));
        QCOMPARE(lines.count("💾 Window position saved: (100.0, 150.0)"), 2); // the move's, and the quit's

        tellwind = launch();
        QVERIFY(tellwind);
        QVERIFY(tellwind->lines().contains("📍 Window position restored: (100.0, 150.0)"));
        QVERIFY(tellwind->lines().filter("First launch").isEmpty());
        QTRY_COMPARE(xdotool({ "getwindowgeometry", panel(*tellwind) }).section('\n', 1, 1).trimmed(),
            QString("Position: 100,150 (screen: 0)"));
        QVERIFY(tellwind->lines().filter("💾").isEmpty()); // putting it there is no move of the user's
    }
};

// Also stands in for the clipboard's owner, of a text and an image.
int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--own-clipboard") == 0) {
        auto *data = new QMimeData;
        data->setText(sampleText);
        data->setData("image/png", sampleImage);
        QGuiApplication::clipboard()->setMimeData(data);
        std::puts("ready");
        std::fflush(stdout);
        return app.exec();
    }
    TestDesktopSession test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_desktop_session.moc"
