#pragma once

#include "platform/Workspace.h"

#include <QList>
#include <QStringList>
#include <QUrl>

// Records what the views asked the desktop to open or reveal.
class RecordingWorkspace : public Workspace
{
public:
    bool openUrl(const QUrl &url) override
    {
        openedUrls.append(url);
        return true;
    }
    void revealFile(const QString &path) override { revealedFiles.append(path); }
    void openSettingsPane(Pane pane) override { openedPanes.append(pane); }

    QList<QUrl> openedUrls;
    QStringList revealedFiles;
    QList<Pane> openedPanes;
};
