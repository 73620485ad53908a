#include "app/OnboardingManager.h"
#include "app/QmlTypes.h"
#include "common/Settings.h"
#include "desktop/GlobalHotkeyManager.h"
#include "desktop/LaunchAtLoginManager.h"
#include "fakes/FakeAutostartStore.h"
#include "fakes/FakeKeyMonitor.h"
#include "fakes/FakeWorkspace.h"
#include "support/QuickItems.h"

#include <QFile>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QStandardPaths>
#include <QTest>

#include <memory>

namespace
{

const QString completedKey = QString::fromLatin1(OnboardingManager::hasCompletedOnboardingKey);

// The walk-through window over managers whose trust source, workspace, key
// monitor and autostart folder are fakes.
struct Walkthrough {
    bool trusted = false;
    int trustQueries = 0;
    int settingsOpened = 0;
    FakeWorkspace workspace;
    OnboardingManager manager;
    GlobalHotkeyManager hotkey { std::make_unique<FakeKeyMonitor>() };
    FakeAutostartStore *autostart = new FakeAutostartStore;
    // Installed, so that the login item can be registered.
    LaunchAtLoginManager launchAtLogin { std::unique_ptr<AutostartStore>(autostart),
        QStringLiteral("/usr/bin/tellwind") };
    QQmlEngine engine;
    std::unique_ptr<QQuickWindow> window;

    explicit Walkthrough(const QString &bundlePath)
        : manager(
            [this] { return ++trustQueries, trusted; }, [this] { ++settingsOpened; }, workspace, bundlePath)
    {
        provideQmlObjects(engine,
            { .launchAtLoginManager = &launchAtLogin,
                .hotkeyManager = &hotkey,
                .onboardingManager = &manager });
        QQmlComponent component(&engine, QUrl("qrc:/Tellwind/Views/OnboardingViewSheet.qml"));
        window.reset(qobject_cast<QQuickWindow *>(component.create()));
        if (!window)
            qWarning() << component.errorString();
    }
    bool shown() const { return window && window->isVisible() && QTest::qWaitForWindowExposed(window.get()); }

    QQuickItem *item(const QString &name) const { return findVisibleItem(window.get(), name); }
    QString title() const { return itemText(item("pageTitle")); }
    bool settled() const
    {
        return QTest::qWaitFor([this] { return item("pages") && !item("pages")->property("busy").toBool(); });
    }
};

} // namespace

class TestOnboarding : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { QFile::remove(Settings::filePath()); }

    // A first launch with the keyboard alone: Enter walks forward from the
    // focused main button of every page, Tab reaches the page's own controls
    // and Back, Space presses too. The tour names the shortcut in use, its
    // titles are in sentence case as the desktop's own dialogs write them,
    // and the switch on its last page decides whether Tellwind starts at login.
    void firstLaunchWalksThroughWithTheKeyboard()
    {
        for (const bool startAtLogin : { true, false }) { // as offered, or switched off
            init();
            // Nothing but the walk-through turns the login item on.
            Walkthrough w(QStringLiteral("/home/someone/src/tellwind/build/tellwind"));
            // Not the first shortcut a user gets: the tour shows whichever is in use.
            QVERIFY(w.hotkey.recordHotkey(Qt::Key_J, int(Qt::ControlModifier | Qt::AltModifier)));
            QVERIFY(w.manager.shouldShowOnboarding());
            QQuickWindow *window = w.window.get();
            QVERIFY(w.shown() && QTest::qWaitForWindowActive(window));
            auto focused = [window] {
                QQuickItem *item = window->activeFocusItem();
                return item ? item->objectName() : QString();
            };
            auto press = [&w, window](Qt::Key key) {
                QTest::keyClick(window, key);
                return w.settled();
            };
            QStringList titles { w.title() };
            QVERIFY(!w.item("backButton"));
            QTRY_COMPARE(focused(), QString("forwardButton"));
            QVERIFY(press(Qt::Key_Return));

            titles << w.title();
            QCOMPARE(keyCaps(w.item("welcomeShortcut")), (QStringList { "Ctrl", "Alt", "J" }));
            QCOMPARE(focused(), QString("forwardButton"));
            QVERIFY(press(Qt::Key_Tab));
            QCOMPARE(focused(), QString("backButton"));
            QVERIFY(press(Qt::Key_Enter));
            QCOMPARE(w.title(), titles.first());
            QVERIFY(press(Qt::Key_Space));
            QVERIFY(press(Qt::Key_Return));
            titles << w.title();
            QVERIFY(press(Qt::Key_Return));

            // Without the permission: the way to grant it, the login switch, and finishing anyway.
            titles << w.title();
            QCOMPARE(titles,
                (QStringList {
                    "Welcome to Tellwind", "Start and stop with a shortcut", "The panel", "Enable typing" }));
            QCOMPARE(focused(), QString("finishButton"));
            QVERIFY(w.item("launchAtLoginToggleSwitch")->property("checked").toBool());
            QVERIFY(!Settings::contains(completedKey));
            if (!startAtLogin) {
                for (int step = 0; step < 10 && focused() != "launchAtLoginToggleSwitch"; ++step)
                    QVERIFY(press(Qt::Key_Tab));
                QVERIFY(press(Qt::Key_Space));
                QVERIFY(!w.item("launchAtLoginToggleSwitch")->property("checked").toBool());
                for (int step = 0; step < 10 && focused() != "finishButton"; ++step)
                    QVERIFY(press(Qt::Key_Tab));
            }
            // A permission granted meanwhile shows.
            w.trusted = true;
            QTRY_COMPARE(w.title(), QString("Typing is ready"));
            // Nothing changes at login until the user finishes.
            QVERIFY(w.autostart->calls.isEmpty());
            QTest::keyClick(window, Qt::Key_Return);
            QTRY_VERIFY(!w.window->isVisible());
            QVERIFY(Settings::boolValue(completedKey, false));
            QCOMPARE(w.launchAtLogin.isEnabled(), startAtLogin);
            QCOMPARE(w.autostart->calls, startAtLogin ? QStringList { "register" } : QStringList());

            Walkthrough next(QStringLiteral("/usr/bin/tellwind"));
            QVERIFY(!next.manager.shouldShowOnboarding());
            QVERIFY(next.window && !next.window->isVisible());
        }
    }
};

QTEST_MAIN(TestOnboarding)
#include "test_onboarding.moc"
