#pragma once

#include "platform/WindowSystem.h"

typedef struct _XDisplay Display;

// EWMH hints and focus through the X connection Qt already holds, so that the
// properties reach the server in order with Qt's own requests for the window.
class X11WindowSystem : public WindowSystem
{
public:
    // Through Xwayland, `knowsPointer` is false: the pointer is seen only
    // over X11 windows.
    X11WindowSystem(Display *display, bool knowsPointer);

    bool isCompositing() const override;
    void setOnAllDesktops(QWindow *window) override;
    WindowId focusedWindow() const override;
    void restoreFocus(WindowId window) override;
    bool knowsPointerPosition() const override { return m_knowsPointer; }

private:
    Display *m_display;
    bool m_knowsPointer;
};

// Where there is no X display (a Wayland session, the offscreen platform).
class NullWindowSystem : public WindowSystem
{
public:
    bool isCompositing() const override { return true; }
    void setOnAllDesktops(QWindow *) override { }
    WindowId focusedWindow() const override { return 0; }
    void restoreFocus(WindowId) override { }
    bool knowsPointerPosition() const override { return false; }
};
