#!/usr/bin/env bash
# Starts Tellwind in the current desktop session, with a tellwind-server on
# loopback for the server path: the one already answering there, or one of
# its own. Ctrl+C ends both and exits 0.
#
#   scripts/run.sh --check-display    only checks that there is a display
#   scripts/run.sh [BUILD]            starts the programs of that build folder
set -eu
address=127.0.0.1:8750

check_display() {
    if [ -z "${DISPLAY:-}" ]; then
        echo "run: no X display (DISPLAY is not set); Tellwind needs an X11 session or XWayland." >&2
        exit 1
    fi
}
if [ "${1:-}" = --check-display ]; then
    check_display
    exit 0
fi
build=${1:-build}
check_display
# As root, the settings and the login entry would land in root's home and the
# user's sound server is usually out of reach.
if [ "$(id -u)" -eq 0 ]; then
    echo "run: running as root; run 'make run' as your desktop user instead (it asks sudo only to install missing packages)." >&2
fi
"$(dirname "$0")/register-desktop-entry.sh" "$build" ||
    echo "run: could not register the desktop entry; sign-in links will not reach Tellwind" >&2

# What answers at the address: a tellwind-server says it is alive in its own
# words; anything else there would take Tellwind's uploads for something else.
server_answering() { # 0: a tellwind-server, 1: nothing, 2: something else
    local body code=0
    body=$(curl -s --max-time 2 "http://$address/healthz") || code=$?
    [ "$code" -eq 7 ] && return 1
    [ "$code" -eq 0 ] && [ "$body" = '{"status":"alive"}' ] && return 0
    return 2
}

server=""
answer=0
server_answering || answer=$?
case $answer in
0) echo "run: using the tellwind-server that already answers on http://$address" ;;
1)
    # Extra server options, for example an upstream: TELLWIND_SERVER_ARGS="--upstream URL".
    read -ra server_args <<<"${TELLWIND_SERVER_ARGS:-}"
    echo "run: starting $build/tellwind-server on http://$address"
    "$build/tellwind-server" --listen "$address" "${server_args[@]}" &
    server=$!
    ;;
*)
    echo "run: something other than tellwind-server answers on http://$address; stop it and try again." >&2
    exit 1
    ;;
esac

# The server gets SIGTERM, which it takes as its own quit; waiting for it
# leaves nothing behind.
stop() {
    trap - INT TERM
    if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; fi
    wait 2>/dev/null || true
}
trap 'stop; exit 0' INT TERM
trap stop EXIT
# Tellwind runs as a foreground job of its own: its process group takes the
# terminal, so Ctrl+C reaches Tellwind (which quits on SIGINT) and not make,
# which would otherwise end with an error whatever this script answers.
set -m
status=0
"$build/tellwind" || status=$?
set +m
exit "$status"
