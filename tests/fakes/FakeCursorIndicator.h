#pragma once

#include "output/CursorIndicatorService.h"
#include "platform/x11/X11WindowSystem.h"

// Counts show() calls, knows whether it shows, and keeps no window.
class FakeCursorIndicator : public CursorIndicatorService
{
public:
    FakeCursorIndicator()
        : CursorIndicatorService(s_windowSystem)
    {
    }

    int shows = 0;
    bool showing = false;

    void show() override { showing = ++shows; }
    void hide() override { showing = false; }

private:
    static inline NullWindowSystem s_windowSystem;
};
