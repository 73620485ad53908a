#!/usr/bin/env bash
# Typing on the real desktops: characters per second through GNOME 43's and
# KDE Plasma 5.27's own RemoteDesktop portals into a native terminal, and the
# share of characters that arrived exactly, for 500 characters a US layout
# has and 500 mixed ones (accents, dashes, quotes, euro, Han). Needs root,
# like the desktop tests. Run through bench/run.sh (make bench).
set -eu
build=$(cd "${TELLWIND_BUILD_DIR:-build}" && pwd)
for desktop in gnome kde; do
    tests/desktops/desktop-session.sh "$desktop" "$build/bench_desktop_typing" 2>/dev/null | grep "^$desktop"_
done
