#pragma once

#include <QObject>
#include <QString>

#include <functional>

class Workspace;

// Whether the first-run walk-through is to be shown, and the few things it
// asks of the system: the typing permission, where the program is installed,
// revealing it in the file manager.
class OnboardingManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool shouldShowOnboarding READ shouldShowOnboarding WRITE setShouldShowOnboarding NOTIFY
            shouldShowOnboardingChanged)
    Q_PROPERTY(QString bundlePath READ bundlePath CONSTANT)

public:
    static constexpr const char *hasCompletedOnboardingKey = "hasCompletedOnboarding";

    using TrustSource = std::function<bool()>;

    // `bundlePath` is the installed program; `openAccessibilitySettings`
    // shows how to grant the typing permission.
    OnboardingManager(TrustSource isAccessibilityTrusted, std::function<void()> openAccessibilitySettings,
        Workspace &workspace, QString bundlePath, QObject *parent = nullptr);

    bool shouldShowOnboarding() const { return m_shouldShowOnboarding; }
    void setShouldShowOnboarding(bool value);
    QString bundlePath() const { return m_bundlePath; }

    Q_INVOKABLE bool isAccessibilityTrusted() const;
    // Installed by a package or by the user into a prefix of their own,
    // rather than run from a download or build folder.
    Q_INVOKABLE bool isInApplications() const;
    Q_INVOKABLE void revealBundle();
    Q_INVOKABLE void openAccessibilitySettings();
    // Remembers that the walk-through was finished, for every later launch.
    Q_INVOKABLE void completeOnboarding();

    static bool isInstalledPath(const QString &path, const QString &homePath);

signals:
    void shouldShowOnboardingChanged(bool value);

private:
    TrustSource m_isAccessibilityTrusted;
    std::function<void()> m_openAccessibilitySettings;
    Workspace &m_workspace;
    QString m_bundlePath;
    bool m_shouldShowOnboarding = false;
};
