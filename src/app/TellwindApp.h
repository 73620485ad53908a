#pragma once

#include <QObject>
#include <QQmlApplicationEngine>
#include <QStringList>

#include <memory>

class AppDelegate;
class ErrorReporter;
class LanguageAvailability;
class SpeechSettings;
class Notifier;
class OnboardingManager;
class SettingsWindow;
class SingleInstance;

// The application: its delegate and the panel window, wired together.
class TellwindApp : public QObject
{
    Q_OBJECT

public:
    explicit TellwindApp(SingleInstance &instance, QObject *parent = nullptr);
    ~TellwindApp() override;

    // Runs the launch sequence, shows the panel, then opens `urls`.
    void launch(const QStringList &urls);

    AppDelegate &appDelegate() const { return *m_appDelegate; }

private:
    void showMainWindow();

    SingleInstance &m_instance;
    std::unique_ptr<AppDelegate> m_appDelegate;
    std::unique_ptr<Notifier> m_notifier;
    std::unique_ptr<ErrorReporter> m_errorReporter;
    std::unique_ptr<LanguageAvailability> m_languageAvailability;
    std::unique_ptr<SpeechSettings> m_speechSettings;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    OnboardingManager *m_onboardingManager = nullptr;
    // Made by the engine above, so it goes first.
    std::unique_ptr<SettingsWindow> m_settingsWindow;
};
