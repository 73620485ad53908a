#include "common/Settings.h"
#include "desktop/MenuBarManager.h"
#include "desktop/StatusNotifierWatcherStub.h"
#include "desktop/TrayReader.h"
#include "platform/qt/QtStatusBar.h"

#include <QDBusConnectionInterface>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>


using namespace tray;

class TestTraySni : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings(Settings::filePath(), QSettings::IniFormat).clear();
        // The panel must be there before the first tray item is made.
        QVERIFY(m_watcher.start());
    }

    void trayItemShowsTheMenuAndTheRecordingState()
    {
        MenuBarManager manager {std::make_unique<QtStatusBar>()};
        QStringList called;
        manager.onToggleRecording = [&] { called << "toggle"; };
        manager.onShowWindow = [&] { called << "show"; };
        manager.onOpenSettings = [&] { called << "settings"; };
        manager.onQuit = [&] { called << "quit"; };

        QTRY_COMPARE(m_watcher.items().size(), 1);
        const QString service = m_watcher.items().first();
        const QString menuPath = qvariant_cast<QDBusObjectPath>(itemProperty(service, "Menu")).path();
        const QList<MenuEntry> menu = readMenu(service, menuPath);
        QCOMPARE(labels(menu), QStringList({"Toggle Recording", "---", "Show Window", "Settings...", "---",
                                      "Quit Tellwind"}));
        QCOMPARE(menu.at(0).shortcut, QList<QStringList>({{"Shift", "R"}}));
        QCOMPARE(menu.at(3).shortcut, QList<QStringList>({{"Control", ","}}));
        QCOMPARE(menu.at(5).shortcut, QList<QStringList>({{"Control", "Q"}}));
        QVERIFY(!isRed(iconCapsuleColor(service)));

        // A left click on the item toggles, a middle click does not; then
        // each menu entry.
        const QList<QVariant> at {10, 10};
        call(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate", at);
        call(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "SecondaryActivate", at);
        for (const int index : {0, 2, 3, 5})
            click(service, menuPath, menu.at(index));
        QTRY_COMPARE(called, QStringList({"toggle", "toggle", "show", "settings", "quit"}));

        manager.showRecordingState(true);
        QTRY_COMPARE(readMenu(service, menuPath).value(0).label, QString("Stop Recording"));
        QTRY_VERIFY(isRed(iconCapsuleColor(service)));
        manager.showRecordingState(false);
        QTRY_COMPARE(readMenu(service, menuPath).value(0).label, QString("Start Recording"));
        QTRY_VERIFY(!isRed(iconCapsuleColor(service)));

        // Switched off: the item leaves the panel at once.
        QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
        QVERIFY(bus->isServiceRegistered(service));
        manager.setIsEnabled(false);
        QTRY_VERIFY(!bus->isServiceRegistered(service));
    }

private:
    StatusNotifierWatcherStub m_watcher;
};

QTEST_MAIN(TestTraySni)
#include "test_tray_sni.moc"
