#pragma once

// The panel window as the program builds it, bound to a real AppState whose
// neighbours are fakes; the fake recognizer also stands in for the
// recognition manager the views read.

#include "app/AppDelegate.h"
#include "app/AppState.h"
#include "app/QmlTypes.h"
#include "fakes/FakeCursorIndicator.h"
#include "fakes/FakeDictationRecognizer.h"
#include "fakes/FakeDictationTyping.h"
#include "platform/WindowSystem.h"

#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <memory>

struct ViewsRig {
    FakeDictationRecognizer recognizer;
    FakeCursorIndicator indicator;
    FakeDictationTyping typing;
    AppState state{&recognizer, &indicator, &typing};
    AppDelegate delegate{&state, &typing};
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow *window = nullptr;

    bool load()
    {
        // As the program does: the software renderer.
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        registerQmlTypes(WindowSystem::shared());
        qmlRegisterSingletonInstance("Tellwind.Core", 1, 0, "AppState", &state);
        qmlRegisterSingletonInstance("Tellwind.Core", 1, 0, "SpeechRecognitionManager",
                                     static_cast<QObject *>(&recognizer));
        engine = std::make_unique<QQmlApplicationEngine>();
        engine->load(QUrl(QStringLiteral("qrc:/Tellwind/Views/MainWindow.qml")));
        if (engine->rootObjects().isEmpty())
            return false;
        window = qobject_cast<QQuickWindow *>(engine->rootObjects().first());
        if (!window)
            return false;
        delegate.configureWindow(window);
        window->show();
        return QTest::qWaitForWindowExposed(window);
    }

    template <typename T = QQuickItem>
    T *item(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }

    // Items made by views (list rows) have no QObject parent: walk the item tree.
    static QQuickItem *findItem(QQuickItem *root, const QString &name)
    {
        if (root->objectName() == name)
            return root;
        for (QQuickItem *child : root->childItems())
            if (QQuickItem *found = findItem(child, name))
                return found;
        return nullptr;
    }

    // A click at the centre of `item`, through the window's event delivery.
    static void click(QQuickItem *item, QPointF offset = {})
    {
        const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QTest::mouseClick(item->window(), Qt::LeftButton, {}, (centre + offset).toPoint());
    }
};
