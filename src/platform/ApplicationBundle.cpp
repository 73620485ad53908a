#include "platform/ApplicationBundle.h"

#include <QDir>

bool ApplicationBundle::isInstalledLocation(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    const QString userPrefix = QDir::cleanPath(QDir::homePath() + QStringLiteral("/.local")) + u'/';
    return clean.startsWith(QStringLiteral("/usr/")) || clean.startsWith(QStringLiteral("/opt/"))
        || clean.startsWith(userPrefix);
}
