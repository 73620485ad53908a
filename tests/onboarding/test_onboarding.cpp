#include "app/OnboardingManager.h"
#include "common/Settings.h"
#include "onboarding/QuickTestHelpers.h"
#include "fakes/FakeWorkspace.h"

#include <QFile>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QStandardPaths>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(Tellwind_ViewsPlugin)

namespace {

const QString sheetUrl = QStringLiteral("qrc:/Tellwind/Views/OnboardingViewSheet.qml");

// One walk-through window over a manager wired to fakes.
struct Walkthrough {
    bool trusted = false;
    int trustQueries = 0;
    int settingsOpened = 0;
    FakeWorkspace workspace;
    std::unique_ptr<OnboardingManager> manager;
    std::unique_ptr<QQmlEngine> engine;
    std::unique_ptr<QQuickWindow> window;

    explicit Walkthrough(const QString &bundlePath)
    {
        manager = std::make_unique<OnboardingManager>(
            [this] {
                ++trustQueries;
                return trusted;
            },
            [this] { ++settingsOpened; }, workspace, bundlePath);
    }

    bool load()
    {
        engine = std::make_unique<QQmlEngine>();
        // Each engine gets its own singleton registration: the type is
        // registered once per process, so re-register the instance here.
        qmlRegisterSingletonInstance("Tellwind.Core", 1, 0, "OnboardingManager", manager.get());
        QQmlComponent component(engine.get(), QUrl(sheetUrl));
        window.reset(qobject_cast<QQuickWindow *>(component.create()));
        if (!window)
            qWarning() << component.errorString();
        return window != nullptr;
    }

    QQuickItem *page() const
    {
        QQuickItem *pages = findVisibleItem(window.get(), QStringLiteral("pages"));
        return pages ? pages->property("currentItem").value<QQuickItem *>() : nullptr;
    }
    QQuickItem *item(const QString &name) const { return findVisibleItem(window.get(), name); }
    QString title() const
    {
        QQuickItem *title = findVisibleItem(page(), QStringLiteral("pageTitle"));
        return title ? title->property("text").toString() : QString();
    }
    bool settled() const
    {
        QQuickItem *pages = findVisibleItem(window.get(), QStringLiteral("pages"));
        return pages && !pages->property("busy").toBool();
    }
    QColor capsule(int index) const
    {
        return item(QStringLiteral("progressCapsule%1").arg(index))->property("color").value<QColor>();
    }
};

} // namespace

