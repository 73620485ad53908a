// Tellwind on the harness's X server and session bus: Shift + R pressed by
// another XTEST client while an xterm has the focus; the tray item as a
// stand-in panel reads it over D-Bus; and the real program from a new user's
// first launch to a relaunch at the panel's last place.
#include "app/AppDelegate.h"
#include "app/AppState.h"
#include "app/ProcessRig.h"
#include "common/Settings.h"
#include "common/Shared.h"
#include "desktop/GlobalHotkeyManager.h"
#include "desktop/LaunchAtLoginManager.h"
#include "desktop/MenuBarManager.h"
#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeApplicationBundle.h"
#include "fakes/FakeAutostartStore.h"
#include "fakes/FakeCursorIndicator.h"
#include "fakes/FakeDictationRecognizer.h"
#include "fakes/FakeDictationTyping.h"
#include "fakes/FakeKeyMonitor.h"
#include "fakes/FakeWorkspace.h"
#include "output/TextInsertionService.h"
#include "platform/SyntheticKeyLog.h"
#include "platform/WindowSystem.h"
#include "platform/qt/QtPasteboard.h"
#include "platform/qt/QtStatusBar.h"
#include "platform/x11/X11KeyMonitor.h"
#include "platform/x11/XTestKeyboard.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QFile>
#include <QMutex>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {

// The event loop runs meanwhile: the item may live in this very process.
inline QList<QVariant> call(const QString &service, const QString &path, const QString &interface,
                            const QString &method, const QList<QVariant> &arguments = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(message, 5000);
    if (!QTest::qWaitFor([&] { return pending.isFinished(); }, 6000))
        return {};
    return pending.reply().arguments();
}

// One node of a dbusmenu layout.
struct Layout {
    int id = 0;
    QVariantMap properties;
    QList<QDBusVariant> children;
};

inline const QDBusArgument &operator>>(const QDBusArgument &argument, Layout &layout)
{
    argument.beginStructure();
    argument >> layout.id >> layout.properties >> layout.children;
    argument.endStructure();
    return argument;
}

struct Item {
    QString service;

    QVariant property(const QString &name) const
    {
        const auto reply = call(service, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                                {QStringLiteral("org.kde.StatusNotifierItem"), name});
        return reply.value(0).value<QDBusVariant>().variant();
    }
    QString menuPath() const { return qvariant_cast<QDBusObjectPath>(property("Menu")).path(); }
    void activate(const QString &method) const
    {
        call(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", method, {10, 10});
    }

    // Each entry as "label" or "label [Shift+R]", "---" for a separator.
    QStringList menu(QList<int> *ids = nullptr) const
    {
        const auto reply = call(service, menuPath(), "com.canonical.dbusmenu", "GetLayout", {0, -1, QStringList()});
        QStringList entries;
        for (const QDBusVariant &child : qdbus_cast<Layout>(reply.value(1)).children) {
            const Layout item = qdbus_cast<Layout>(child.variant());
            const QVariantMap &properties = item.properties;
            QString entry = properties.value("type") == "separator" ? "---" : properties.value("label").toString();
            for (const QStringList &keys : qdbus_cast<QList<QStringList>>(properties.value("shortcut")))
                entry += " [" + keys.join('+') + "]";
            entries << entry;
            if (ids)
                *ids << item.id;
        }
        return entries;
    }
    void click(int index) const
    {
        QList<int> ids;
        menu(&ids);
        call(service, menuPath(), "com.canonical.dbusmenu", "Event",
             {ids.value(index), QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
    }

    // Any clearly red pixel in the pictures it publishes (ARGB32, network byte order).
    bool isRed() const
    {
        const QDBusArgument pixmaps = property("IconPixmap").value<QDBusArgument>();
        bool red = false;
        pixmaps.beginArray();
        while (!pixmaps.atEnd()) {
            int size = 0;
            QByteArray argb;
            pixmaps.beginStructure();
            pixmaps >> size >> size >> argb;
            pixmaps.endStructure();
            for (qsizetype i = 0; i + 3 < argb.size(); i += 4)
                red = red || (uchar(argb[i]) > 200 && uchar(argb[i + 1]) > 200 && uchar(argb[i + 2]) < 100);
        }
        pixmaps.endArray();
        return red;
    }
};

class Watcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)

public:
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

// The watcher, answering on a thread and bus connection of its own: items
// register with a blocking call, possibly from this very process.
class Panel
{
public:
    ~Panel()
    {
        QMetaObject::invokeMethod(m_watcher, &QObject::deleteLater);
        m_thread.quit();
        m_thread.wait();
    }

    // False when the watcher's name could not be taken.
    bool start()
    {
        m_watcher->moveToThread(&m_thread);
        m_thread.start();
        bool registered = false;
        QMetaObject::invokeMethod(
            m_watcher,
            [this, &registered] {
                QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "watcher");
                registered = bus.registerObject("/StatusNotifierWatcher", m_watcher,
                                                QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties)
                    && bus.registerService("org.kde.StatusNotifierWatcher");
            },
            Qt::BlockingQueuedConnection);
        return registered;
    }

    Item item(int index) const { return {m_watcher->items().value(index)}; }
    int itemCount() const { return int(m_watcher->items().size()); }

private:
    QThread m_thread;
    Watcher *m_watcher = new Watcher;
};

bool run(const QString &program, const QStringList &arguments) { return QProcess::execute(program, arguments) == 0; }

QString xdotool(const QStringList &arguments)
{
    QProcess process;
    process.start("xdotool", arguments);
    process.waitForFinished(10000);
    return QString::fromLatin1(process.readAllStandardOutput()).trimmed();
}

QString settingsValue(const QString &key) { return QSettings(Settings::filePath(), QSettings::IniFormat).value(key).toString(); }

} // namespace

