#include "app/QmlTypes.h"

#include "app/LanguageCatalog.h"
#include "app/Pointer.h"
#include "app/PopupFocus.h"
#include "platform/PlatformStatus.h"
#include "speech/STTProvider.h"
#include "speech/SupportedLanguage.h"
#include "speech/TextFormattingSettings.h"

#include <QQmlEngine>
#include <QtQml/qqmlextensionplugin.h>

// The views are a static QML module; this pulls its plugin into the program.
Q_IMPORT_QML_PLUGIN(Tellwind_ViewsPlugin)

void registerQmlTypes(WindowSystem &windowSystem)
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    const char *uri = "Tellwind.Core";
    qmlRegisterUncreatableMetaObject(SupportedLanguage::staticMetaObject, uri, 1, 0, "SupportedLanguage",
        QStringLiteral("SupportedLanguage is a value"));
    qmlRegisterUncreatableMetaObject(STTProviders::staticMetaObject, uri, 1, 0, "STTProvider",
        QStringLiteral("STTProvider is an enumeration"));
    qmlRegisterSingletonInstance(uri, 1, 0, "LanguageCatalog", new LanguageCatalog);
    qmlRegisterSingletonInstance(uri, 1, 0, "PopupFocus", new PopupFocus(windowSystem));
    qmlRegisterSingletonInstance(uri, 1, 0, "Pointer", new Pointer);
    qmlRegisterSingletonInstance(uri, 1, 0, "TextFormattingSettings", new TextFormattingSettings);
    qmlRegisterSingletonInstance(uri, 1, 0, "PlatformStatus", &PlatformStatus::instance());
}
