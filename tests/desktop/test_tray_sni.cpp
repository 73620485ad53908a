#include "common/Settings.h"
#include "desktop/MenuBarManager.h"
#include "desktop/StatusNotifierWatcherStub.h"
#include "platform/qt/QtStatusBar.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QImage>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

namespace {

// Calls into this very process: the event loop must run for the reply.
QList<QVariant> call(const QString &service, const QString &path, const QString &interface,
                     const QString &method, const QList<QVariant> &arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(message, 5000);
    if (!QTest::qWaitFor([&] { return pending.isFinished(); }, 6000))
        return {};
    return pending.reply().arguments();
}

QVariant itemProperty(const QString &service, const QString &name)
{
    const auto reply = call(service, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                            {QStringLiteral("org.kde.StatusNotifierItem"), name});
    return reply.isEmpty() ? QVariant() : reply.first().value<QDBusVariant>().variant();
}

struct MenuEntry {
    int id;
    QString label; // "---" for a separator
    QList<QStringList> shortcut;
};

QList<MenuEntry> readMenu(const QString &service, const QString &path)
{
    const auto reply = call(service, path, "com.canonical.dbusmenu", "GetLayout", {0, -1, QStringList()});
    QList<MenuEntry> entries;
    if (reply.size() < 2)
        return entries;
    // (id, properties, children), each child a variant of the same shape.
    const QDBusArgument root = reply.at(1).value<QDBusArgument>();
    int id = 0;
    QVariantMap properties;
    root.beginStructure();
    root >> id >> properties;
    root.beginArray();
    while (!root.atEnd()) {
        QDBusVariant child;
        root >> child;
        const QDBusArgument item = child.variant().value<QDBusArgument>();
        item.beginStructure();
        item >> id >> properties;
        item.endStructure();
        const bool separator = properties.value("type").toString() == "separator";
        entries.append({id, separator ? QString("---") : properties.value("label").toString(),
                        qdbus_cast<QList<QStringList>>(properties.value("shortcut"))});
    }
    root.endArray();
    root.endStructure();
    return entries;
}

// The colour in the middle of the microphone's capsule, from the largest
// picture the item publishes (ARGB32, network byte order).
QColor iconCapsuleColor(const QString &service)
{
    const QDBusArgument pixmaps = itemProperty(service, "IconPixmap").value<QDBusArgument>();
    QColor color;
    int largest = 0;
    pixmaps.beginArray();
    while (!pixmaps.atEnd()) {
        int width = 0;
        int height = 0;
        QByteArray argb;
        pixmaps.beginStructure();
        pixmaps >> width >> height >> argb;
        pixmaps.endStructure();
        if (width <= largest || argb.size() != width * height * 4)
            continue;
        largest = width;
        const auto *pixel = reinterpret_cast<const uchar *>(argb.constData()) + (height * 5 / 16 * width + width / 2) * 4;
        color = QColor(pixel[1], pixel[2], pixel[3], pixel[0]);
    }
    pixmaps.endArray();
    return color;
}

bool isRed(const QColor &color)
{
    return color.alpha() > 200 && color.red() > 200 && color.green() < 100;
}

} // namespace

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
        QStringList labels;
        for (const MenuEntry &entry : menu)
            labels << entry.label;
        QCOMPARE(labels, QStringList({"Toggle Recording", "---", "Show Window", "Settings...", "---",
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
            call(service, menuPath, "com.canonical.dbusmenu", "Event",
                 {menu.at(index).id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
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
