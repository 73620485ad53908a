#!/usr/bin/env bash
# Starts Tellwind for the current desktop session, with the reference server
# on loopback unless one already answers there.
set -eu
build=${1:-build}
"$(dirname "$0")/register-desktop-entry.sh" "$build" ||
    echo "run: could not register the desktop entry; sign-in links will not reach Tellwind" >&2
if [ -x "$build/tellwind-server" ] && ! curl -s -o /dev/null "http://127.0.0.1:8750/" 2>/dev/null; then
    "$build/tellwind-server" --listen 127.0.0.1:8750 &
    server=$!
    trap 'kill $server 2>/dev/null' EXIT
fi
"$build/tellwind"
