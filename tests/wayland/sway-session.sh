#!/usr/bin/env bash
# Runs a command inside a private headless sway session (with Xwayland) as an
# unprivileged user, because sway refuses to run as root. The user is created
# on first use. The command gets WAYLAND_DISPLAY, DISPLAY, its own
# XDG_RUNTIME_DIR, HOME, settings folders and session bus; SWAYSOCK lets it
# drive the compositor with swaymsg. Everything is torn down afterwards.
#
#   tests/wayland/sway-session.sh build/test_wayland_typing
set -u

# Only root needs another user; anyone else runs sway as themselves.
if [ "$(id -u)" = 0 ]; then
    user=${TELLWIND_SWAY_USER:-tellwind-sway}
    if ! id -u "$user" >/dev/null 2>&1; then
        useradd --system --no-create-home --shell /usr/sbin/nologin "$user" || exit 1
    fi
    run_as=(runuser -u "$user" --)
else
    user=$(id -un)
    run_as=()
fi
uid=$(id -u "$user")

work=$(mktemp -d "${TMPDIR:-/tmp}/tellwind-sway.XXXXXX")
chmod 755 "$work"
pids=()
# Each daemon starts in a process group of its own, and the whole group
# goes: runuser does not pass a signal on to sway or Xwayland.
cleanup() {
    for pid in "${pids[@]}"; do kill -- "-$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do
        for _ in $(seq 100); do kill -0 -- "-$pid" 2>/dev/null || break; sleep 0.05; done
    done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The user must reach the program to run: a build under a private home
# folder (mode 700) is out of its reach. As root, let it pass through the
# folders on the way (search only, nothing becomes readable).
if [ "$(id -u)" = 0 ] && [ -e "${1:-}" ] && ! "${run_as[@]}" test -x "$1"; then
    folder=$(dirname "$(readlink -f "$1")")
    while [ "$folder" != / ]; do
        [ -n "$(find "$folder" -maxdepth 0 ! -perm -o+x)" ] && chmod o+x "$folder"
        folder=$(dirname "$folder")
    done
fi
if [ -e "${1:-}" ] && ! "${run_as[@]}" test -x "$1"; then
    echo "sway-session: $user cannot run $1; build in a folder others can read" >&2
    exit 1
fi

run="$work/run"
home="$work/home"
mkdir -p "$run" "$home"
chmod 700 "$run"
chown "$uid" "$run" "$home" 2>/dev/null || true

cat >"$work/sway.conf" <<CONF
xwayland enable
output HEADLESS-1 resolution 1280x800
default_border none
focus_follows_mouse no
exec env > $run/session.env
CONF

user_env=(env -i PATH="$PATH" HOME="$home" XDG_RUNTIME_DIR="$run" XDG_CONFIG_HOME="$home/config"
    XDG_DATA_HOME="$home/data" XDG_CACHE_HOME="$home/cache" LANG=C.UTF-8)
as_user() { "${run_as[@]}" "${user_env[@]}" "$@"; }

# A daemon of the session starts through setsid, leading a process group of
# its own that cleanup ends as a whole.

setsid "${run_as[@]}" "${user_env[@]}" WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland \
    sway -c "$work/sway.conf" >"$work/sway.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do [ -s "$run/session.env" ] && break; sleep 0.05; done
if [ ! -s "$run/session.env" ]; then
    echo "sway-session: sway did not start" >&2; cat "$work/sway.log" >&2; exit 1
fi
# The user's own PulseAudio: its default source "mic" hears what is played
# to the sink "spk", as in tests/harness.sh.
setsid "${run_as[@]}" "${user_env[@]}" pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
    --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=spk" \
    --load="module-remap-source master=spk.monitor source_name=mic" \
    >"$work/pulse.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do as_user pactl info >/dev/null 2>&1 && break; sleep 0.05; done
if ! as_user pactl set-default-source mic; then
    echo "sway-session: PulseAudio did not start" >&2; cat "$work/pulse.log" >&2; exit 1
fi
as_user pactl set-default-sink spk

# The first exec may run before Xwayland has its display: ask again until
# the children's environment names it.
swaysock=$(sed -n 's/^SWAYSOCK=//p' "$run/session.env")
for _ in $(seq 100); do
    grep -q '^DISPLAY=' "$run/session.env" && break
    as_user swaymsg -s "$swaysock" exec "env > $run/session.env.new && mv $run/session.env.new $run/session.env" \
        >/dev/null 2>&1
    sleep 0.05
done
if ! grep -q '^DISPLAY=' "$run/session.env"; then
    echo "sway-session: Xwayland did not start" >&2; cat "$work/sway.log" >&2; exit 1
fi
wayland=$(sed -n 's/^WAYLAND_DISPLAY=//p' "$run/session.env")
display=$(sed -n 's/^DISPLAY=//p' "$run/session.env")
swaysock=$(sed -n 's/^SWAYSOCK=//p' "$run/session.env")

# The test binaries read build and source folders given by the caller's
# environment; everything else is the user's own.
as_user env WAYLAND_DISPLAY="$wayland" DISPLAY="$display" SWAYSOCK="$swaysock" \
    XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland \
    TELLWIND_BUILD_DIR="${TELLWIND_BUILD_DIR:-}" TELLWIND_SOURCE_DIR="${TELLWIND_SOURCE_DIR:-}" \
    QT_QPA_PLATFORM=xcb QT_QUICK_BACKEND=software TELLWIND_HARNESS=1 \
    dbus-run-session -- "$@"
