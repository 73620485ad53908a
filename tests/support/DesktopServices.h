#pragma once

#include "account/AuthManager.h"
#include "app/AppDelegate.h"
#include "desktop/GlobalHotkeyManager.h"
#include "desktop/LaunchAtLoginManager.h"
#include "desktop/MenuBarManager.h"
#include "fakes/FakeAutostartStore.h"
#include "fakes/FakeKeyMonitor.h"
#include "fakes/FakeStatusBar.h"

#include <memory>

// The desktop services an AppDelegate plugs in, on fakes: no tray, no key monitor, no autostart file.
struct DesktopServices {
    AuthManager authManager;
    LaunchAtLoginManager launchAtLoginManager { std::make_unique<FakeAutostartStore>(), "/usr/bin/tellwind" };
    GlobalHotkeyManager hotkeyManager { std::make_unique<FakeKeyMonitor>() };
    MenuBarManager menuBar { std::make_unique<FakeStatusBar>() };

    AppDelegate::Services services() { return { authManager, launchAtLoginManager, hotkeyManager, menuBar }; }
};
