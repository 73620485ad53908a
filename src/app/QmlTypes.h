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
#include "speech/STTProvider.h"
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

struct AppStateForeign {
    Q_GADGET
    QML_FOREIGN(AppState)
    QML_NAMED_ELEMENT(AppState)
    QML_SINGLETON
public:
    static AppState *create(QQmlEngine *engine, QJSEngine *)
    {
        return QmlTypes::lent(engine, &QmlObjects::appState);
    }
};

struct ErrorReporterForeign {
    Q_GADGET
    QML_FOREIGN(ErrorReporter)
    QML_NAMED_ELEMENT(ErrorReporter)
    QML_SINGLETON
public:
    static ErrorReporter *create(QQmlEngine *engine, QJSEngine *)
    {
        return QmlTypes::lent(engine, &QmlObjects::errorReporter);
    }
};

struct LanguageAvailabilityForeign {
    Q_GADGET
    QML_FOREIGN(LanguageAvailability)
    QML_NAMED_ELEMENT(LanguageAvailability)
    QML_SINGLETON
public:
    static LanguageAvailability *create(QQmlEngine *engine, QJSEngine *)
    {
        return QmlTypes::lent(engine, &QmlObjects::languageAvailability);
    }
};

struct SpeechSettingsForeign {
    Q_GADGET
    QML_FOREIGN(SpeechSettings)
    QML_NAMED_ELEMENT(SpeechSettings)
    QML_SINGLETON
public:
    static SpeechSettings *create(QQmlEngine *engine, QJSEngine *)
    {
        return QmlTypes::lent(engine, &QmlObjects::speechSettings);
    }
};

struct SpeechRecognitionManagerForeign {
    Q_GADGET
    QML_FOREIGN(SpeechRecognitionManager)
    QML_NAMED_ELEMENT(SpeechRecognitionManager)
    QML_SINGLETON
public:
    static SpeechRecognitionManager *create(QQmlEngine *engine, QJSEngine *)
    {
        return QmlTypes::lent(engine, &QmlObjects::recognitionManager);
    }
};

struct LaunchAtLoginManagerForeign {
    Q_GADGET
    QML_FOREIGN(LaunchAtLoginManager)
    QML_NAMED_ELEMENT(LaunchAtLoginManager)
    QML_SINGLETON
public:
    static LaunchAtLoginManager *create(QQmlEngine *engine, QJSEngine *)
    {
        return QmlTypes::lent(engine, &QmlObjects::launchAtLoginManager);
    }
};

struct GlobalHotkeyManagerForeign {
    Q_GADGET
    QML_FOREIGN(GlobalHotkeyManager)
    QML_NAMED_ELEMENT(GlobalHotkeyManager)
    QML_SINGLETON
public:
    static GlobalHotkeyManager *create(QQmlEngine *engine, QJSEngine *)
    {
        return QmlTypes::lent(engine, &QmlObjects::hotkeyManager);
    }
};

struct MenuBarManagerForeign {
    Q_GADGET
    QML_FOREIGN(MenuBarManager)
    QML_NAMED_ELEMENT(MenuBarManager)
    QML_SINGLETON
public:
    static MenuBarManager *create(QQmlEngine *engine, QJSEngine *)
    {
        return QmlTypes::lent(engine, &QmlObjects::menuBarManager);
    }
};

struct WindowPositionManagerForeign {
    Q_GADGET
    QML_FOREIGN(WindowPositionManager)
    QML_NAMED_ELEMENT(WindowPositionManager)
    QML_SINGLETON
public:
    static WindowPositionManager *create(QQmlEngine *engine, QJSEngine *)
    {
        return QmlTypes::lent(engine, &QmlObjects::windowPositionManager);
    }
};

struct AuthManagerForeign {
    Q_GADGET
    QML_FOREIGN(AuthManager)
    QML_NAMED_ELEMENT(AuthManager)
    QML_SINGLETON
public:
    static AuthManager *create(QQmlEngine *engine, QJSEngine *)
    {
        return QmlTypes::lent(engine, &QmlObjects::authManager);
    }
};

struct OnboardingManagerForeign {
    Q_GADGET
    QML_FOREIGN(OnboardingManager)
    QML_NAMED_ELEMENT(OnboardingManager)
    QML_SINGLETON
public:
    static OnboardingManager *create(QQmlEngine *engine, QJSEngine *)
    {
        return QmlTypes::lent(engine, &QmlObjects::onboardingManager);
    }
};

// One per process: what the session gave the program.
struct PlatformStatusForeign {
    Q_GADGET
    QML_FOREIGN(PlatformStatus)
    QML_NAMED_ELEMENT(PlatformStatus)
    QML_SINGLETON
public:
    static PlatformStatus *create(QQmlEngine *engine, QJSEngine *)
    {
        return QmlTypes::lent(engine, &QmlObjects::platformStatus);
    }
};

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

namespace STTProviderForeign
{
Q_NAMESPACE
QML_FOREIGN_NAMESPACE(STTProviders)
QML_NAMED_ELEMENT(STTProvider)
} // namespace STTProviderForeign
