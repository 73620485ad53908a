#pragma once

#include <QtGlobal>

#include <memory>

class QWindow;

// The window manager around our small always-on-top windows: whether it can
// draw translucency, keeping a window on every virtual desktop, and handing
// keyboard focus back to the application the user was typing into.
class WindowSystem
{
public:
    using WindowId = quintptr; // 0: none known

    virtual ~WindowSystem() = default;

    // True when a compositing manager blends translucent windows; without one
    // their transparent pixels show as black.
    virtual bool isCompositing() const = 0;
    // Keeps the window on every virtual desktop (works before and after it is shown).
    virtual void setOnAllDesktops(QWindow *window) = 0;
    // The window that holds keyboard focus now, whichever application it
    // belongs to; 0 when the focus is on no window in particular.
    virtual WindowId focusedWindow() const = 0;
    // Gives keyboard focus back to a window remembered by focusedWindow().
    virtual void restoreFocus(WindowId window) = 0;

    // The backend for the running session (X11, or one that does nothing).
    static std::unique_ptr<WindowSystem> create();
};
