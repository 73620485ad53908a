// The real program on the harness's desktop: a new user's first launch,
// Shift + R from another application, the tray, quitting from its menu and a
// relaunch at the panel's last place.
#include "app/ProcessRig.h"
#include "desktop/StatusNotifierWatcherStub.h"
#include "desktop/TrayReader.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace tray;

namespace {

QString xdotool(const QStringList &arguments)
{
    QProcess process;
    process.start("xdotool", arguments);
    process.waitForFinished(10000);
    return QString::fromLatin1(process.readAllStandardOutput()).trimmed();
}

} // namespace

class TestDesktopProgram : public QObject
{
    Q_OBJECT

    StatusNotifierWatcherStub watcher;
    QTemporaryDir config; // the new user's settings
    const QString program = qEnvironmentVariable("TELLWIND_BUILD_DIR") + "/tellwind";

    std::unique_ptr<Child> launch()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", config.path());
        auto child = std::make_unique<Child>(environment);
        child->start(program);
        return child;
    }

    // The panel's top-left corner as the X server has it.
    QString panelPosition(qint64 pid)
    {
        const QString window = xdotool({"search", "--pid", QString::number(pid), "--name", "^Tellwind$"});
        return xdotool({"getwindowgeometry", window.section('\n', 0, 0)}).section('\n', 1, 1).trimmed();
    }

private slots:
    void initTestCase() { QVERIFY(watcher.start()); }

    void shiftRDictatesAndThePanelComesBackWhereItWasLeft()
    {
        auto tellwind = launch();
        QVERIFY(tellwind->waitForLine("✅ Window configured as floating borderless", 20000));
        QVERIFY(tellwind->lines().contains("🚀 First launch - enabling Launch at Login by default"));
        QFile entry(config.filePath("autostart/tellwind.desktop"));
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QVERIFY(entry.readAll().contains("\nExec=" + QFileInfo(program).absoluteFilePath().toUtf8() + "\n"));

        QTRY_COMPARE(watcher.items().size(), 1);
        const QString service = watcher.items().first();
        const QString menuPath = qvariant_cast<QDBusObjectPath>(itemProperty(service, "Menu")).path();
        QCOMPARE(labels(readMenu(service, menuPath)),
                 QStringList({"Toggle Recording", "---", "Show Window", "Settings...", "---", "Quit Tellwind"}));

        // Shift + R in whatever has the focus starts and stops dictation.
        xdotool({"key", "shift+r"});
        QVERIFY(tellwind->waitForLine("✅ Recording started"));
        QTRY_COMPARE(readMenu(service, menuPath).value(0).label, QString("Stop Recording"));
        QTRY_VERIFY(isRed(iconCapsuleColor(service)));
        xdotool({"key", "shift+r"});
        QVERIFY(tellwind->waitForLine("✅ Recording stopped"));
        QTRY_COMPARE(readMenu(service, menuPath).value(0).label, QString("Start Recording"));

        // The user moves the panel, then quits from the tray.
        const QString window = xdotool({"search", "--pid", QString::number(tellwind->process().processId()),
                                        "--name", "^Tellwind$"});
        xdotool({"windowmove", window.section('\n', 0, 0), "100", "150"});
        QVERIFY(tellwind->waitForLine("💾 Window position saved: (100.0, 150.0)"));
        click(service, menuPath, readMenu(service, menuPath).value(5));
        QVERIFY(tellwind->process().waitForFinished(10000));
        QVERIFY(tellwind->lines().endsWith("🎹 Global hotkey manager stopped"));

        tellwind = launch();
        QVERIFY(tellwind->waitForLine("✅ Window configured as floating borderless", 20000));
        QVERIFY(tellwind->lines().contains("📍 Window position restored: (100.0, 150.0)"));
        QVERIFY(tellwind->lines().filter("First launch").isEmpty());
        QTRY_COMPARE(panelPosition(tellwind->process().processId()), QString("Position: 100,150 (screen: 0)"));
    }
};

QTEST_MAIN(TestDesktopProgram)
#include "test_desktop_program.moc"