class TestOnboarding : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { QFile::remove(Settings::filePath()); }

    void walkThroughShowsOnFirstLaunchUntilGetStarted()
    {
        Walkthrough w(QStringLiteral("/home/someone/src/tellwind/build/tellwind"));
        QVERIFY(w.manager->shouldShowOnboarding());
        QVERIFY(w.load());
        QVERIFY(w.window->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        QCOMPARE(w.window->size(), QSize(500, 570));

        // Page 0: welcome, one capsule lit, no way back.
        QCOMPARE(w.title(), QString("Welcome to Tellwind"));
        QVERIFY(!w.item("backButton"));
        QCOMPARE(w.item("forwardButton")->property("text").toString(), QString("Let's Go"));
        QVERIFY(!w.item("finishButton"));
        QVERIFY(w.capsule(0) != w.capsule(1));
        QCOMPARE(w.capsule(1), w.capsule(2));

        // Page 1 for a program run from a build folder.
        QVERIFY(clickItem(w.item("forwardButton")));
        QTRY_VERIFY(w.settled());
        QCOMPARE(w.title(), QString("Move to Applications"));
        QCOMPARE(w.capsule(1), w.capsule(0));
        QVERIFY(w.item("backButton"));
        QCOMPARE(w.item("forwardButton")->property("text").toString(), QString("Skip for Now"));
        QCOMPARE(findVisibleItem(w.page(), "bundlePath")->property("text").toString(),
                 QString("/home/someone/src/tellwind/build/tellwind"));
        QVERIFY(clickItem(findVisibleItem(w.page(), "showInFinderButton")));
        QCOMPARE(w.workspace.revealedFiles, QStringList{"/home/someone/src/tellwind/build/tellwind"});

        // "Back" and forward again; "Skip for Now" advances like "Continue".
        QVERIFY(clickItem(w.item("backButton")));
        QTRY_VERIFY(w.settled());
        QCOMPARE(w.title(), QString("Welcome to Tellwind"));
        QVERIFY(!w.item("backButton"));
        QVERIFY(clickItem(w.item("forwardButton")));
        QTRY_VERIFY(w.settled());
        QVERIFY(clickItem(w.item("forwardButton")));
        QTRY_VERIFY(w.settled());

        // Page 2 without the permission: instructions and the way to grant it.
        QCOMPARE(w.title(), QString("Enable Accessibility"));
        QVERIFY(!w.item("forwardButton"));
        QCOMPARE(w.item("finishButton")->property("text").toString(), QString("Get Started"));
        QCOMPARE(w.capsule(2), w.capsule(0));
        QVERIFY(clickItem(findVisibleItem(w.page(), "openSettingsButton")));
        QCOMPARE(w.settingsOpened, 1);
        QVERIFY(!Settings::contains(OnboardingManager::hasCompletedOnboardingKey));

        // Finishing without the permission is allowed, and is remembered.
        QVERIFY(clickItem(w.item("finishButton")));
        QTRY_VERIFY(!w.window->isVisible());
        QVERIFY(!w.manager->shouldShowOnboarding());
        QVERIFY(Settings::boolValue(OnboardingManager::hasCompletedOnboardingKey, false));

        Walkthrough next(QStringLiteral("/usr/bin/tellwind"));
        QVERIFY(!next.manager->shouldShowOnboarding());
        QVERIFY(next.load());
        QVERIFY(!next.window->isVisible());
    }

    void closingTheSheetOtherwiseDoesNotCountAsFinished()
    {
        Walkthrough w(QStringLiteral("/usr/bin/tellwind"));
        QVERIFY(w.load());
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        w.window->close();
        QTRY_VERIFY(!w.manager->shouldShowOnboarding());
        QVERIFY(!Settings::contains(OnboardingManager::hasCompletedOnboardingKey));
        // Shown again, it starts over at the first page.
        w.manager->setShouldShowOnboarding(true);
        QTRY_VERIFY(w.window->isVisible());
        QTRY_COMPARE(w.title(), QString("Welcome to Tellwind"));
    }

    void installedProgramIsAllSet()
    {
        const QString home = QStringLiteral("/home/ada");
        QVERIFY(OnboardingManager::isInstalledPath("/usr/bin/tellwind", home));
        QVERIFY(OnboardingManager::isInstalledPath("/usr/local/bin/tellwind", home));
        QVERIFY(OnboardingManager::isInstalledPath("/opt/tellwind/bin/tellwind", home));
        QVERIFY(OnboardingManager::isInstalledPath("/home/ada/.local/bin/tellwind", home));
        QVERIFY(!OnboardingManager::isInstalledPath("/home/ada/.localx/tellwind", home));
        QVERIFY(!OnboardingManager::isInstalledPath("/home/bob/.local/bin/tellwind", home));
        QVERIFY(!OnboardingManager::isInstalledPath("/usrlocal/tellwind", home));
        QVERIFY(!OnboardingManager::isInstalledPath("/tmp/tellwind", home));
        QVERIFY(!OnboardingManager::isInstalledPath("usr/bin/tellwind", home));

        Walkthrough w(QStringLiteral("/usr/bin/tellwind"));
        QVERIFY(w.load());
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        QVERIFY(clickItem(w.item("forwardButton")));
        QTRY_VERIFY(w.settled());
        QCOMPARE(w.title(), QString("You're All Set!"));
        QCOMPARE(w.item("forwardButton")->property("text").toString(), QString("Continue"));
        QVERIFY(!findVisibleItem(w.page(), "bundlePath"));
        QVERIFY(!findVisibleItem(w.page(), "showInFinderButton"));
    }

    void pollFollowsThePermissionWithinASecond()
    {
        Walkthrough w(QStringLiteral("/usr/bin/tellwind"));
        QVERIFY(w.load());
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        for (int i = 0; i < 2; ++i) {
            QVERIFY(clickItem(w.item("forwardButton")));
            QTRY_VERIFY(w.settled());
        }
        QCOMPARE(w.title(), QString("Enable Accessibility"));
        const QColor notGranted = w.item("finishButton")->property("fillColor").value<QColor>();

        // Granted elsewhere: the page turns by itself, without a click.
        w.trusted = true;
        QTRY_VERIFY_WITH_TIMEOUT(w.title() == "Permission Granted!", 1200);
        QVERIFY(!findVisibleItem(w.page(), "openSettingsButton"));
        const QColor granted = w.item("finishButton")->property("fillColor").value<QColor>();
        QVERIFY(granted != notGranted);
        QVERIFY(granted.green() > granted.red() && granted.green() > granted.blue());

        // Revoked: back on the next tick.
        w.trusted = false;
        QTRY_VERIFY_WITH_TIMEOUT(w.title() == "Enable Accessibility", 1200);
        QCOMPARE(w.item("finishButton")->property("fillColor").value<QColor>(), notGranted);

        // Once the walk-through is gone nobody polls any more.
        QVERIFY(clickItem(w.item("finishButton")));
        QTRY_VERIFY(!w.window->isVisible());
        QTest::qWait(100);
        const int queries = w.trustQueries;
        QTest::qWait(1500);
        QCOMPARE(w.trustQueries, queries);
    }
};

QTEST_MAIN(TestOnboarding)
#include "test_onboarding.moc"
