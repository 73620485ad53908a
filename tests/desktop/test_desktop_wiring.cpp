// The desktop managers inside the application delegate: launch and
// termination order, and the tray following every change of the recording.
#include "app/AppDelegate.h"
#include "app/AppState.h"
#include "common/Settings.h"
#include "common/Shared.h"
#include "desktop/GlobalHotkeyManager.h"
#include "desktop/LaunchAtLoginManager.h"
#include "desktop/MenuBarManager.h"
#include "desktop/WindowPositionManager.h"
#include "fakes/FakeAutostartStore.h"
#include "fakes/FakeCursorIndicator.h"
#include "fakes/FakeDictationRecognizer.h"
#include "fakes/FakeDictationTyping.h"
#include "fakes/FakeKeyMonitor.h"
#include "fakes/FakeStatusBar.h"
#include "fakes/LogCapture.h"
#include "platform/WindowSystem.h"

#include <QMenu>
#include <QRasterWindow>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

class TestDesktopWiring : public QObject
{
    Q_OBJECT

    FakeKeyMonitor *keys = new FakeKeyMonitor;
    FakeStatusBar *tray = new FakeStatusBar;

    QString trayTitle() const { return tray->item->menu->actions().first()->text(); }
    bool trayIsRed() const
    {
        const QColor middle = tray->item->image.pixmap(32, 32).toImage().pixelColor(16, 10);
        return middle.red() > 200 && middle.green() < 100;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings(Settings::filePath(), QSettings::IniFormat).clear();
        Shared<GlobalHotkeyManager>::install(new GlobalHotkeyManager(std::unique_ptr<KeyMonitor>(keys)));
        Shared<MenuBarManager>::install(new MenuBarManager(std::unique_ptr<StatusBar>(tray)));
        Shared<LaunchAtLoginManager>::install(
            new LaunchAtLoginManager(std::make_unique<FakeAutostartStore>()));
    }

    void launchRunAndTerminate()
    {
        FakeDictationRecognizer recognizer;
        FakeCursorIndicator indicator;
        FakeDictationTyping typing;
        AppState state {&recognizer, &indicator, &typing};
        state.setRestartGrace(std::chrono::milliseconds(20));
        LogCapture log;
        AppDelegate delegate {&state, &typing, &WindowSystem::shared()};
        delegate.applicationDidFinishLaunching();
        QCOMPARE(log.lines(), QStringList({"📍 Menubar setup complete", "✅ Global hotkey registered: Shift + R",
                                           "🎹 Global hotkey manager started (Shift + R)",
                                           "🎹 Global hotkey setup complete (Shift + R)"}));

        QRasterWindow panel;
        delegate.configureWindow(&panel);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QVERIFY(log.lines().contains("👁️ Started observing window position changes"));

        // Shift + R toggles through the delegate; the tray shows it.
        keys->typeInOtherApplication({KeyEvent::ansiR, KeyModifier::shift});
        QTRY_VERIFY(state.isRecording());
        QTRY_COMPARE(trayTitle(), QString("Stop Recording"));
        QVERIFY(trayIsRed());
        // Stopped from the panel: the tray follows without a toggle of its own.
        state.toggleFromPanel();
        QTRY_COMPARE(trayTitle(), QString("Start Recording"));
        QVERIFY(!trayIsRed());
        // Started from the tray's menu; then the recognizer ends by itself.
        tray->item->menu->actions().first()->trigger();
        QTRY_COMPARE(trayTitle(), QString("Stop Recording"));
        recognizer.setListening(false);
        QTRY_VERIFY(!state.isRecording());
        QTRY_COMPARE(trayTitle(), QString("Start Recording"));

        panel.setFramePosition(QPoint(210, 120));
        QTRY_VERIFY(log.lines().contains("💾 Window position saved: (210.0, 120.0)"));
        const int before = log.lines().size();
        delegate.applicationWillTerminate();
        QCOMPARE(log.lines().mid(before), QStringList({"💾 Window position saved: (210.0, 120.0)",
                                                       "🎹 Global hotkey manager stopped"}));
        QCOMPARE(keys->globalCount() + keys->localCount(), 0);
        QVERIFY(GlobalHotkeyManager::shared().isEnabled());
    }
};

QTEST_MAIN(TestDesktopWiring)
#include "test_desktop_wiring.moc"
