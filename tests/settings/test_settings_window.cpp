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
#include "fakes/LogCapture.h"
#include "onboarding/QuickTestHelpers.h"

#include <QFile>
#include <QQmlEngine>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(Tellwind_ViewsPlugin)

namespace {

// Stands in for the sign-in manager in the one state it never reaches by
// itself: signed in, but without an account record.
class SignedInWithoutRecord : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isAuthenticated READ isAuthenticated CONSTANT)
    Q_PROPERTY(QVariant currentUser READ currentUser CONSTANT)
    Q_PROPERTY(QString baseURL READ baseURL CONSTANT)

public:
    bool isAuthenticated() const { return true; }
    QVariant currentUser() const { return {}; }
    QString baseURL() const { return QStringLiteral("http://127.0.0.1:9"); }
    Q_INVOKABLE void signOut() {}
};

// The settings window over real managers whose platform ends are fakes.
struct Fixture {
    FakeKeyMonitor *keyMonitor = new FakeKeyMonitor;
    FakeStatusBar *statusBar = new FakeStatusBar;
    FakeAutostartStore *autostart = new FakeAutostartStore;
    GlobalHotkeyManager hotkey{std::unique_ptr<KeyMonitor>(keyMonitor)};
    MenuBarManager menuBar{std::unique_ptr<StatusBar>(statusBar)};
    LaunchAtLoginManager launchAtLogin{std::unique_ptr<AutostartStore>(autostart)};
    WindowPositionManager windowPosition;
    AuthManager auth;
    FakeWorkspace workspace;
    QQmlEngine engine;
    SettingsWindow settings{engine, workspace};

    explicit Fixture(QObject *authForViews = nullptr)
    {
        qmlRegisterSingletonInstance("Tellwind.Core", 1, 0, "GlobalHotkeyManager", &hotkey);
        qmlRegisterSingletonInstance("Tellwind.Core", 1, 0, "MenuBarManager", &menuBar);
        qmlRegisterSingletonInstance("Tellwind.Core", 1, 0, "LaunchAtLoginManager", &launchAtLogin);
        qmlRegisterSingletonInstance("Tellwind.Core", 1, 0, "WindowPositionManager", &windowPosition);
        qmlRegisterSingletonInstance("Tellwind.Core", 1, 0, "AuthManager", authForViews ? authForViews : &auth);
    }

    QQuickWindow *open()
    {
        settings.open();
        QQuickWindow *window = settings.window();
        if (window && !QTest::qWaitForWindowExposed(window))
            return nullptr;
        return window;
    }
    QQuickItem *item(const QString &name) const { return findVisibleItem(settings.window(), name); }
    QString text(const QString &name) const
    {
        QQuickItem *found = item(name);
        return found ? found->property("text").toString() : QStringLiteral("<absent>");
    }
    bool isOn(const QString &toggle) const { return item(toggle + "Switch")->property("checked").toBool(); }
    bool showTab(const QString &label) { return clickItem(item("tab" + label)); }
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

    void opensOnceInFrontAndFreshAfterClosing()
    {
        Fixture f;
        QQuickWindow *window = f.open();
        QVERIFY(window);
        QCOMPARE(window->title(), QString("Tellwind Settings"));
        QCOMPARE(window->size(), QSize(450, 320));
        // An ordinary window, not a panel or tool window.
        QCOMPARE(window->flags() & Qt::WindowType_Mask, Qt::Window);
        QVERIFY(!(window->flags() & (Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)));
        QCOMPARE(window->modality(), Qt::NonModal);
        // Placed in the middle of the screen's usable area.
        QVERIFY(qAbs(window->geometry().center().x() - window->screen()->availableGeometry().center().x()) < 2);
        for (const char *tab : {"General", "Account", "Hotkey", "Appearance"})
            QVERIFY(f.item(QString("tab") + tab));

        f.settings.open();
        QCOMPARE(f.settings.window(), window);

        QPointer<QQuickWindow> closed(window);
        window->close();
        QTRY_VERIFY(!f.settings.window());
        QTRY_VERIFY(!closed);
        QVERIFY(f.open());
        QVERIFY(f.item("launchAtLoginToggle"));
    }

