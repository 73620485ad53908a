#pragma once

#include "platform/StatusBar.h"

// Status items as Qt tray icons: a StatusNotifierItem over D-Bus where the
// desktop runs a watcher, an XEmbed tray icon otherwise.
class QtStatusBar : public StatusBar
{
public:
    bool isAvailable() const override;
    std::unique_ptr<StatusItem> statusItem() override;
};
