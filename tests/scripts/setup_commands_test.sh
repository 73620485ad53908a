#!/usr/bin/env bash
# `make run` as a desktop user: sudo only for missing packages, no tests or
# benchmarks built; and the headless desktop speaks UTF-8 on a system whose
# own locale is C.
set -eu
[ -n "${TRACE:-}" ] && set -x
source=${TELLWIND_SOURCE_DIR:?}
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Stand-ins for the system: who we are, what dpkg knows, and a log of every
# apt-get and sudo call.
fake="$work/bin"
mkdir -p "$fake"
cat >"$fake/id" <<'SH'
#!/bin/sh
[ "$1" = -u ] && echo "${FAKE_UID:?}" || /usr/bin/id "$@"
SH
cat >"$fake/dpkg-query" <<'SH'
#!/bin/sh
for package; do :; done
case " $FAKE_INSTALLED " in *" $package "*) printf 'install ok installed' ;; *) exit 1 ;; esac
SH
cat >"$fake/sudo" <<'SH'
#!/bin/sh
echo "sudo $*" >>"$FAKE_LOG"
exec "$@"
SH
cat >"$fake/apt-get" <<'SH'
#!/bin/sh
echo "apt-get $*" >>"$FAKE_LOG"
SH
chmod +x "$fake"/*
printf 'alpha\nbeta # the second\n' >"$work/list.txt"
export FAKE_LOG="$work/calls.log"

install_as() { # UID INSTALLED...
    : >"$FAKE_LOG"
    FAKE_UID=$1 FAKE_INSTALLED="${*:2}" PATH="$fake:$PATH" "$source/scripts/install-deps.sh" "$work/list.txt"
}

install_as 1000 alpha beta || fail "a user with every package installed is turned away"
[ ! -s "$FAKE_LOG" ] || fail "sudo or apt-get called with nothing missing: $(cat "$FAKE_LOG")"

install_as 1000 alpha 2>/dev/null || fail "a user with a missing package is turned away"
grep -q '^sudo .*apt-get install .* beta$' "$FAKE_LOG" || fail "the missing package is not installed with sudo: $(cat "$FAKE_LOG")"
! grep -q 'alpha' "$FAKE_LOG" || fail "an installed package is installed again"

install_as 0 alpha || fail "root with a missing package is turned away"
grep -q '^apt-get install .* beta$' "$FAKE_LOG" && ! grep -q '^sudo' "$FAKE_LOG" ||
    fail "root installs through sudo: $(cat "$FAKE_LOG")"

# `make run` builds the program and the server, nothing else.
builds=$(make -s -n -C "$source" run BUILD="$work/build" JOBS=2 | grep -- 'cmake --build' || true)
[ -n "$builds" ] || fail "make run builds nothing"
while IFS= read -r line; do
    case $line in
    *"--target tellwind tellwind-server tellwind-model-probe") ;;
    *) fail "make run builds more than the program and the server: $line" ;;
    esac
done <<<"$builds"
make -s -n -C "$source" run BUILD="$work/build" | grep -q 'install-deps.sh packaging/build-deps.txt$' ||
    fail "make run does not install the build packages"

# Without a display `make run` says so before it installs or builds anything.
: >"$FAKE_LOG"
if out=$(env -u DISPLAY FAKE_UID=1000 FAKE_INSTALLED="" PATH="$fake:$PATH" \
    make -s -C "$source" run BUILD="$work/nodisplay" 2>&1); then
    fail "make run without a display succeeds"
fi
grep -q "no X display" <<<"$out" || fail "make run without a display does not say so: $out"
[ ! -s "$FAKE_LOG" ] && [ ! -e "$work/nodisplay" ] || fail "make run installs or builds before it finds no display"

# `make run` with stand-ins for the build and the programs, on a loopback of
# its own (port 8750 is shared on a developer's machine): it starts its own
# server only where no tellwind-server answers, says which it uses, refuses
# a stranger on the port, and Ctrl+C ends it with 0 and nothing left over.
# A loopback of its own needs root: a desktop user whose sudo asks no password
# gets one that way and runs `make run` in it as themselves.
if [ "$(id -u)" -eq 0 ]; then
    in_own_network=(unshare --net --fork sh -c 'ip link set lo up && exec bash "$0" "$1"')
elif sudo -n true 2>/dev/null; then
    in_own_network=(sudo -n unshare --net --fork sh -c 'ip link set lo up && exec runuser -u "$2" -- bash "$0" "$1"')
else
    in_own_network=()
fi
if [ ${#in_own_network[@]} -gt 0 ] && command -v unshare >/dev/null && command -v script >/dev/null; then
    cat >"$fake/cmake" <<'SH'
#!/bin/sh
exit 0
SH
    cat >"$fake/fake-server.py" <<'PY'
import http.server, signal, sys
body = sys.argv[1].encode()
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(200)
        self.end_headers()
        self.wfile.write(body if self.path == "/healthz" else b"{}")
    def log_message(self, *args):
        pass
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
signal.signal(signal.SIGINT, lambda *_: sys.exit(0))
http.server.HTTPServer(("127.0.0.1", 8750), Handler).serve_forever()
PY
    chmod +x "$fake/cmake"
    runbuild="$work/runbuild"
    mkdir -p "$runbuild"
    cat >"$runbuild/tellwind-server" <<SH
#!/bin/sh
echo \$\$ >"$work/server.pid"
exec python3 "$fake/fake-server.py" '{"status":"alive"}'
SH
    cat >"$runbuild/tellwind" <<SH
#!/bin/sh
trap 'exit 0' TERM INT
echo started >"$work/tellwind.started"
while :; do sleep 0.1; done
SH
    chmod +x "$runbuild"/*
    cat >"$work/scenario.sh" <<SH
set -u
[ -n "${TRACE:-}" ] && set -x
export PATH="$fake:\$PATH" FAKE_UID=1000 FAKE_INSTALLED="\$(cat $source/packaging/build-deps.txt | sed 's/#.*//' | xargs)"
export DISPLAY=:99 XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
case \$1 in
stranger) python3 "$fake/fake-server.py" '<html>' & ;;
ours) python3 "$fake/fake-server.py" '{"status":"alive"}' & ;;
esac
for _ in \$(seq 100); do [ "\$1" = none ] || curl -s -o /dev/null http://127.0.0.1:8750/ && break; sleep 0.05; done
rm -f "$work/tellwind.started" "$work/server.pid"
# Typed at a terminal: Ctrl+C is the byte ^C on a pseudo-terminal, whose
# line discipline signals the foreground process group.
{
    for _ in \$(seq 100); do pgrep -f "BUILD=$runbuild" >/dev/null && break; sleep 0.05; done
    for _ in \$(seq 200); do
        [ -e "$work/tellwind.started" ] || ! pgrep -f "BUILD=$runbuild" >/dev/null && break
        sleep 0.05
    done
    printf '\003'
    for _ in \$(seq 200); do pgrep -f "BUILD=$runbuild" >/dev/null || break; sleep 0.05; done
} | script -qefc "make -s -C '$source' run BUILD='$runbuild'" /dev/null >"$work/run.out" 2>&1
echo "exit \$?" >>"$work/run.out"
kill \$(jobs -p) 2>/dev/null
wait
SH
    scenario() {
        "${in_own_network[@]}" "$work/scenario.sh" "$1" "$(id -un)" || true
        cat "$work/run.out"
    }
    out=$(scenario none)
    grep -q "starting .*tellwind-server on http://127.0.0.1:8750" <<<"$out" || fail "make run does not say it starts its server: $out"
    grep -q "exit 0$" <<<"$out" || fail "Ctrl+C does not end make run cleanly: $out"
    [ -s "$work/server.pid" ] || fail "make run did not start its server"
    ! ps -o stat= -p "$(cat "$work/server.pid")" >/dev/null || fail "the server outlives make run: $out"
    out=$(scenario ours)
    grep -q "using the tellwind-server that already answers" <<<"$out" || fail "make run does not say it uses the running server: $out"
    [ ! -e "$work/server.pid" ] || fail "make run starts a second server"
    grep -q "exit 0$" <<<"$out" || fail "Ctrl+C does not end make run cleanly: $out"
    out=$(scenario stranger)
    grep -q "something other than tellwind-server" <<<"$out" || fail "make run takes a stranger for its server: $out"
    [ ! -e "$work/tellwind.started" ] || fail "make run starts Tellwind against a stranger"
fi

# The headless desktop brings its own UTF-8 locale, whatever the caller's.
charmap=$(env LANG=C LC_ALL=C LC_CTYPE=POSIX "$source/tests/harness.sh" locale charmap 2>/dev/null | tail -n1)
[ "$charmap" = UTF-8 ] || fail "the harness runs in the character set '$charmap'"
echo "PASS"
