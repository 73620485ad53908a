#pragma once

#include "platform/Workspace.h"

#include <QList>
#include <QUrl>

// Records what the program asked the desktop to open; opens nothing.
class FakeWorkspace : public Workspace
{
public:
    QList<QUrl> openedUrls;

    bool openUrl(const QUrl &url) override
    {
        openedUrls.append(url);
        return true;
    }
    void revealFile(const QString &) override { }
    void openSettingsPane(Pane) override { }
};