class TestDesktopSession : public QObject
{
    Q_OBJECT

    Panel host;
    QTemporaryDir dir;
    const QString program = qEnvironmentVariable("TELLWIND_BUILD_DIR") + "/tellwind";
    QProcess xterm; // writes what it is typed into typed.txt
    std::unique_ptr<GlobalHotkeyManager> hotkey;
    int presses = 0;

    void startHotkeyAndFocusedXterm()
    {
        presses = 0;
        hotkey = std::make_unique<GlobalHotkeyManager>(std::make_unique<X11KeyMonitor>(SyntheticKeyLog::shared()));
        hotkey->onHotkeyPressed = [this] { ++presses; };
        xterm.start("xterm", {"-e", "sh", "-c", "stty -echo; cat > \"$0\"", dir.filePath("typed.txt")});
        QVERIFY(xterm.waitForStarted());
        const QString pid = QString::number(xterm.processId());
        QVERIFY(run("xdotool", {"windowfocus", "--sync", xdotool({"search", "--sync", "--onlyvisible", "--pid", pid})}));
    }
    // Ends the terminal's input; everything it received.
    QString typed()
    {
        xdotool({"key", "Return", "ctrl+d"});
        xterm.waitForFinished(10000);
        QFile file(dir.filePath("typed.txt"));
        file.open(QIODevice::ReadOnly);
        return QString::fromUtf8(file.readAll()).trimmed();
    }

