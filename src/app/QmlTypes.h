#pragma once

class QObject;
class WindowSystem;

// Makes the types the views use known under the import "Tellwind.Core":
// SupportedLanguage and STTProvider (values and enums), and the view helpers
// LanguageCatalog, PopupFocus and Pointer, and the TextFormattingSettings switches. The application's own
// objects (AppState, SpeechRecognitionManager, …) are registered by whoever owns them, with
// qmlRegisterSingletonInstance under their class names.
void registerQmlTypes(WindowSystem &windowSystem);
