#pragma once

#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

// Finding, reading and clicking items of a loaded QML window by objectName.
inline QQuickItem *findVisibleItem(QQuickItem *root, const QString &name)
{
    if (!root || !root->isVisible())
        return nullptr;
    if (root->objectName() == name)
        return root;
    for (QQuickItem *child : root->childItems())
        if (QQuickItem *found = findVisibleItem(child, name))
            return found;
    return nullptr;
}

inline QString itemText(QQuickItem *item)
{
    return item ? item->property("text").toString() : QStringLiteral("<absent>");
}

// A real mouse click in the middle of the item, as the user would make it.
inline bool clickItem(QQuickItem *item)
{
    if (!item || !item->window())
        return false;
    const QPointF center = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(item->window(), Qt::LeftButton, Qt::NoModifier, center.toPoint());
    return true;
}

// The key caps drawn under `root`, left to right.
inline QStringList keyCaps(QQuickItem *root)
{
    QStringList keys;
    for (QQuickItem *child : root ? root->childItems() : QList<QQuickItem *>()) {
        if (child->objectName() == QLatin1String("keyCap") && child->isVisible())
            keys << child->property("text").toString();
        keys << keyCaps(child);
    }
    return keys;
}
