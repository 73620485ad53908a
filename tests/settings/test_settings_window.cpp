#include "account/AuthManager.h"
#include "app/AppDelegate.h"
#include "app/AppState.h"
#include "app/QmlTypes.h"
#include "app/SettingsWindow.h"
#include "app/SettingsWriteAlert.h"
#include "app/SpeechSettings.h"
#include "common/Settings.h"
#include "desktop/GlobalHotkeyManager.h"
#include "desktop/LaunchAtLoginManager.h"
#include "desktop/MenuBarManager.h"
#include "desktop/WindowPositionManager.h"
#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeAutostartStore.h"
#include "fakes/FakeCursorIndicator.h"
#include "fakes/FakeDictationRecognizer.h"
#include "fakes/FakeDictationTyping.h"
#include "fakes/FakeKeyMonitor.h"
#include "fakes/FakeStatusBar.h"
#include "fakes/FakeWorkspace.h"
#include "platform/SessionInfo.h"
#include "platform/WindowSystem.h"
#include "support/QuickItems.h"
#include "support/ScriptedHttpServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QQmlEngine>
#include <QStandardPaths>
#include <QTest>

#include <memory>

namespace
{

// The settings window over real managers whose platform ends are fakes.
struct Fixture {
    FakeStatusBar *statusBar = new FakeStatusBar;
    FakeAutostartStore *autostart = new FakeAutostartStore;
    GlobalHotkeyManager hotkey { std::make_unique<FakeKeyMonitor>() };
    MenuBarManager menuBar { std::unique_ptr<StatusBar>(statusBar) };
    LaunchAtLoginManager launchAtLogin;
    WindowPositionManager windowPosition;
    AuthManager auth;
    FakeWorkspace workspace;
    SpeechSettings speech { [] {
        return QList<QPair<QString, QString>> { { "mic", "Virtual microphone" }, { "headset", "Headset" } };
    } };
    PlatformStatus platform;
    QQmlEngine engine;
    SettingsWindow settings { engine, workspace };

    // Tellwind as installed, unless it runs from `program`.
    explicit Fixture(const QString &program = QStringLiteral("/usr/bin/tellwind"))
        : launchAtLogin(std::unique_ptr<AutostartStore>(autostart), program)
    {
        provideQmlObjects(engine,
            { .speechSettings = &speech,
                .launchAtLoginManager = &launchAtLogin,
                .hotkeyManager = &hotkey,
                .menuBarManager = &menuBar,
                .windowPositionManager = &windowPosition,
                .authManager = &auth,
                .platformStatus = &platform });
    }

    QQuickWindow *open()
    {
        settings.open();
        QQuickWindow *window = settings.window();
        return window && QTest::qWaitForWindowExposed(window) ? window : nullptr;
    }
    QQuickItem *item(const QString &name) const { return findVisibleItem(settings.window(), name); }
    QString text(const QString &name) const { return itemText(item(name)); }
    bool click(const QString &name) const { return clickItem(item(name)); }
    bool isOn(const QString &toggle) const { return item(toggle + "Switch")->property("checked").toBool(); }
    // Draws the tab afresh by way of another one.
    bool showTab(const QString &label, const QString &via = QStringLiteral("Hotkey"))
    {
        return click("tab" + via) && click("tab" + label);
    }
};

} // namespace

class TestSettingsWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init()
    {
        QFile::remove(Settings::filePath());
        Settings::setString(AuthManager::baseURLKey, QStringLiteral("http://127.0.0.1:8750"));
    }

    // Run from a build folder, the switch is off and cannot be turned on,
    // and the line below it says why instead of the desktop's status.
    void launchAtLoginFromABuildFolder()
    {
        Fixture f(QStringLiteral("/home/user/src/tellwind/build/tellwind"));
        QVERIFY(f.open());
        QVERIFY(!f.item("launchAtLoginToggle")->isEnabled());
        QVERIFY(f.text("loginStatus").contains("/home/user/src/tellwind/build"));
        f.launchAtLogin.setIsEnabled(true);
        QVERIFY(!f.launchAtLogin.isEnabled() && !f.isOn("launchAtLoginToggle"));
        QVERIFY(f.autostart->calls.isEmpty());
    }

    void opensOnceAndTogglesDriveTheirManagers()
    {
        Fixture f;
        QPointer<QQuickWindow> window = f.open();
        QVERIFY(window && window->title() == "Tellwind Settings");
        // An ordinary window, not a panel or tool window.
        QCOMPARE(window->flags() & (Qt::WindowType_Mask | Qt::FramelessWindowHint), Qt::Window);
        f.settings.open();
        QCOMPARE(f.settings.window(), window);

        // Nothing starts at login until the user says so; a registration
        // the desktop refuses flips the toggle back.
        QVERIFY(!f.launchAtLogin.isEnabled() && !f.isOn("launchAtLoginToggle"));
        QVERIFY(f.autostart->calls.isEmpty());
        QVERIFY(f.click("launchAtLoginToggleSwitch"));
        QVERIFY(f.launchAtLogin.isEnabled());
        QCOMPARE(f.autostart->calls, QStringList { "register" });
        QVERIFY(f.click("launchAtLoginToggleSwitch"));
        QVERIFY(!f.launchAtLogin.isEnabled());
        QCOMPARE(f.autostart->calls.last(), QString("unregister"));
        f.autostart->registerError = QStringLiteral("read-only autostart folder");
        QVERIFY(f.click("launchAtLoginToggleSwitch"));
        QTRY_VERIFY(!f.launchAtLogin.isEnabled() && !f.isOn("launchAtLoginToggle"));

        // Menu-bar item: gone at once, and remembered.
        QVERIFY(f.statusBar->item);
        QVERIFY(f.click("menuBarToggleSwitch"));
        QVERIFY(!f.menuBar.isEnabled() && !f.statusBar->item);

        // Hotkey: off from here; a change made elsewhere shows in the open window.
        QVERIFY(f.showTab("Hotkey", "General"));
        QTRY_VERIFY(f.item("hotkeyToggle"));
        QVERIFY(f.click("hotkeyToggleSwitch"));
        QVERIFY(!f.hotkey.isEnabled());
        f.hotkey.setIsEnabled(true);
        QTRY_VERIFY(f.isOn("hotkeyToggle"));

        // Closed, it is made afresh the next time.
        window->close();
        QTRY_VERIFY(!f.settings.window() && !window);
        QVERIFY(f.open());
    }

    void speechSectionTestsTheServerAndChoosesTheMicrophone()
    {
        ScriptedHttpServer http;
        http.fallback = ScriptedHttpServer::Reply(200,
            R"({"languages":[{"code":"en-US","engine":"pocketsphinx"},{"code":"es-ES","engine":"upstream"}]})");
        QString deadAddress;
        {
            ScriptedHttpServer gone;
            deadAddress = gone.baseUrl();
        }
        Fixture f;
        QVERIFY(f.open());
        QVERIFY(f.showTab("General"));
        QTRY_COMPARE(f.text("serverField"), QString("http://127.0.0.1:8750"));

        // The address typed is what is tested, and kept.
        // The section is below the fold of the tab: pressed the way a keyboard would.
        auto pressTest = [&f] { return QMetaObject::invokeMethod(f.item("serverTestButton"), "clicked"); };
        f.item("serverField")->setProperty("text", http.baseUrl());
        QVERIFY(pressTest());
        QTRY_COMPARE(
            f.text("serverTestResult"), QString("The server recognises 2 language(s): en-US, es-ES"));
        QCOMPARE(Settings::stringValue(SpeechSettings::serverBaseURLKey), http.baseUrl());
        f.item("serverField")->setProperty("text", deadAddress);
        QVERIFY(pressTest());
        QTRY_VERIFY(f.text("serverTestResult").startsWith("No answer: "));

        // The sound server's inputs, the system's default first; a choice is stored by name.
        QQuickItem *box = f.item("microphoneBox");
        auto descriptions = [box] {
            QStringList names;
            for (const QVariant &entry : box->property("model").toList())
                names << entry.toMap().value("description").toString();
            return names;
        };
        QTRY_COMPARE(descriptions(), (QStringList { "System default", "Virtual microphone", "Headset" }));
        QVERIFY(QMetaObject::invokeMethod(box, "activated", Q_ARG(int, 2)));
        QCOMPARE(Settings::stringValue(SpeechSettings::microphoneKey), QString("headset"));

        // One that is not plugged in stays chosen, with a word on what is used meanwhile.
        f.speech.setMicrophone("usb-headset");
        QTRY_VERIFY(f.text("microphoneNotice").contains("usb-headset"));
        QCOMPARE(box->property("displayText").toString(), QString("usb-headset"));
        QVERIFY(QMetaObject::invokeMethod(box, "activated", Q_ARG(int, 0)));
        QVERIFY(!Settings::contains(SpeechSettings::microphoneKey));
        QTRY_VERIFY(!f.item("microphoneNotice"));
    }

    // Tab walks the tab strip and then the page in reading order, Space and
    // Enter flip a switch, Ctrl+Tab and Ctrl+Shift+Tab go round the tabs,
    // Escape closes.
    void keyboardAlone()
    {
        Fixture f;
        QPointer<QQuickWindow> window = f.open();
        QVERIFY(window && QTest::qWaitForWindowActive(window));
        auto focused = [&window] {
            QQuickItem *item = window ? window->activeFocusItem() : nullptr;
            return item ? item->objectName() : QString();
        };
        auto press = [&window](Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
            QTest::keyClick(window, key, modifiers);
        };
        QTRY_COMPARE(focused(), QString("tabGeneral"));
        // Round the tab strip, then down the General page and back to its tab.
        QStringList order;
        for (int step = 0; step < 30 && (order.isEmpty() || order.last() != "tabGeneral"); ++step) {
            press(Qt::Key_Tab);
            order << focused();
        }
        QCOMPARE(order.mid(0, 5),
            (QStringList { "tabAccount", "tabHotkey", "tabAppearance", "launchAtLoginToggleSwitch",
                "menuBarToggleSwitch" }));
        QCOMPARE(order.last(), QString("tabGeneral"));
        for (const char *control : { "serverField", "serverTestButton", "microphoneBox" })
            QVERIFY2(order.contains(control), qPrintable(order.join(", ")));
        press(Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(focused(), order.value(order.size() - 2));
        for (int step = 0; step < 30 && focused() != "menuBarToggleSwitch"; ++step)
            press(Qt::Key_Backtab, Qt::ShiftModifier);

        press(Qt::Key_Space);
        QTRY_VERIFY(!f.menuBar.isEnabled());
        press(Qt::Key_Return);
        QTRY_VERIFY(f.menuBar.isEnabled() && f.isOn("menuBarToggle"));

        press(Qt::Key_Tab, Qt::ControlModifier);
        QTRY_COMPARE(focused(), QString("tabAccount"));
        press(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
        press(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
        QTRY_COMPARE(focused(), QString("tabAppearance"));
        QTRY_VERIFY(f.item("resetPositionButton"));

        press(Qt::Key_Escape);
        QTRY_VERIFY(!window);
        QVERIFY(!f.settings.window());
    }

    void trayOpensTheSettingsBeforeThePanelIsLoaded()
    {
        Fixture f;
        FakeDictationRecognizer recognizer;
        FakeCursorIndicator indicator;
        FakeDictationTyping typing;
        AppState state { recognizer, indicator, typing };
        // The delegate's neighbours are the fixture's.
        const auto windowSystem = WindowSystem::create(SessionInfo::current());
        AppDelegate delegate { state, typing, *windowSystem,
            AppDelegate::Services { f.auth, f.launchAtLogin, f.hotkey, f.menuBar, &f.settings } };
        delegate.applicationDidFinishLaunching();

        QVERIFY(f.statusBar->item && f.statusBar->item->menu);
        QAction *settings = nullptr;
        for (QAction *action : f.statusBar->item->menu->actions())
            settings = action->shortcut() == QKeySequence(QStringLiteral("Ctrl+,")) ? action : settings;
        QVERIFY(settings);
        settings->trigger();
        QPointer<QQuickWindow> window = f.settings.window();
        QVERIFY(window && QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->title(), QString("Tellwind Settings"));
        settings->trigger(); // brought back, not made twice
        QCOMPARE(f.settings.window(), window);
    }

    void unwritableSettingsAreToldOnce()
    {
        FakeAlertPresenter alerts;
        SettingsWriteAlert alert { alerts };
        const QString folder = QFileInfo(Settings::filePath()).absolutePath();
        QVERIFY(QDir(folder).removeRecursively());
        {
            // A file where the folder belongs: nobody, root included, can write there.
            QFile blocker(folder);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        auto unblock = qScopeGuard([folder] { QFile::remove(folder); });
        // A sign-in writes the user and the token.
        QVERIFY(!Settings::setString(AuthManager::userKey, QStringLiteral("{}")));
        QVERIFY(!Settings::setString(AuthManager::tokenKey, QStringLiteral("token-1")));
        QVERIFY(alerts.shown.isEmpty()); // not from inside the write
        QTRY_COMPARE(alerts.shown.size(), 1);
        QVERIFY(!Settings::setBool(MenuBarManager::enabledKey, false));
        QTest::qWait(50);
        QCOMPARE(alerts.shown.size(), 1);
        QCOMPARE(alerts.shown.first().title, QString("Tellwind Cannot Save Its Settings"));
        QVERIFY(alerts.shown.first().informativeText.contains(Settings::filePath()));
    }

    void accountTabFollowsTheSession()
    {
        Fixture f;
        QVERIFY(f.open());
        QVERIFY(f.click("tabAccount"));
        QTRY_VERIFY(f.item("signInButton") && !f.item("signOutButton"));
        // The fixture's sign-in keeps its token in the settings file, as where no keyring answers.
        QVERIFY(f.text("tokenStorageNote").contains("settings file"));
        QVERIFY(f.click("signInButton"));
        QCOMPARE(f.workspace.openedUrls.size(), 1);

        User user;
        user.id = QStringLiteral("42");
        user.email = QStringLiteral("<b>ada</b>@example.com");
        f.auth.saveAuth(user, QStringLiteral("token-1"));
        QTRY_VERIFY(f.item("signOutButton") && !f.item("signInButton"));
        QCOMPARE(f.text("accountEmail"), user.email);
        QCOMPARE(f.item("accountEmail")->property("textFormat").toInt(), int(Qt::PlainText));

        QVERIFY(f.click("signOutButton"));
        QVERIFY(!f.auth.isAuthenticated());
        QTRY_VERIFY(f.item("signInButton") && !f.item("accountEmail"));
    }
};

QTEST_MAIN(TestSettingsWindow)
#include "test_settings_window.moc"
