# Sourced by scripts that run tellwind-server on loopback (benchmarks and
# tests). Gives them a scratch folder, $work, that goes at exit together with
# every server and job started meanwhile. Needs $build.
work=$(mktemp -d "${TMPDIR:-/tmp}/tellwind.XXXXXX")
server_pids=()
cleanup_servers() {
    for pid in "${server_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup_servers EXIT

# start_server NAME ARGUMENTS...: a server on a free loopback port, logging to
# $work/NAME.log; sets $server_pid and $port. Call it directly, not in $(...):
# a pid learnt in a subshell never reaches the clean-up.
start_server() {
    local name=$1
    shift
    "$build/tellwind-server" --listen 127.0.0.1:0 "$@" >"$work/$name.log" 2>&1 &
    server_pid=$!
    server_pids+=("$server_pid")
    port=""
    for _ in $(seq 600); do
        port=$(sed -n 's|.*listening on http://127\.0\.0\.1:\([0-9]*\).*|\1|p' "$work/$name.log")
        [ -n "$port" ] && return 0
        kill -0 "$server_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "tellwind-server ($name) did not start:" >&2
    cat "$work/$name.log" >&2
    exit 1
}

stop_server() { # pid
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}
