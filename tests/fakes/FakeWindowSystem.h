#pragma once

#include "platform/WindowSystem.h"

// Window management whose focused window the test moves by hand.
class FakeWindowSystem : public WindowSystem
{
public:
    WindowId focus = 1;

    bool isCompositing() const override { return true; }
    void setOnAllDesktops(QWindow *) override { }
    WindowId focusedWindow() const override { return focus; }
    void restoreFocus(WindowId window) override { focus = window; }
    bool knowsPointerPosition() const override { return false; }
};