    void togglesDriveTheirManagersAndStoredKeys()
    {
        Fixture f;
        QVERIFY(f.open());
        // First launch switched the login item on.
        QVERIFY(f.launchAtLogin.isEnabled());
        QVERIFY(f.isOn("launchAtLoginToggle"));
        QCOMPARE(f.text("loginStatus"), QString("Tellwind will launch when you log in"));

        QVERIFY(clickItem(f.item("launchAtLoginToggleSwitch")));
        QVERIFY(!f.launchAtLogin.isEnabled());
        QCOMPARE(f.autostart->calls.last(), QString("unregister"));
        QTRY_COMPARE(f.text("loginStatus"), QString("Tellwind will not launch at login"));

        // A registration the desktop refuses flips the toggle back.
        f.autostart->registerError = QStringLiteral("read-only autostart folder");
        QVERIFY(clickItem(f.item("launchAtLoginToggleSwitch")));
        QTRY_VERIFY(!f.launchAtLogin.isEnabled());
        QTRY_VERIFY(!f.isOn("launchAtLoginToggle"));
        f.autostart->registerError.reset();
        QVERIFY(clickItem(f.item("launchAtLoginToggleSwitch")));
        QVERIFY(f.launchAtLogin.isEnabled());
        QTRY_VERIFY(f.isOn("launchAtLoginToggle"));

        // The status line is read again whenever the tab is drawn again.
        f.autostart->currentStatus = AutostartStore::Status::requiresApproval;
        QVERIFY(f.showTab("Hotkey"));
        QVERIFY(f.showTab("General"));
        QTRY_COMPARE(f.text("loginStatus"), QString("Requires approval in System Settings"));
        QVERIFY(f.isOn("launchAtLoginToggle"));
        f.autostart->currentStatus = AutostartStore::Status::notFound;
        QVERIFY(f.showTab("Account"));
        QVERIFY(f.showTab("General"));
        QTRY_COMPARE(f.text("loginStatus"), QString("Service not found"));

        // Menu-bar item: gone at once, and remembered.
        QVERIFY(f.statusBar->item);
        QVERIFY(clickItem(f.item("menuBarToggleSwitch")));
        QVERIFY(!f.menuBar.isEnabled());
        QVERIFY(!f.statusBar->item);
        QCOMPARE(Settings::boolValue(MenuBarManager::enabledKey, true), false);
        QVERIFY(clickItem(f.item("menuBarToggleSwitch")));
        QVERIFY(f.statusBar->item);
        QCOMPARE(Settings::boolValue(MenuBarManager::enabledKey, false), true);

        // Hotkey: the monitors go and come back, and the choice is stored.
        QVERIFY(f.showTab("Hotkey"));
        QTRY_VERIFY(f.item("hotkeyToggle"));
        f.hotkey.start();
        QVERIFY(f.keyMonitor->globalCount() > 0);
        QVERIFY(clickItem(f.item("hotkeyToggleSwitch")));
        QVERIFY(!f.hotkey.isEnabled());
        QCOMPARE(f.keyMonitor->globalCount(), 0);
        QCOMPARE(Settings::boolValue(GlobalHotkeyManager::enabledKey, true), false);
        // A change made elsewhere shows in the open window.
        f.hotkey.setIsEnabled(true);
        QTRY_VERIFY(f.isOn("hotkeyToggle"));
        QVERIFY(f.keyMonitor->globalCount() > 0);
        QCOMPARE(Settings::boolValue(GlobalHotkeyManager::enabledKey, false), true);
    }

    void resetToCenterForgetsThePositionWithOneNotice()
    {
        Settings::setDouble(WindowPositionManager::positionXKey, 40);
        Settings::setDouble(WindowPositionManager::positionYKey, 60);
        Settings::setBool(WindowPositionManager::hasStoredPositionKey, true);
        Fixture f;
        QVERIFY(f.open());
        QVERIFY(f.showTab("Appearance"));
        QTRY_VERIFY(f.item("resetPositionButton"));
        QVERIFY(!f.item("resetNotice"));

        LogCapture log;
        QVERIFY(clickItem(f.item("resetPositionButton")));
        QTRY_VERIFY(f.item("resetNotice"));
        QCOMPARE(f.text("resetNotice"), QString("Window position will reset to center on next launch."));
        QVERIFY(!Settings::contains(WindowPositionManager::positionXKey));
        QVERIFY(!Settings::contains(WindowPositionManager::positionYKey));
        QVERIFY(!Settings::boolValue(WindowPositionManager::hasStoredPositionKey, true));

        QVERIFY(clickItem(f.item("resetPositionButton")));
        QCOMPARE(log.linesStartingWith("🗑️ Stored window position cleared").size(), 2);
        int notices = 0;
        std::function<void(QQuickItem *)> count = [&](QQuickItem *item) {
            if (item->objectName() == "resetNotice" && item->isVisible())
                ++notices;
            for (QQuickItem *child : item->childItems())
                count(child);
        };
        count(f.settings.window()->contentItem());
        QCOMPARE(notices, 1);

        // The notice belongs to the tab as it was drawn: a fresh one has none.
        QVERIFY(f.showTab("General"));
        QVERIFY(f.showTab("Appearance"));
        QTRY_VERIFY(f.item("resetPositionButton"));
        QVERIFY(!f.item("resetNotice"));
    }

    void accountTabFollowsTheSession()
    {
        Fixture f;
        QVERIFY(f.open());
        QVERIFY(f.showTab("Account"));
        QTRY_VERIFY(f.item("signInButton"));
        QVERIFY(!f.item("signOutButton"));

        QVERIFY(clickItem(f.item("signInButton")));
        QCOMPARE(f.workspace.openedUrls,
                 QList<QUrl>{QUrl("http://127.0.0.1:8750/auth/login?returnTo=/auth/account")});

        User user;
        user.id = QStringLiteral("42");
        user.email = QStringLiteral("<b>ada</b>@example.com");
        f.auth.saveAuth(user, QStringLiteral("token-1"));
        QTRY_VERIFY(f.item("signOutButton"));
        QVERIFY(!f.item("signInButton"));
        QCOMPARE(f.text("accountEmail"), QString("<b>ada</b>@example.com"));
        QCOMPARE(f.item("accountEmail")->property("textFormat").toInt(), int(Qt::PlainText));

        QVERIFY(clickItem(f.item("signOutButton")));
        QVERIFY(!f.auth.isAuthenticated());
        QVERIFY(!Settings::contains(AuthManager::tokenKey));
        QVERIFY(!Settings::contains(AuthManager::userKey));
        QTRY_VERIFY(f.item("signInButton"));
        QVERIFY(!f.item("accountEmail"));
    }

    void signedInWithoutARecordSaysSo()
    {
        SignedInWithoutRecord standIn;
        Fixture f(&standIn);
        QVERIFY(f.open());
        QVERIFY(f.showTab("Account"));
        QTRY_VERIFY(f.item("accountEmail"));
        QCOMPARE(f.text("accountEmail"), QString("Signed In"));
        QVERIFY(f.item("signOutButton"));
    }
};

QTEST_MAIN(TestSettingsWindow)
#include "test_settings_window.moc"
