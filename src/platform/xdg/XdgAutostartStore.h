#pragma once

#include "platform/AutostartStore.h"

#include <QStringList>

// The XDG autostart entry "tellwind.desktop": the user's own in
// $XDG_CONFIG_HOME/autostart overrides one a package put in $XDG_CONFIG_DIRS.
class XdgAutostartStore : public AutostartStore
{
public:
    static constexpr const char *entryName = "tellwind.desktop";

    // Defaults: the user's config folder, the system's config folders and
    // the running program.
    explicit XdgAutostartStore(
        QString userConfigDir = {}, QStringList systemConfigDirs = {}, QString executablePath = {});

    Status status() const override;
    std::optional<QString> registerApp() override;
    std::optional<QString> unregisterApp() override;

    QString userEntryPath() const;
    // Exec value for one program path, quoted as desktop entries require.
    static QString execValue(const QString &path);
    // The program an Exec value starts (its first argument, unquoted).
    static QString execProgram(const QString &exec);

private:
    std::optional<QString> writeUserEntry(bool hidden);
    QString systemEntryPath() const;

    QString m_userConfigDir;
    QStringList m_systemConfigDirs;
    QString m_executablePath;
};
