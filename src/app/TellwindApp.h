#pragma once

#include <QObject>
#include <QQmlApplicationEngine>
#include <QStringList>

#include <chrono>
#include <memory>

#include <qcoro/qcorotask.h>

class AppDelegate;
class CompositionRoot;
class OnboardingManager;
class SettingsWindow;
class SingleInstance;
class TextInsertionService;

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

    // How long a SIGTERM or SIGINT waits for the typing in progress.
    static constexpr std::chrono::milliseconds terminationTypingBound { 3000 };
    // The way out for a termination signal: the words being typed are typed
    // to the end (within the bound) before the event loop quits.
    QCoro::Task<> terminate();
    // The typing part of it: false, with the count of characters left in the
    // log, when `bound` ran out first.
    static QCoro::Task<bool> finishTypingForQuit(
        TextInsertionService &typing, std::chrono::milliseconds bound);

private:
    void showMainWindow();

    SingleInstance &m_instance;
    std::unique_ptr<CompositionRoot> m_root;
    // The program's one QML engine and the settings window it makes: both
    // before the delegate, whose tray opens that window from the start.
    // The destructor lets them go first, as the views bind to everything here.
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    std::unique_ptr<SettingsWindow> m_settingsWindow;
    std::unique_ptr<AppDelegate> m_appDelegate;
    OnboardingManager *m_onboardingManager = nullptr;
    bool m_terminating = false;
};
