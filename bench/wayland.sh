#!/usr/bin/env bash
# Wayland typing: the pace of typing 1,000 mixed characters into foot through
# the virtual keyboard of a headless sway, against the fixed 9 ms per
# character (target: ratio at most 1.05, nothing lost), and characters per
# second through the RemoteDesktop portal, scripted (target: at least 100,
# nothing lost). Run through bench/run.sh under tests/harness.sh (make bench).
set -eu
build=$(cd "${TELLWIND_BUILD_DIR:-build}" && pwd)
export TELLWIND_SOURCE_DIR=${TELLWIND_SOURCE_DIR:-$PWD}
tests/wayland/sway-session.sh "$build/bench_wayland_typing" 2>/dev/null | grep '^wayland_'
dbus-run-session --config-file=tests/wayland/private-bus.conf -- "$build/bench_portal_typing" 2>/dev/null | grep "^portal_"
