#pragma once

#include <QString>

// Where the running program is installed.
class ApplicationBundle
{
public:
    virtual ~ApplicationBundle() = default;

    // The program's own file.
    virtual QString path() const = 0;
    // Installed for the system or the user (under /usr/, /opt/ or
    // ~/.local/) rather than run from a download or build folder.
    bool isInApplications() const { return isInstalledLocation(path()); }

    static bool isInstalledLocation(const QString &path);
};
