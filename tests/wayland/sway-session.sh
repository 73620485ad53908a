#!/usr/bin/env bash
# Runs a command in a private headless sway (with Xwayland) as an unprivileged user, since sway refuses root,
# with WAYLAND_DISPLAY, DISPLAY, SWAYSOCK, its own runtime folder, HOME and session bus; torn down afterwards.
#
#   tests/wayland/sway-session.sh build/test_wayland_typing
set -u

here=$(dirname "$(readlink -f "$0")")
# shellcheck source=tests/support/session-user.sh
. "$here/../support/session-user.sh"
session_start sway "${TELLWIND_SWAY_USER:-tellwind-sway}" "${1:-}"

cat >"$work/sway.conf" <<CONF
xwayland enable
output HEADLESS-1 resolution 1280x800
default_border none
focus_follows_mouse no
exec env > $run/session.env
CONF

daemon sway env WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland sway -c "$work/sway.conf"
wait_for sway test -s "$run/session.env"
# The user's own PulseAudio: its source "mic" hears what is played to "spk", as in tests/harness.sh.
daemon pulse pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
    --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=spk" \
    --load="module-remap-source master=spk.monitor source_name=mic"
wait_for PulseAudio as_user pactl set-default-source mic
as_user pactl set-default-sink spk

# The first exec may run before Xwayland has its display: ask again until the environment names it.
swaysock=$(sed -n 's/^SWAYSOCK=//p' "$run/session.env")
has_display() {
    grep -q '^DISPLAY=' "$run/session.env" && return 0
    as_user swaymsg -s "$swaysock" exec "env > $run/session.env.new && mv $run/session.env.new $run/session.env"
    return 1
}
wait_for Xwayland has_display
wayland=$(sed -n 's/^WAYLAND_DISPLAY=//p' "$run/session.env")
display=$(sed -n 's/^DISPLAY=//p' "$run/session.env")

# Build and source folders come from the caller's environment; everything else is the user's own.
as_user env WAYLAND_DISPLAY="$wayland" DISPLAY="$display" SWAYSOCK="$swaysock" \
    XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland \
    TELLWIND_BUILD_DIR="${TELLWIND_BUILD_DIR:-}" TELLWIND_SOURCE_DIR="${TELLWIND_SOURCE_DIR:-}" \
    QT_QPA_PLATFORM=xcb QT_QUICK_BACKEND=software TELLWIND_HARNESS=1 \
    dbus-run-session -- "$@"
