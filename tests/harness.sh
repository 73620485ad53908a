#!/usr/bin/env bash
# Runs a command inside a private headless desktop: an Xvfb display, a session
# bus, and a PulseAudio daemon whose default source "mic" hears whatever is
# played to the sink "spk" (paplay -d spk speech.wav). Settings, data and
# runtime folders are private too, so nothing touches the user's own. Every
# piece is torn down when the command ends, whatever its outcome.
#
#   tests/harness.sh ctest --test-dir build
set -u

work=$(mktemp -d "${TMPDIR:-/tmp}/tellwind-harness.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

export HOME="$work/home"
export XDG_RUNTIME_DIR="$work/run"
export XDG_CONFIG_HOME="$work/config"
export XDG_DATA_HOME="$work/data"
export XDG_CACHE_HOME="$work/cache"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY SESSION_MANAGER DBUS_SESSION_BUS_ADDRESS
# A UTF-8 locale of its own: in the C locale of a minimal system GTK and xterm
# read every byte past ASCII as "?". LANG alone, so that a test can still give
# its child another language; the user's own LC_* and LANGUAGE would override it.
unset LC_ALL LANGUAGE LC_CTYPE LC_MESSAGES LC_NUMERIC LC_COLLATE LC_TIME LC_MONETARY
export LANG=C.UTF-8

# Xvfb picks a free display number itself and reports it on fd 3.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp +extension XTEST +extension XInputExtension \
    >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
if [ ! -s "$work/display" ]; then
    echo "harness: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1
fi
export DISPLAY=":$(head -n1 "$work/display")"

pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
    --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=spk" \
    --load="module-remap-source master=spk.monitor source_name=mic" \
    >"$work/pulse.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
if ! pactl set-default-source mic; then
    echo "harness: PulseAudio did not start" >&2; cat "$work/pulse.log" >&2; exit 1
fi
pactl set-default-sink spk

export QT_QPA_PLATFORM=xcb
# Xvfb has no GPU: Qt Quick's software renderer is what the program uses
# there anyway, and Mesa's JIT would only add noise to leak checks.
export QT_QUICK_BACKEND=software
export TELLWIND_HARNESS=1
dbus-run-session -- "$@"
