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

// The desktop services an AppDelegate plugs in, on fakes: no tray, no key
// monitor, no autostart file. A test may hand in a real one of its own.
struct DesktopServices {
    AuthManager authManager;
    LaunchAtLoginManager launchAtLoginManager { std::make_unique<FakeAutostartStore>() };
    GlobalHotkeyManager hotkeyManager { std::make_unique<FakeKeyMonitor>() };
    MenuBarManager fakeMenuBar { std::make_unique<FakeStatusBar>() };
    MenuBarManager *menuBar = &fakeMenuBar;

    AppDelegate::Services services()
    {
        return { authManager, launchAtLoginManager, hotkeyManager, *menuBar };
    }
};
