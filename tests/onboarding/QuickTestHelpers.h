#pragma once

#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

// Finding and clicking items of a loaded QML window by objectName.
inline QQuickItem *findVisibleItem(QQuickItem *root, const QString &name)
{
    if (!root)
        return nullptr;
    if (root->objectName() == name && root->isVisible())
        return root;
    for (QQuickItem *child : root->childItems()) {
        if (QQuickItem *found = findVisibleItem(child, name))
            return found;
    }
    return nullptr;
}

inline QQuickItem *findVisibleItem(QQuickWindow *window, const QString &name)
{
    return findVisibleItem(window->contentItem(), name);
}

// A real mouse click in the middle of the item, as the user would make it.
inline bool clickItem(QQuickItem *item)
{
    if (!item || !item->isVisible() || !item->window())
        return false;
    const QPoint center = item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
    QTest::mouseClick(item->window(), Qt::LeftButton, Qt::NoModifier, center);
    return true;
}
