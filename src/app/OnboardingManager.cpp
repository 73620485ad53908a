#include "app/OnboardingManager.h"

#include "common/Settings.h"
#include "platform/Workspace.h"

#include <QCoreApplication>
#include <QDir>

OnboardingManager::OnboardingManager(TrustSource isAccessibilityTrusted,
    std::function<void()> openAccessibilitySettings, Workspace &workspace, QString bundlePath,
    QObject *parent)
    : QObject(parent)
    , m_isAccessibilityTrusted(std::move(isAccessibilityTrusted))
    , m_openAccessibilitySettings(std::move(openAccessibilitySettings))
    , m_workspace(workspace)
    , m_bundlePath(std::move(bundlePath))
    , m_shouldShowOnboarding(!Settings::boolValue(QString::fromLatin1(hasCompletedOnboardingKey), false))
{
}

void OnboardingManager::setShouldShowOnboarding(bool value)
{
    if (m_shouldShowOnboarding == value)
        return;
    m_shouldShowOnboarding = value;
    emit shouldShowOnboardingChanged(value);
}

bool OnboardingManager::isAccessibilityTrusted() const
{
    return m_isAccessibilityTrusted && m_isAccessibilityTrusted();
}

bool OnboardingManager::isInstalledPath(const QString &path, const QString &homePath)
{
    // A plain prefix test on the path as the program was started, like the
    // check it stands for; "/usr/" and not "/usr" keeps "/usrlocal" out.
    QStringList prefixes { QStringLiteral("/usr/"), QStringLiteral("/opt/") };
    if (!homePath.isEmpty())
        prefixes.append(QDir(homePath).filePath(QStringLiteral(".local")) + QLatin1Char('/'));
    for (const QString &prefix : prefixes) {
        if (path.startsWith(prefix))
            return true;
    }
    return false;
}

bool OnboardingManager::isInApplications() const
{
    return isInstalledPath(m_bundlePath, QDir::homePath());
}

void OnboardingManager::revealBundle()
{
    m_workspace.revealFile(m_bundlePath);
}

void OnboardingManager::openAccessibilitySettings()
{
    if (m_openAccessibilitySettings)
        m_openAccessibilitySettings();
}

void OnboardingManager::completeOnboarding()
{
    Settings::setBool(QString::fromLatin1(hasCompletedOnboardingKey), true);
}
