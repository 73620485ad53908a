#pragma once

#include "platform/Workspace.h"

// The freedesktop.org desktop: links through the desktop's URL handlers,
// files revealed through the file manager's D-Bus interface, and our own help
// pages where other systems have permission panes.
class DesktopWorkspace : public Workspace
{
public:
    bool openUrl(const QUrl &url) override;
    void revealFile(const QString &path) override;
    void openSettingsPane(Pane pane) override;

    // The installed help page for a permission, or an empty string.
    static QString helpPage(Pane pane);
};
