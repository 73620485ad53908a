#pragma once

#include <QProcessEnvironment>
#include <QString>

// What kind of graphical session the program was started in, read from the
// environment alone so that the answer can be worked out (and tested)
// without a display.
struct SessionInfo {
    enum class Kind { none, x11, wayland };
    // The desktop families whose input facilities differ.
    enum class Desktop { other, gnome, kde, wlroots };

    Kind kind = Kind::none;
    Desktop desktop = Desktop::other;
    QString desktopName; // as the session names it ("GNOME", "KDE", "sway", …)
    QString waylandDisplay;
    QString x11Display;

    bool isWayland() const { return kind == Kind::wayland; }
    // An X server next to the compositor: X11 clients (and XTEST) work there.
    bool hasXwayland() const { return isWayland() && !x11Display.isEmpty(); }

    static SessionInfo fromEnvironment(const QProcessEnvironment &environment);
    static SessionInfo current();

    // Before the application object exists: on a Wayland session with an X
    // server next to it, Qt's windows go through Xwayland, where they can
    // keep their place, stay on top and never take the focus. A platform the
    // user chose stays. True when it chose: the caller takes the choice back
    // out of the environment once Qt has read it, so that programs Tellwind
    // opens (the browser for signing in) run as they would anyway.
    static bool preferXwaylandForWindows();

    // One line for the log: "wayland (sway, Xwayland)".
    QString describe() const;
};
