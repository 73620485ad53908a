#include "app/QmlTypes.h"

#include <QtQml/qqmlextensionplugin.h>

// Both modules are static: this pulls their plugins into the program.
Q_IMPORT_QML_PLUGIN(Tellwind_CorePlugin)
Q_IMPORT_QML_PLUGIN(Tellwind_ViewsPlugin)

namespace
{

// Rides on the engine, so what it lends goes with the engine and two engines
// (the tests make several) never see each other's objects.
class QmlObjectsHolder : public QObject
{
public:
    QmlObjectsHolder(const QmlObjects &objects, QObject *engine)
        : QObject(engine)
        , objects(objects)
    {
        setObjectName(QLatin1String(name));
    }
    static constexpr const char *name = "tellwindQmlObjects";
    QmlObjects objects;
};

QmlObjectsHolder *holderOf(const QQmlEngine *engine)
{
    return engine ? dynamic_cast<QmlObjectsHolder *>(engine->findChild<QObject *>(
               QLatin1String(QmlObjectsHolder::name), Qt::FindDirectChildrenOnly))
                  : nullptr;
}

} // namespace

void provideQmlObjects(QQmlEngine &engine, const QmlObjects &objects)
{
    if (QmlObjectsHolder *holder = holderOf(&engine))
        holder->objects = objects;
    else
        new QmlObjectsHolder(objects, &engine);
}

QmlObjects providedQmlObjects(const QQmlEngine *engine)
{
    const QmlObjectsHolder *holder = holderOf(engine);
    return holder ? holder->objects : QmlObjects {};
}
