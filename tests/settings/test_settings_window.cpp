#include "account/AuthManager.h"
#include "app/SettingsWindow.h"
#include "common/Settings.h"
#include "desktop/GlobalHotkeyManager.h"
#include "desktop/LaunchAtLoginManager.h"
#include "desktop/MenuBarManager.h"
#include "desktop/WindowPositionManager.h"
#include "fakes/FakeAutostartStore.h"
#include "fakes/FakeKeyMonitor.h"
#include "fakes/FakeStatusBar.h"
#include "fakes/FakeWorkspace.h"
#include "platform/PlatformStatus.h"
#include "support/QuickItems.h"

#include <QFile>
#include <QQmlEngine>
#include <QQmlPropertyMap>
#include <QStandardPaths>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(Tellwind_ViewsPlugin)

namespace {

// The settings window over real managers whose platform ends are fakes.
struct Fixture {
    FakeKeyMonitor *keyMonitor = new FakeKeyMonitor;
    FakeStatusBar *statusBar = new FakeStatusBar;
    FakeAutostartStore *autostart = new FakeAutostartStore;
    GlobalHotkeyManager hotkey { std::unique_ptr<KeyMonitor>(keyMonitor) };
    MenuBarManager menuBar { std::unique_ptr<StatusBar>(statusBar) };
    LaunchAtLoginManager launchAtLogin { std::unique_ptr<AutostartStore>(autostart) };
    WindowPositionManager windowPosition;
    AuthManager auth;
    FakeWorkspace workspace;
    QQmlEngine engine;
    SettingsWindow settings { engine, workspace };

