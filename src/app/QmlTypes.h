#pragma once

#include "account/AuthManager.h"
#include "app/AppState.h"
#include "app/ErrorReporter.h"
#include "app/LanguageAvailability.h"
#include "app/OnboardingManager.h"
#include "app/SpeechSettings.h"
#include "desktop/GlobalHotkeyManager.h"
#include "desktop/LaunchAtLoginManager.h"
#include "desktop/MenuBarManager.h"
#include "desktop/WindowPositionManager.h"
#include "platform/PlatformStatus.h"
#include "speech/SpeechRecognitionManager.h"
#include "speech/SupportedLanguage.h"
#include "speech/TextFormattingSettings.h"

#include <QQmlEngine>
#include <QtQmlIntegration/qqmlintegration.h>

class WindowSystem;

// The objects the views reach by name under the import "Tellwind.Core". The
// application (or a test) makes and owns them; an engine only borrows them.
struct QmlObjects {
    AppState *appState = nullptr;
    ErrorReporter *errorReporter = nullptr;
    LanguageAvailability *languageAvailability = nullptr;
    SpeechSettings *speechSettings = nullptr;
    SpeechRecognitionManager *recognitionManager = nullptr;
    LaunchAtLoginManager *launchAtLoginManager = nullptr;
    GlobalHotkeyManager *hotkeyManager = nullptr;
    MenuBarManager *menuBarManager = nullptr;
    WindowPositionManager *windowPositionManager = nullptr;
    AuthManager *authManager = nullptr;
    OnboardingManager *onboardingManager = nullptr;
    PlatformStatus *platformStatus = nullptr;
    // Where the language search lends the keyboard focus from.
    WindowSystem *windowSystem = nullptr;
};

// Lends `objects` to every view `engine` makes from now on; call it before the
// first one. An object left out is an error in the view that asks for it.
void provideQmlObjects(QQmlEngine &engine, const QmlObjects &objects);
// What was lent to `engine`; empty when nothing was.
QmlObjects providedQmlObjects(const QQmlEngine *engine);

namespace QmlTypes
{
// The lent object in `member`, kept out of the engine's garbage collection.
template <typename T> T *lent(QQmlEngine *engine, T *QmlObjects::*member)
{
    T *object = providedQmlObjects(engine).*member;
    if (object)
        QJSEngine::setObjectOwnership(object, QJSEngine::CppOwnership);
    else
        qWarning("%s was not lent to this QML engine", T::staticMetaObject.className());
    return object;
}
} // namespace QmlTypes

// The components stay free of QML (they are built and tested without an
// engine), so the module names them here. Each singleton is the object lent
// to the engine, never one the engine makes.

// A singleton that is the object lent to the engine under `member`.
#define TELLWIND_LENT_SINGLETON(Type, member)                                                                \
    struct Type##Foreign {                                                                                   \
        Q_GADGET                                                                                             \
        QML_FOREIGN(Type)                                                                                    \
        QML_NAMED_ELEMENT(Type)                                                                              \
        QML_SINGLETON                                                                                        \
    public:                                                                                                  \
        static Type *create(QQmlEngine *engine, QJSEngine *)                                                 \
        {                                                                                                    \
            return QmlTypes::lent(engine, &QmlObjects::member);                                              \
        }                                                                                                    \
    };

TELLWIND_LENT_SINGLETON(AppState, appState)
TELLWIND_LENT_SINGLETON(ErrorReporter, errorReporter)
TELLWIND_LENT_SINGLETON(LanguageAvailability, languageAvailability)
TELLWIND_LENT_SINGLETON(SpeechSettings, speechSettings)
TELLWIND_LENT_SINGLETON(SpeechRecognitionManager, recognitionManager)
TELLWIND_LENT_SINGLETON(LaunchAtLoginManager, launchAtLoginManager)
TELLWIND_LENT_SINGLETON(GlobalHotkeyManager, hotkeyManager)
TELLWIND_LENT_SINGLETON(MenuBarManager, menuBarManager)
TELLWIND_LENT_SINGLETON(WindowPositionManager, windowPositionManager)
TELLWIND_LENT_SINGLETON(AuthManager, authManager)
TELLWIND_LENT_SINGLETON(OnboardingManager, onboardingManager)
TELLWIND_LENT_SINGLETON(PlatformStatus, platformStatus)

// Keeps nothing but the settings file, so the engine may make its own.
struct TextFormattingSettingsForeign {
    Q_GADGET
    QML_FOREIGN(TextFormattingSettings)
    QML_NAMED_ELEMENT(TextFormattingSettings)
    QML_SINGLETON
};

struct SupportedLanguageForeign {
    Q_GADGET
    QML_FOREIGN(SupportedLanguage)
    QML_VALUE_TYPE(supportedLanguage)
};
