#include "app/OnboardingManager.h"
#include "app/QmlTypes.h"
#include "common/Settings.h"
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

// The walk-through window over a manager whose trust source and workspace are fakes.
struct Walkthrough {
    bool trusted = false;
    int trustQueries = 0;
    int settingsOpened = 0;
    FakeWorkspace workspace;
    OnboardingManager manager;
    QQmlEngine engine;
    std::unique_ptr<QQuickWindow> window;

    explicit Walkthrough(const QString &bundlePath)
        : manager(
            [this] { return ++trustQueries, trusted; }, [this] { ++settingsOpened; }, workspace, bundlePath)
    {
        provideQmlObjects(engine, { .onboardingManager = &manager });
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

    // A first launch of a program run from a build folder, with the keyboard
    // alone: Enter walks forward from the focused main button of every page,
    // Tab reaches the page's own controls and Back, Space presses too.
    void firstLaunchWalksThroughWithTheKeyboard()
    {
        Walkthrough w(QStringLiteral("/home/someone/src/tellwind/build/tellwind"));
        QVERIFY(w.manager.shouldShowOnboarding());
        QVERIFY(w.shown() && QTest::qWaitForWindowActive(w.window.get()));
        QQuickWindow *window = w.window.get();
        auto focused = [window] {
            QQuickItem *item = window->activeFocusItem();
            return item ? item->objectName() : QString();
        };
        auto press = [&w, window](Qt::Key key) {
            QTest::keyClick(window, key);
            return w.settled();
        };
        QCOMPARE(w.title(), QString("Welcome to Tellwind"));
        QVERIFY(!w.item("backButton"));
        QTRY_COMPARE(focused(), QString("forwardButton"));
        QVERIFY(press(Qt::Key_Return));

        // Where the program is, and a way to see it.
        QCOMPARE(w.title(), QString("Install Tellwind"));
        QCOMPARE(itemText(w.item("bundlePath")), w.manager.bundlePath());
        QCOMPARE(focused(), QString("forwardButton"));
        QVERIFY(press(Qt::Key_Tab));
        QCOMPARE(focused(), QString("showInFileManagerButton"));
        QVERIFY(press(Qt::Key_Return));
        QCOMPARE(w.workspace.revealedFiles, QStringList { w.manager.bundlePath() });
        QVERIFY(press(Qt::Key_Tab));
        QCOMPARE(focused(), QString("backButton"));
        QVERIFY(press(Qt::Key_Enter));
        QCOMPARE(w.title(), QString("Welcome to Tellwind"));
        QVERIFY(press(Qt::Key_Space));
        QVERIFY(press(Qt::Key_Return));

        // Without the permission: the way to grant it, and finishing anyway.
        QCOMPARE(w.title(), QString("Enable Typing"));
        QCOMPARE(focused(), QString("finishButton"));
        QVERIFY(!Settings::contains(completedKey));
        QTest::keyClick(window, Qt::Key_Return);
        QTRY_VERIFY(!w.window->isVisible());
        QVERIFY(Settings::boolValue(completedKey, false));

        Walkthrough next(QStringLiteral("/usr/bin/tellwind"));
        QVERIFY(!next.manager.shouldShowOnboarding());
        QVERIFY(next.window && !next.window->isVisible());
    }
};

QTEST_MAIN(TestOnboarding)
#include "test_onboarding.moc"
