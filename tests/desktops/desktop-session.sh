#!/usr/bin/env bash
# Runs a command inside a private headless GNOME 43 or KDE Plasma 5.27 session with the desktop's own
# compositor and portals, as an unprivileged user, with WAYLAND_DISPLAY, DISPLAY and XAUTHORITY (Xwayland),
# its own XDG_RUNTIME_DIR, HOME and session bus, and TELLWIND_DESKTOP=gnome|kde; torn down afterwards.
#
#   tests/desktops/desktop-session.sh gnome build/test_desktop_typing
#   tests/desktops/desktop-session.sh kde bash   # a shell to look around
set -u

desktop=${1:-}
shift
case "$desktop" in
gnome | kde) ;;
*) echo "usage: $0 gnome|kde COMMAND..." >&2; exit 2 ;;
esac
here=$(dirname "$(readlink -f "$0")")

if [ "$(id -u)" != 0 ]; then
    # The system bus and the mount namespace below need root, or sudo without a password.
    sudo -n true 2>/dev/null || {
        echo "desktop-session: needs root or sudo without a password (it creates a user for the desktop)" >&2
        exit 77
    }
    exec sudo -n --preserve-env=TELLWIND_BUILD_DIR,TELLWIND_SOURCE_DIR,TELLWIND_DESKTOP_USER,TELLWIND_DESKTOP_KDE_PORTAL,TELLWIND_SESSION_KEEP \
        "$0" "$desktop" "$@"
fi

# A private mount namespace: a system bus but no logind for gnome-shell, and an X socket folder of its own.
if [ -z "${TELLWIND_DESKTOP_NS:-}" ]; then
    exec unshare -m --propagation private env TELLWIND_DESKTOP_NS=1 "$0" "$desktop" "$@"
fi
mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix || exit 1

# shellcheck source=tests/support/session-user.sh
. "$here/../support/session-user.sh"
session_start "$desktop" "${TELLWIND_DESKTOP_USER:-tellwind-desktop}" "${1:-}"

if [ "$desktop" = gnome ]; then
    mount -t tmpfs tmpfs /run/systemd || fail "cannot hide logind"
    mount -t tmpfs tmpfs /run/dbus || fail "cannot make a private system bus"
    # KDE's portal backend would serve GNOME's shortcuts, never opening a session (=1 keeps it, as KDE users do).
    [ -e /usr/share/xdg-desktop-portal/portals/kde.portal ] && [ -z "${TELLWIND_DESKTOP_KDE_PORTAL:-}" ] \
        && mount --bind /dev/null /usr/share/xdg-desktop-portal/portals/kde.portal
    dbus-daemon --system --fork >"$work/system-bus.log" 2>&1 || fail "no system bus"
fi

user_env+=(DBUS_SESSION_BUS_ADDRESS="unix:path=$run/bus" XDG_SESSION_TYPE=wayland)
if [ "$desktop" = gnome ]; then
    user_env+=(XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_DESKTOP=gnome)
else
    user_env+=(XDG_CURRENT_DESKTOP=KDE KDE_FULL_SESSION=true KDE_SESSION_VERSION=5 XDG_SESSION_DESKTOP=KDE)
fi

daemon session-bus dbus-daemon --session --nofork --address="unix:path=$run/bus"
wait_for "the session bus" test -S "$run/bus"

if [ "$desktop" = gnome ]; then
    daemon gnome-shell gnome-shell --headless --wayland --virtual-monitor 1280x800
    wait_for "gnome-shell" grep -q "Using public X11 display" "$work/gnome-shell.log"
    display=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$work/gnome-shell.log" | head -n 1)
    wait_for "gnome-shell's bus name" as_user busctl --user get-property org.gnome.Shell /org/gnome/Shell \
        org.gnome.Shell OverviewActive
    # Until the start-up overview closes, keys go to its search field.
    wait_for "gnome-shell's start-up" grep -q "GNOME Shell started" "$work/gnome-shell.log"
    overview_closed() {
        as_user busctl --user set-property org.gnome.Shell /org/gnome/Shell org.gnome.Shell OverviewActive b false
        as_user busctl --user get-property org.gnome.Shell /org/gnome/Shell org.gnome.Shell OverviewActive \
            | grep -q false
    }
    wait_for "gnome-shell without its overview" overview_closed
    xauthority=$(ls "$run"/.mutter-Xwaylandauth.* 2>/dev/null | head -n 1)
    daemon portal-backend /usr/libexec/xdg-desktop-portal-gnome
    wait_for "xdg-desktop-portal-gnome" as_user busctl --user status org.freedesktop.impl.portal.desktop.gnome
    # GNOME 43 asks at every new remote-desktop session: this answers yes for the whole run.
    daemon dialog python3 "$here/answer-dialog.py"
else
    # Debian's kwin_wayland carries a file capability this sandbox refuses to exec; a plain copy runs.
    cp /usr/bin/kwin_wayland "$work/kwin_wayland"
    daemon kwin "$work/kwin_wayland" --virtual --width 1280 --height 800 --no-lockscreen \
        --socket wayland-0 --xwayland
    kwin=${pids[-1]}
    wait_for "kwin" test -S "$run/wayland-0"
    # This session's Xwayland is the one in kwin's process group (another run's may be the same user's).
    wait_for "Xwayland" pgrep -g "$kwin" -x Xwayland
    xwayland=$(pgrep -g "$kwin" -x Xwayland | head -n 1)
    display=$(tr '\0' '\n' <"/proc/$xwayland/cmdline" | grep -m 1 '^:[0-9]')
    xauthority=$(tr '\0' '\n' <"/proc/$xwayland/cmdline" | grep -A 1 -x -- -auth | tail -n 1)
    wait_for "kwin's bus name" as_user busctl --user status org.kde.KWin
    # Debian keeps it in the architecture's own library folder.
    kde_portal=$(ls /usr/lib/*/libexec/xdg-desktop-portal-kde 2>/dev/null | head -n 1)
    [ -x "$kde_portal" ] || fail "xdg-desktop-portal-kde is not installed"
    daemon portal-backend "$kde_portal"
    wait_for "xdg-desktop-portal-kde" as_user busctl --user status org.freedesktop.impl.portal.desktop.kde
fi
[ -n "$display" ] || fail "no Xwayland display"
daemon portal /usr/libexec/xdg-desktop-portal
wait_for "xdg-desktop-portal" as_user busctl --user get-property org.freedesktop.portal.Desktop \
    /org/freedesktop/portal/desktop org.freedesktop.portal.RemoteDesktop version

# Build and source folders come from the caller's environment; everything else is the user's own.
as_user WAYLAND_DISPLAY=wayland-0 DISPLAY="$display" XAUTHORITY="$xauthority" TELLWIND_DESKTOP="$desktop" \
    TELLWIND_DESKTOP_TOOLS="$here" \
    TELLWIND_BUILD_DIR="${TELLWIND_BUILD_DIR:-}" TELLWIND_SOURCE_DIR="${TELLWIND_SOURCE_DIR:-}" \
    QT_QUICK_BACKEND=software TELLWIND_HARNESS=1 "$@"
