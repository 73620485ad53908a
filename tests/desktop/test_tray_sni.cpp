#include "common/Settings.h"
#include "desktop/MenuBarManager.h"
#include "desktop/StatusNotifierWatcherStub.h"
#include "platform/qt/QtStatusBar.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QImage>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

namespace {

struct MenuEntry {
    int id = 0;
    QVariantMap properties;
};

// Answers one D-Bus call made to this very process: the event loop must run
// for our own exported objects to reply.
QDBusMessage callAndWait(const QDBusMessage &call)
{
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(call, 5000);
    if (!QTest::qWaitFor([&] { return pending.isFinished(); }, 6000))
        return QDBusMessage();
    return pending.reply();
}

QList<MenuEntry> readMenu(const QString &service, const QString &path)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, "com.canonical.dbusmenu", "GetLayout");
    call << 0 << -1 << QStringList();
    const QDBusMessage reply = callAndWait(call);
    QList<MenuEntry> entries;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2)
        return entries;
    // (revision, (id, properties, [children as variants of the same shape]))
    const QDBusArgument root = reply.arguments().at(1).value<QDBusArgument>();
    int rootId = 0;
    QVariantMap rootProperties;
    QVariantList children;
    root.beginStructure();
    root >> rootId >> rootProperties;
    root.beginArray();
    while (!root.atEnd()) {
        QDBusVariant child;
        root >> child;
        const QDBusArgument item = child.variant().value<QDBusArgument>();
        MenuEntry entry;
        item.beginStructure();
        item >> entry.id >> entry.properties;
        item.endStructure();
        entries << entry;
    }
    root.endArray();
    root.endStructure();
    return entries;
}

QStringList labels(const QList<MenuEntry> &entries)
{
    QStringList texts;
    for (const MenuEntry &entry : entries) {
        if (entry.properties.value("type").toString() == "separator")
            texts << "---";
        else
            texts << entry.properties.value("label").toString();
    }
    return texts;
}

QVariant itemProperty(const QString &service, const QString &name)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, "/StatusNotifierItem",
                                                       "org.freedesktop.DBus.Properties", "Get");
    call << QStringLiteral("org.kde.StatusNotifierItem") << name;
    const QDBusMessage reply = callAndWait(call);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return {};
    return reply.arguments().at(0).value<QDBusVariant>().variant();
}

// The share of opaque pixels that are red in the largest picture of the item.
double iconRedShare(const QString &service)
{
    const QDBusArgument pixmaps = itemProperty(service, "IconPixmap").value<QDBusArgument>();
    QImage largest;
    pixmaps.beginArray();
    while (!pixmaps.atEnd()) {
        int width = 0;
        int height = 0;
        QByteArray bytes;
        pixmaps.beginStructure();
        pixmaps >> width >> height >> bytes;
        pixmaps.endStructure();
        if (width <= largest.width() || bytes.size() != width * height * 4)
            continue;
        // ARGB32 in network byte order.
        largest = QImage(width, height, QImage::Format_ARGB32);
        for (int i = 0; i < width * height; ++i) {
            const auto *p = reinterpret_cast<const uchar *>(bytes.constData()) + i * 4;
            largest.setPixel(i % width, i / width, qRgba(p[1], p[2], p[3], p[0]));
        }
    }
    pixmaps.endArray();
    int opaque = 0;
    int red = 0;
    for (int y = 0; y < largest.height(); ++y) {
        for (int x = 0; x < largest.width(); ++x) {
            const QColor color = largest.pixelColor(x, y);
            if (color.alpha() < 200)
                continue;
            ++opaque;
            red += color.red() > 200 && color.green() < 100 && color.blue() < 100;
        }
    }
    return opaque ? double(red) / opaque : -1.0;
}

void clickMenuEntry(const QString &service, const QString &menuPath, int id)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, menuPath, "com.canonical.dbusmenu", "Event");
    call << id << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(QVariant(QString()))) << 0u;
    callAndWait(call);
}

void callItem(const QString &service, const QString &method)
{
    QDBusMessage call
        = QDBusMessage::createMethodCall(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", method);
    call << 10 << 10;
    callAndWait(call);
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
        QVERIFY(!menuPath.isEmpty());

        QList<MenuEntry> menu = readMenu(service, menuPath);
        QCOMPARE(labels(menu), QStringList({"Toggle Recording", "---", "Show Window", "Settings...", "---",
                                            "Quit Tellwind"}));
        const auto shortcut = [&](int index) {
            return qdbus_cast<QList<QStringList>>(menu.at(index).properties.value("shortcut"));
        };
        QCOMPARE(shortcut(0), QList<QStringList>({{"Shift", "R"}}));
        QCOMPARE(shortcut(3).value(0).value(0), QString("Control"));
        QCOMPARE(shortcut(5).value(0).value(0), QString("Control"));
        QCOMPARE(iconRedShare(service), 0.0);

        // Clicks: the item itself (left toggles, the others do not), then
        // each menu entry.
        callItem(service, "Activate");
        callItem(service, "SecondaryActivate");
        for (const int index : {0, 2, 3, 5})
            clickMenuEntry(service, menuPath, menu.at(index).id);
        QTRY_COMPARE(called, QStringList({"toggle", "toggle", "show", "settings", "quit"}));

        manager.showRecordingState(true);
        QTRY_COMPARE(labels(readMenu(service, menuPath)).value(0), QString("Stop Recording"));
        QTRY_VERIFY(iconRedShare(service) > 0.5);
        manager.showRecordingState(false);
        QTRY_COMPARE(labels(readMenu(service, menuPath)).value(0), QString("Start Recording"));
        QTRY_COMPARE(iconRedShare(service), 0.0);

        // Switched off: the item leaves the panel at once.
        QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
        QVERIFY(bus->isServiceRegistered(service));
        manager.setIsEnabled(false);
        QTRY_VERIFY(!bus->isServiceRegistered(service));
        QCOMPARE(QSettings(Settings::filePath(), QSettings::IniFormat).value("menuBarEnabled").toString(),
                 QString("false"));
    }

private:
    StatusNotifierWatcherStub m_watcher;
};

QTEST_MAIN(TestTraySni)
#include "test_tray_sni.moc"
