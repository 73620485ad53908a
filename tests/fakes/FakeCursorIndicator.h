#pragma once

#include "output/CursorIndicatorService.h"
#include "platform/x11/X11WindowSystem.h"

// Counts show() and hide() calls and keeps no window.
class FakeCursorIndicator : public CursorIndicatorService
{
public:
    FakeCursorIndicator()
        : CursorIndicatorService(s_windowSystem)
    {
    }

    int shows = 0;
    int hides = 0;
    bool showing = false;

    void show() override
    {
        ++shows;
        showing = true;
    }
    void hide() override
    {
        ++hides;
        showing = false;
    }

private:
    static inline NullWindowSystem s_windowSystem;
};
