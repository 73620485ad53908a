// The application delegate: launch check, toggle, panel window, URLs.

#include "app/AppDelegate.h"
#include "app/AppState.h"
#include "common/Settings.h"
#include "fakes/FakeCursorIndicator.h"
#include "fakes/FakeDictationRecognizer.h"
#include "fakes/FakeDictationTyping.h"
#include "fakes/LogCapture.h"
#include "platform/WindowSystem.h"

#include <QGuiApplication>
#include <QRasterWindow>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>

namespace {

struct Rig {
    FakeDictationRecognizer recognizer;
    FakeCursorIndicator indicator;
    FakeDictationTyping typing;
    AppState state{&recognizer, &indicator, &typing};
    AppDelegate delegate{&state, &typing, &WindowSystem::shared()};
};

} // namespace

class TestAppDelegate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { Settings::remove(QStringLiteral("hasStoredWindowPosition")); }

    void accessibilityCheckAtLaunch()
    {
        {
            Rig rig; // already trusted: no prompt, no alert
            rig.delegate.applicationDidFinishLaunching();
            QTest::qWait(AppDelegate::accessibilityCheckDelayMs + 100);
            QCOMPARE(rig.typing.trustRequests, 0);
            QCOMPARE(rig.typing.permissionAlerts, 0);
        }
        {
            Rig rig; // the prompt does it
            rig.typing.trusted = false;
            rig.typing.trustedAfterRequest = true;
            rig.delegate.applicationDidFinishLaunching();
            QTest::qWait(AppDelegate::accessibilityCheckDelayMs / 2);
            QCOMPARE(rig.typing.trustRequests, 0); // not before half a second
            QTRY_COMPARE(rig.typing.trustRequests, 1);
            QTest::qWait(50);
            QCOMPARE(rig.typing.permissionAlerts, 0);
            QVERIFY(!rig.typing.needsPermission);
        }
        {
            Rig rig; // still refused after the prompt
            rig.typing.trusted = false;
            rig.delegate.applicationDidFinishLaunching();
            QTRY_COMPARE(rig.typing.permissionAlerts, 1);
            QVERIFY(rig.typing.needsPermission);
        }
    }

    void toggleRecording()
    {
        Rig rig;
        rig.delegate.toggleRecording();
        QTRY_VERIFY(rig.state.isRecording());
        rig.delegate.toggleRecording();
        QVERIFY(!rig.state.isRecording());
        QTRY_COMPARE(rig.recognizer.calls.last(), QStringLiteral("stop"));
    }

    void floatingWindow()
    {
        Rig rig;
        LogCapture log;
        rig.delegate.configureWindow(nullptr);
        rig.delegate.showWindow(); // nothing known yet: nothing happens
        QVERIFY(log.lines().isEmpty());

        // The settings window keeps its normal look.
        QRasterWindow settings;
        settings.setObjectName(QStringLiteral("SettingsWindow"));
        const Qt::WindowFlags before = settings.flags();
        rig.delegate.configureWindow(&settings);
        QCOMPARE(settings.flags(), before);
        QVERIFY(!rig.delegate.floatingWindow());
        QVERIFY(log.lines().isEmpty());

        QRasterWindow panel;
        panel.resize(40, 30);
        rig.delegate.configureWindow(&panel);
        rig.delegate.configureWindow(&panel);
        QCOMPARE(log.lines(), (QStringList{"🪟 Configuring main window via WindowAccessor",
                                           "📍 No stored window position, using default",
                                           "👁️ Started observing window position changes",
                                           "✅ Window configured as floating borderless"}));
        QCOMPARE(rig.delegate.floatingWindow(), &panel);
        const Qt::WindowFlags flags = panel.flags();
        QVERIFY(flags & Qt::FramelessWindowHint);
        QVERIFY(flags & Qt::WindowStaysOnTopHint);
        QVERIFY(flags & Qt::WindowDoesNotAcceptFocus);
        QCOMPARE(panel.size(), AppDelegate::panelSize);
        const QRect frame = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(panel.geometry().center(), frame.center());

        // Brought back without taking the focus.
        rig.delegate.showWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QTest::qWait(100);
        QVERIFY(!panel.isActive());

        // With a remembered position the place is left to the position memory.
        Settings::setBool(QStringLiteral("hasStoredWindowPosition"), true);
        Settings::setDouble(QStringLiteral("windowPositionX"), 30);
        Settings::setDouble(QStringLiteral("windowPositionY"), 40);
        QRasterWindow remembered;
        remembered.setGeometry(500, 400, 50, 50);
        rig.delegate.configureWindow(&remembered);
        QCOMPARE(remembered.geometry(), QRect(QPoint(30, 40), AppDelegate::panelSize));
        QVERIFY(!rig.delegate.applicationShouldTerminateAfterLastWindowClosed());
    }

    void incomingUrls()
    {
        Rig rig;
        LogCapture log;
        rig.delegate.handleURL(QUrl(QStringLiteral("tellwind://callback?token=abc")));
        rig.delegate.handleURL(QUrl());
        rig.delegate.handleURL(QUrl(QStringLiteral("no scheme here")));
        // Handed to sign-in, and the token kept out of the log.
        QCOMPARE(log.lines(), (QStringList{"🔗 [App] Received URL: tellwind://callback?token=<redacted>",
                                           "🔗 [Auth] Received deep link: tellwind://callback?token=<redacted>"}));
    }
};

QTEST_MAIN(TestAppDelegate)
#include "test_appdelegate.moc"
