#!/usr/bin/env bash
# Starts Tellwind in the current desktop session, with the reference server
# on loopback for the cloud path unless something already answers there.
# Ctrl+C ends both.
set -eu
build=${1:-build}
if [ -z "${DISPLAY:-}" ]; then
    echo "run: no X display (DISPLAY is not set); Tellwind needs an X11 session or XWayland." >&2
    exit 1
fi
# As root, the settings and the login entry would land in root's home and the
# user's sound server is usually out of reach.
if [ "$(id -u)" -eq 0 ]; then
    echo "run: running as root; run 'make run' as your desktop user instead (it asks sudo only to install missing packages)." >&2
fi
"$(dirname "$0")/register-desktop-entry.sh" "$build" ||
    echo "run: could not register the desktop entry; sign-in links will not reach Tellwind" >&2
server=""
tellwind=""
if [ -x "$build/tellwind-server" ] && ! curl -s -o /dev/null --max-time 1 "http://127.0.0.1:8750/" 2>/dev/null; then
    # Extra server options, for example an upstream: TELLWIND_SERVER_ARGS="--upstream URL".
    read -ra server_args <<<"${TELLWIND_SERVER_ARGS:-}"
    "$build/tellwind-server" --listen 127.0.0.1:8750 "${server_args[@]}" &
    server=$!
fi
# Tellwind ends on SIGTERM the way its Quit does.
stop() {
    [ -n "$tellwind" ] && kill "$tellwind" 2>/dev/null
    [ -n "$server" ] && kill "$server" 2>/dev/null
    wait 2>/dev/null
}
trap stop EXIT
trap 'exit 130' INT TERM
"$build/tellwind" &
tellwind=$!
wait "$tellwind"