    std::unique_ptr<Child> launch()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", dir.filePath("config")); // a new user's
        auto child = std::make_unique<Child>(environment);
        child->start(program);
        return child->waitForLine("✅ Window configured as floating borderless", 20000) ? std::move(child) : nullptr;
    }
    static QString panel(Child &tellwind)
    {
        const qint64 pid = tellwind.process().processId();
        return xdotool({"search", "--pid", QString::number(pid), "--name", "^Tellwind$"}).section('\n', 0, 0);
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings(Settings::filePath(), QSettings::IniFormat).clear();
        QVERIFY(host.start()); // the panel is there before the first item is made
        // A quick repeat keeps the test short; the monitor must follow it.
        QVERIFY(run("xset", {"r", "rate", "250", "30"}));
    }
    void cleanup()
    {
        hotkey.reset();
        xterm.kill();
        xterm.waitForFinished();
    }

    void userShiftRTogglesAndStillReachesTheFocusedApplication()
    {
        startHotkeyAndFocusedXterm();
        QVERIFY(run("xdotool", {"key", "shift+r", "Shift_R+r"}));
        QTRY_COMPARE(presses, 2);

        // Caps Lock on, Control or Alt held, no Shift: not the hotkey.
        QVERIFY(run("xdotool", {"key", "Caps_Lock", "shift+r", "Caps_Lock", "ctrl+shift+r", "alt+shift+r", "r"}));
        // Those keys came through XTEST, as ours do: the monitor has read them
        // by the time dictation types, a moment later.
        QTest::qWait(100);
        // A dictated sentence typed by the real typing service: its capital
        // Rs are Shift + R too.
        XTestKeyboard keyboard;
        QtPasteboard pasteboard;
        FakeAlertPresenter alerts;
        FakeWorkspace workspace;
        FakeApplicationBundle bundle;
        TextInsertionService typing(keyboard, keyboard, pasteboard, alerts, workspace, bundle);
        QCoro::waitFor(typing.insertText(QStringLiteral("Richard Roe")));
        // The user's own press after all that counts, once.
        QVERIFY(run("xdotool", {"key", "shift+r"}));
        QTRY_COMPARE(presses, 3);
        QTest::qWait(100);
        QCOMPARE(presses, 3);
        const QString text = typed(); // with what Ctrl and Alt made of the R between
        QVERIFY2(text.startsWith("RRr") && text.endsWith("rRichard RoeR"), qPrintable(text));

        // Switched off: inert, and remembered.
        hotkey->setIsEnabled(false);
        QCOMPARE(settingsValue("globalHotkeyEnabled"), QString("false"));
        QVERIFY(run("xdotool", {"key", "shift+r"}));
        QTest::qWait(150);
        QCOMPARE(presses, 3);
        hotkey->setIsEnabled(true);
    }

    void holdingShiftRRepeats()
    {
        startHotkeyAndFocusedXterm();
        // Shift let go while R is still held: the repeats after are lowercase.
        QProcess hold;
        hold.start("xdotool", {"keydown", "shift+r", "sleep", "0.8", "keyup", "shift", "sleep", "0.3", "keyup", "r"});
        QTRY_VERIFY_WITH_TIMEOUT(hold.state() == QProcess::NotRunning, 5000);
        QTest::qWait(100);

        // Each capital R the terminal got toggled once; the lowercase ones did not.
        const QString text = typed();
        QVERIFY2(presses >= 5 && qAbs(int(text.count('R')) - presses) <= 2 && text.endsWith("rrr"),
                 qPrintable(QStringLiteral("%1 toggles for %2").arg(presses).arg(text)));
    }

    void trayItemFollowsTheRecording()
    {
        auto *keys = new FakeKeyMonitor;
        auto *manager = new MenuBarManager(std::make_unique<QtStatusBar>());
        Shared<MenuBarManager>::install(manager);
        Shared<GlobalHotkeyManager>::install(new GlobalHotkeyManager(std::unique_ptr<KeyMonitor>(keys)));
        Shared<LaunchAtLoginManager>::install(new LaunchAtLoginManager(std::make_unique<FakeAutostartStore>()));
        QStringList called;
        manager->onToggleRecording = [&] { called << "toggle"; };
        manager->onShowWindow = [&] { called << "show"; };
        manager->onOpenSettings = [&] { called << "settings"; };
        manager->onQuit = [&] { called << "quit"; };

        QTRY_COMPARE(host.itemCount(), 1);
        const Item item = host.item(0);
        QCOMPARE(item.menu(), QStringList({"Toggle Recording [Shift+R]", "---", "Show Window",
                                           "Settings... [Control+,]", "---", "Quit Tellwind [Control+Q]"}));
        QVERIFY(!item.isRed());
        // A left click on the item toggles, a middle click does not; then each entry.
        item.activate("Activate");
        item.activate("SecondaryActivate");
        for (const int index : {0, 2, 3, 5})
            item.click(index);
        QTRY_COMPARE(called, QStringList({"toggle", "toggle", "show", "settings", "quit"}));

        // In the application the item shows the real recording state,
        // whatever started or stopped it.
        FakeDictationRecognizer recognizer;
        FakeCursorIndicator indicator;
        FakeDictationTyping typing;
        AppState state {&recognizer, &indicator, &typing};
        state.setRestartGrace(std::chrono::milliseconds(20));
        AppDelegate delegate {&state, &typing, &WindowSystem::shared()};
        delegate.applicationDidFinishLaunching();
        state.toggleFromPanel();
        QTRY_COMPARE(item.menu().value(0), QString("Stop Recording [Shift+R]"));
        QTRY_VERIFY(item.isRed());
        recognizer.setListening(false); // it ended by itself
        QTRY_COMPARE(item.menu().value(0), QString("Start Recording [Shift+R]"));
        QVERIFY(!item.isRed());
        keys->typeInOtherApplication({KeyEvent::ansiR, KeyModifier::shift});
        QTRY_COMPARE(item.menu().value(0), QString("Stop Recording [Shift+R]"));
        item.click(0);
        QTRY_VERIFY(!state.isRecording());
        QTRY_COMPARE(item.menu().value(0), QString("Start Recording [Shift+R]"));

        // Switched off: the item leaves the panel at once.
        QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
        QVERIFY(bus->isServiceRegistered(item.service));
        manager->setIsEnabled(false);
        QTRY_VERIFY(!bus->isServiceRegistered(item.service));
    }

    void programDictatesOnShiftRAndComesBackWhereItWasLeft()
    {
        auto tellwind = launch();
        QVERIFY(tellwind);
        QVERIFY(tellwind->lines().contains("🚀 First launch - enabling Launch at Login by default"));
        QFile entry(dir.filePath("config/autostart/tellwind.desktop"));
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QVERIFY(entry.readAll().contains("\nExec=" + QFileInfo(program).absoluteFilePath().toUtf8() + "\n"));

        // Shift + R in whatever has the focus starts and stops dictation.
        QTRY_COMPARE(host.itemCount(), 2);
        const Item item = host.item(1);
        xdotool({"key", "shift+r"});
        QVERIFY(tellwind->waitForLine("✅ Recording started"));
        QTRY_COMPARE(item.menu().value(0), QString("Stop Recording [Shift+R]"));
        xdotool({"key", "shift+r"});
        QVERIFY(tellwind->waitForLine("✅ Recording stopped"));

        // The user moves the panel, then quits from the tray: the place is
        // saved once more on the way out.
        xdotool({"windowmove", panel(*tellwind), "100", "150"});
        QVERIFY(tellwind->waitForLine("💾 Window position saved: (100.0, 150.0)"));
        item.click(5);
        QVERIFY(tellwind->process().waitForFinished(10000));
        QCOMPARE(tellwind->lines().mid(tellwind->lines().size() - 2),
                 QStringList({"💾 Window position saved: (100.0, 150.0)", "🎹 Global hotkey manager stopped"}));

        tellwind = launch();
        QVERIFY(tellwind);
        QVERIFY(tellwind->lines().contains("📍 Window position restored: (100.0, 150.0)"));
        QVERIFY(tellwind->lines().filter("First launch").isEmpty());
        QTRY_COMPARE(xdotool({"getwindowgeometry", panel(*tellwind)}).section('\n', 1, 1).trimmed(),
                     QString("Position: 100,150 (screen: 0)"));
        QVERIFY(tellwind->lines().filter("💾").isEmpty()); // putting it there is no move of the user's
    }
};

QTEST_MAIN(TestDesktopSession)
#include "test_desktop_session.moc"
