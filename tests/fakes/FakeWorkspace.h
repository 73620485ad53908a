#pragma once

#include "platform/Workspace.h"

#include <QList>
#include <QStringList>
#include <QUrl>

// Records what the program asked the desktop to open; opens nothing.
class FakeWorkspace : public Workspace
{
public:
    QList<QUrl> openedUrls;
    QStringList revealedFiles;
    QList<Pane> openedPanes;

    bool openUrl(const QUrl &url) override
    {
        openedUrls.append(url);
        return true;
    }
    void revealFile(const QString &path) override { revealedFiles.append(path); }
    void openSettingsPane(Pane pane) override { openedPanes.append(pane); }
};