    explicit Fixture(QObject *authForViews = nullptr)
    {
        qmlRegisterSingletonInstance("Tellwind.Core", 1, 0, "GlobalHotkeyManager", &hotkey);
        qmlRegisterSingletonInstance("Tellwind.Core", 1, 0, "MenuBarManager", &menuBar);
        qmlRegisterSingletonInstance("Tellwind.Core", 1, 0, "LaunchAtLoginManager", &launchAtLogin);
        qmlRegisterSingletonInstance("Tellwind.Core", 1, 0, "WindowPositionManager", &windowPosition);
        PlatformStatus::instance().setTypingBackend(QStringLiteral("X11 (XTEST)"));
        qmlRegisterSingletonInstance("Tellwind.Core", 1, 0, "PlatformStatus", &PlatformStatus::instance());
        qmlRegisterSingletonInstance(
            "Tellwind.Core", 1, 0, "AuthManager", authForViews ? authForViews : &auth);
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

    void opensOnceAndTogglesDriveTheirManagersAndStoredKeys()
    {
        Fixture f;
        QPointer<QQuickWindow> window = f.open();
        QVERIFY(window && window->title() == "Tellwind Settings");
        // An ordinary window, not a panel or tool window.
        QCOMPARE(window->flags() & (Qt::WindowType_Mask | Qt::FramelessWindowHint), Qt::Window);
        f.settings.open();
        QCOMPARE(f.settings.window(), window);

        // First launch switched the login item on.
        QVERIFY(f.launchAtLogin.isEnabled() && f.isOn("launchAtLoginToggle"));
        QVERIFY(f.click("launchAtLoginToggleSwitch"));
        QVERIFY(!f.launchAtLogin.isEnabled());
        QCOMPARE(f.autostart->calls.last(), QString("unregister"));
        QTRY_COMPARE(f.text("loginStatus"), QString("Tellwind will not launch at login"));
        // A registration the desktop refuses flips the toggle back.
        f.autostart->registerError = QStringLiteral("read-only autostart folder");
        QVERIFY(f.click("launchAtLoginToggleSwitch"));
        QTRY_VERIFY(!f.launchAtLogin.isEnabled() && !f.isOn("launchAtLoginToggle"));
        f.autostart->registerError.reset();
        QVERIFY(f.click("launchAtLoginToggleSwitch"));
        QTRY_VERIFY(f.launchAtLogin.isEnabled() && f.isOn("launchAtLoginToggle"));

        // The status line is read again whenever the tab is drawn.
        using Status = AutostartStore::Status;
        for (const auto &[status, text] :
            QList<QPair<Status, QString>> { { Status::enabled, "Tellwind will launch when you log in" },
                { Status::requiresApproval, "Requires approval in System Settings" },
                { Status::notFound, "Service not found" } }) {
            f.autostart->currentStatus = status;
            QVERIFY(f.showTab("General"));
            QTRY_COMPARE(f.text("loginStatus"), text);
        }

        // Menu-bar item: gone at once, and remembered.
        QVERIFY(f.statusBar->item);
        QVERIFY(f.click("menuBarToggleSwitch"));
        QVERIFY(!f.menuBar.isEnabled() && !f.statusBar->item);
        QCOMPARE(Settings::boolValue(MenuBarManager::enabledKey, true), false);

        // Hotkey: the monitors go and come back, and the choice is stored; a
        // change made elsewhere shows in the open window.
        QVERIFY(f.showTab("Hotkey", "General"));
        QTRY_VERIFY(f.item("hotkeyToggle"));
        f.hotkey.start();
        QVERIFY(f.keyMonitor->globalCount() > 0);
        QVERIFY(f.click("hotkeyToggleSwitch"));
        QVERIFY(!f.hotkey.isEnabled());
        QCOMPARE(f.keyMonitor->globalCount(), 0);
        QCOMPARE(Settings::boolValue(GlobalHotkeyManager::enabledKey, true), false);
        f.hotkey.setIsEnabled(true);
        QTRY_VERIFY(f.isOn("hotkeyToggle"));
        QCOMPARE(Settings::boolValue(GlobalHotkeyManager::enabledKey, false), true);
        // The shortcut in use, and the way the program types on this desktop.
        QVERIFY(f.hotkey.recordHotkey(Qt::Key_D, Qt::ControlModifier | Qt::AltModifier));
        QTRY_COMPARE(f.text("hotkeyText"), QStringLiteral("Shortcut: Ctrl+Alt+D"));
        f.hotkey.resetHotkey();
        QTRY_COMPARE(f.text("hotkeyText"), QStringLiteral("Shortcut: Shift + R"));
        QVERIFY(f.showTab("General"));
        QTRY_COMPARE(f.text("typingBackend"), QStringLiteral("Typing: X11 (XTEST)"));

        // Closed, it is made afresh the next time.
        window->close();
        QTRY_VERIFY(!f.settings.window() && !window);
        QVERIFY(f.open());
    }

    void resetToCenterForgetsThePositionWithANotice()
    {
        Settings::setDouble(WindowPositionManager::positionXKey, 40);
        Settings::setDouble(WindowPositionManager::positionYKey, 60);
        Settings::setBool(WindowPositionManager::hasStoredPositionKey, true);
        Fixture f;
        QVERIFY(f.open());
        QVERIFY(f.showTab("Appearance"));
        QTRY_VERIFY(f.item("resetPositionButton"));
        QVERIFY(!f.item("resetNotice"));
        QVERIFY(f.click("resetPositionButton"));
        QTRY_COMPARE(f.text("resetNotice"), QString("Window position will reset to center on next launch."));
        QVERIFY(!Settings::contains(WindowPositionManager::positionXKey)
            && !Settings::contains(WindowPositionManager::positionYKey));
        QVERIFY(!Settings::boolValue(WindowPositionManager::hasStoredPositionKey, true));
    }

    void accountTabFollowsTheSession()
    {
        Fixture f;
        QVERIFY(f.open());
        QVERIFY(f.click("tabAccount"));
        QTRY_VERIFY(f.item("signInButton"));
        QVERIFY(!f.item("signOutButton"));
        QVERIFY(f.click("signInButton"));
        QCOMPARE(f.workspace.openedUrls,
            QList<QUrl> { QUrl("http://127.0.0.1:8750/auth/login?returnTo=/auth/account") });

        User user;
        user.id = QStringLiteral("42");
        user.email = QStringLiteral("<b>ada</b>@example.com");
        f.auth.saveAuth(user, QStringLiteral("token-1"));
        QTRY_VERIFY(f.item("signOutButton") && !f.item("signInButton"));
        QCOMPARE(f.text("accountEmail"), user.email);
        QCOMPARE(f.item("accountEmail")->property("textFormat").toInt(), int(Qt::PlainText));

        QVERIFY(f.click("signOutButton"));
        QVERIFY(!f.auth.isAuthenticated());
        QVERIFY(!Settings::contains(AuthManager::tokenKey) && !Settings::contains(AuthManager::userKey));
        QTRY_VERIFY(f.item("signInButton") && !f.item("accountEmail"));

        // Signed in without an account record: a state the manager never reaches by itself.
        QQmlPropertyMap standIn;
        standIn.insert({ { "isAuthenticated", true }, { "baseURL", "http://127.0.0.1:9" } });
        Fixture g(&standIn);
        QVERIFY(g.open());
        QVERIFY(g.click("tabAccount"));
        QTRY_COMPARE(g.text("accountEmail"), QString("Signed In"));
        QVERIFY(g.item("signOutButton"));
    }
};

QTEST_MAIN(TestSettingsWindow)
#include "test_settings_window.moc"
