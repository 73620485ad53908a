# shellcheck shell=bash
# Sourced by sway-session.sh and desktop-session.sh: compositors refuse root or misbehave under it, so as root
# the session runs as a system user made on first use. `session_start NAME USER PROGRAM` sets user, run_as,
# work, run, home and user_env for as_user, daemon NAME COMMAND... (logged in $work), wait_for WHAT COMMAND...
# and fail MESSAGE.

session_start() {
    local name=$1 wanted=$2 program=${3:-}
    if [ "$(id -u)" = 0 ]; then
        user=$wanted
        if ! id -u "$user" >/dev/null 2>&1; then
            useradd --system --no-create-home --shell /usr/sbin/nologin "$user" || exit 1
        fi
        run_as=(runuser -u "$user" --)
    else
        user=$(id -un)
        run_as=()
    fi
    uid=$(id -u "$user")

    work=$(mktemp -d "${TMPDIR:-/tmp}/tellwind-$name.XXXXXX")
    chmod 755 "$work"
    pids=()
    trap session_cleanup EXIT
    trap 'exit 130' INT TERM

    # A build under a private home folder is out of the user's reach: let it search the folders on the way.
    if [ "$(id -u)" = 0 ] && [ -e "$program" ] && ! "${run_as[@]}" test -x "$program"; then
        local folder
        folder=$(dirname "$(readlink -f "$program")")
        while [ "$folder" != / ]; do
            [ -n "$(find "$folder" -maxdepth 0 ! -perm -o+x)" ] && chmod o+x "$folder"
            folder=$(dirname "$folder")
        done
    fi
    if [ -e "$program" ] && ! "${run_as[@]}" test -x "$program"; then
        fail "$user cannot run $program; build in a folder others can read"
    fi

    run="$work/run"
    home="$work/home"
    mkdir -p "$run" "$home/config" "$home/data" "$home/cache"
    chmod 700 "$run"
    chown -R "$uid" "$run" "$home" 2>/dev/null || true
    user_env=(env -i PATH="$PATH" HOME="$home" XDG_RUNTIME_DIR="$run" XDG_CONFIG_HOME="$home/config"
        XDG_DATA_HOME="$home/data" XDG_CACHE_HOME="$home/cache" LANG=C.UTF-8)
}

# Each daemon leads a process group that cleanup ends whole: runuser does not pass a signal on.
session_cleanup() {
    for pid in "${pids[@]}"; do kill -- "-$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do
        for _ in $(seq 100); do kill -0 -- "-$pid" 2>/dev/null || break; sleep 0.05; done
        kill -9 -- "-$pid" 2>/dev/null
    done
    wait 2>/dev/null
    [ -n "${TELLWIND_SESSION_KEEP:-}" ] || rm -rf "$work"
}

fail() {
    echo "$(basename "$0" .sh): $1" >&2
    for log in "$work"/*.log; do
        [ -s "$log" ] && { echo "--- $log" >&2; tail -n 30 "$log" >&2; }
    done
    exit 1
}

as_user() { "${run_as[@]}" "${user_env[@]}" "$@"; }

daemon() {
    local log=$1
    shift
    setsid "${run_as[@]}" "${user_env[@]}" "$@" >"$work/$log.log" 2>&1 &
    pids+=($!)
}

wait_for() {
    local what=$1
    shift
    for _ in $(seq 400); do "$@" >/dev/null 2>&1 && return 0; sleep 0.05; done
    fail "$what did not start"
}
