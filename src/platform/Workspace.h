#pragma once

#include <QString>
#include <QUrl>

// The desktop around the program: opening links and folders, and the places
// that stand in for the permission panes of other systems.
class Workspace
{
public:
    enum class Pane { accessibility, microphone };

    virtual ~Workspace() = default;
    virtual bool openUrl(const QUrl &url) = 0;
    // Shows the file selected in the file manager, or opens its folder.
    virtual void revealFile(const QString &path) = 0;
    // The help page (or the desktop's sound settings) for a permission.
    virtual void openSettingsPane(Pane pane) = 0;
};
