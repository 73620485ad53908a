// On the harness's X server and bus: shortcuts from another XTEST client, the tray item as a stand-in panel
// reads it over D-Bus, and the real program from a new user's first launch to a relaunch at the panel's last
// place.
#include "app/ProcessRig.h"
#include "common/Settings.h"
#include "desktop/GlobalHotkeyManager.h"
#include "desktop/Hotkey.h"
#include "platform/x11/X11KeyMonitor.h"
#include "support/TerminalTarget.h"
#include "support/TypingChain.h"

#include <QFile>
#include <QMutex>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QtDBus>

namespace
{

// The event loop runs meanwhile: the item may live in this very process.
QList<QVariant> call(const QString &service, const QString &path, const QString &interface,
    const QString &method, const QList<QVariant> &arguments = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(message, 5000);
    if (!QTest::qWaitFor([&] { return pending.isFinished(); }, 6000))
        return {};
    return pending.reply().arguments();
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
    void activate(const QString &click) const
    {
        call(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", click, { 10, 10 });
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
    // The panel is there before the first item is made, on a thread of its own: items register with a
    // blocking call, possibly from this process.
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
    }
    void cleanupTestCase()
    {
        QMetaObject::invokeMethod(watcher, &QObject::deleteLater);
        watcherThread.quit();
        watcherThread.wait();
    }

    void userShiftRTogglesAndStillReachesTheFocusedApplication()
    {
        Settings::setString(Hotkey::settingsKey, "Shift+R"); // chosen in the settings, never the default
        int presses = 0, rKeysRead = 0;
        QObject context; // gone first: what it still has queued is dropped
        TypingChain
            typing; // the program's typing service: XTest keys, which the monitor must know for its own
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
        TerminalTarget xterm(dir.filePath("typed.txt"));
        QVERIFY(xterm.isReady());
        xdotool({ "key", "shift+r", "Shift_R+r" });
        QTRY_COMPARE(presses, 2);

        // Caps Lock on, Control or Alt held, no Shift: not the hotkey. Those keys came through XTEST, as ours
        // do: the monitor has read them before dictation types.
        xdotool({ "key", "Caps_Lock", "shift+r", "Caps_Lock", "ctrl+shift+r", "alt+shift+r", "r" });
        QTRY_COMPARE(rKeysRead, 6);
        QCOMPARE(presses, 2);
        // Dictation's capital Rs are Shift + R too.
        QCoro::waitFor(typing.type("Richard Roe"));
        // The user's own press after all that counts, once; none of ours is read.
        xdotool({ "key", "shift+r", "r" });
        QTRY_VERIFY(rKeysRead >= 8);
        QCOMPARE(rKeysRead, 8);
        QCOMPARE(presses, 3);
        const QString text = xterm.finish(); // with what Ctrl and Alt made of the R between
        QVERIFY2(text.startsWith("RRr") && text.endsWith("rRichard RoeRr"), qPrintable(text));
        Settings::remove(Hotkey::settingsKey);
    }

    void programDictatesOnItsShortcutAndComesBackWhereItWasLeft()
    {
        auto tellwind = launch();
        QVERIFY(tellwind);
        // Its windows carry its own icon, for the window list and its alerts.
        const QString icon = runCommand("xprop", { "-id", panel(*tellwind), "_NET_WM_ICON" });
        QVERIFY2(icon.startsWith("_NET_WM_ICON(CARDINAL) = "), qPrintable(icon.left(200)));

        // The shortcut in whatever has the focus starts and stops dictation, and so do a left click on the
        // tray item and its first entry, which follows the state.
        QTRY_COMPARE(watcher->items().size(), 1);
        const Item item { watcher->items().value(0) };
        QTRY_COMPARE(item.menu(),
            QStringList({ "Start Dictation", "---", "Show Panel", "Choose Language…", "Settings…", "---",
                "Quit Tellwind" }));
        const auto count = [&tellwind](const QString &line) { return tellwind->lines().filter(line).size(); };
        // A new user's shortcut is Ctrl+Alt+D: a capital R they type is only an R (were it the shortcut, this
        // would start and stop).
        xdotool({ "key", "shift+r", "ctrl+alt+d" });
        QTRY_COMPARE(count("✅ Recording started"), 1);
        QTRY_COMPARE(item.menu().value(0), QString("Stop Dictation"));
        item.activate("Activate");
        // A stop waits for the recognizer's last words, up to 5 s.
        QTRY_COMPARE_WITH_TIMEOUT(count("✅ Recording stopped"), 1, 15000);
        QTRY_COMPARE(item.menu().value(0), QString("Start Dictation"));
        item.click(0);
        QTRY_COMPARE(count("✅ Recording started"), 2);
        xdotool({ "key", "ctrl+alt+d" });
        QTRY_COMPARE_WITH_TIMEOUT(count("✅ Recording stopped"), 2, 15000);

        // The user moves the panel, then quits from the tray: the place is saved once more on the way out.
        xdotool({ "windowmove", panel(*tellwind), "100", "150" });
        QVERIFY(tellwind->waitForLine("💾 Window position saved: (100.0, 150.0)"));
        item.click(6); // Quit Tellwind
        QVERIFY(tellwind->hasEnded(10000));
        // The recognizer's model may finish loading in the background at any time (late on a slow machine);
        // its line is not part of the quit.
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

QTEST_MAIN(TestDesktopSession)
#include "test_desktop_session.moc"
