#pragma once

// Reads a tray item the way a desktop panel does: its properties over
// org.kde.StatusNotifierItem and its menu over com.canonical.dbusmenu.

#include <QColor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QTest>

namespace tray {

// The event loop runs meanwhile: the item may live in this very process.
inline QList<QVariant> call(const QString &service, const QString &path, const QString &interface,
                     const QString &method, const QList<QVariant> &arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(message, 5000);
    if (!QTest::qWaitFor([&] { return pending.isFinished(); }, 6000))
        return {};
    return pending.reply().arguments();
}

inline QVariant itemProperty(const QString &service, const QString &name)
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

inline QList<MenuEntry> readMenu(const QString &service, const QString &path)
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
inline QColor iconCapsuleColor(const QString &service)
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

inline bool isRed(const QColor &color)
{
    return color.alpha() > 200 && color.red() > 200 && color.green() < 100;
}

inline QStringList labels(const QList<MenuEntry> &menu)
{
    QStringList texts;
    for (const MenuEntry &entry : menu)
        texts << entry.label;
    return texts;
}

inline void click(const QString &service, const QString &menuPath, const MenuEntry &entry)
{
    call(service, menuPath, "com.canonical.dbusmenu", "Event",
         {entry.id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
}

} // namespace tray
