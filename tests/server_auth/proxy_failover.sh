#!/usr/bin/env bash
# Two tellwind-server replicas on one PostgreSQL database behind a real HAProxy; half-way through 200
# uploads from four clients one replica is killed. Every upload still gets its transcript (a client retry
# counts), and the session made before the kill survives. Run inside with_postgres.sh.
set -eu
# Debian puts haproxy in /usr/sbin, which only root has on its PATH.
PATH=$PATH:/usr/sbin:/sbin
command -v haproxy >/dev/null || { echo "FAIL: haproxy is not installed (Debian package haproxy)" >&2; exit 1; }
build=${TELLWIND_BUILD_DIR:-build}
: "${TELLWIND_TEST_DATABASE:?run me through tests/server_auth/with_postgres.sh}"
. "$(dirname "$0")/../../scripts/server-process.sh"
fail() { echo "FAIL: $*" >&2; exit 1; }

db=(--database "$TELLWIND_TEST_DATABASE")
password="correct horse battery"
echo "$password" | "$build/tellwind-server" "${db[@]}" add-user ada@example.com >/dev/null
replica=("${db[@]}" --decoders 1 --trusted-proxy 127.0.0.1 --max-uploads-per-client 100)
start_server one "${replica[@]}" --data-dir "$work/one"
one=$port one_pid=$server_pid
start_server two "${replica[@]}" --data-dir "$work/two"
two=$port

# A free port is found by trying: HAProxy stops at once when it cannot bind.
for _ in $(seq 20); do
    front=$((20000 + RANDOM % 40000))
    cat >"$work/haproxy.cfg" <<CFG
global
    maxconn 256
defaults
    mode http
    timeout connect 2s
    timeout client 120s
    timeout server 120s
    retries 3
    retry-on conn-failure
    option redispatch
    option forwardfor
frontend tellwind
    bind 127.0.0.1:$front
    monitor-uri /proxy-alive
    default_backend replicas
backend replicas
    balance roundrobin
    server one 127.0.0.1:$one check inter 500ms fall 1
    server two 127.0.0.1:$two check inter 500ms fall 1
CFG
    haproxy -db -f "$work/haproxy.cfg" >"$work/haproxy.log" 2>&1 &
    proxy=$!
    # Up when it answers its own monitor address (whatever else holds a port answers something else).
    up=""
    for _ in $(seq 200); do
        curl -sf -o /dev/null "http://127.0.0.1:$front/proxy-alive" && { up=1; break; }
        kill -0 "$proxy" 2>/dev/null || break
        sleep 0.05
    done
    if [ -n "$up" ] && kill -0 "$proxy" 2>/dev/null; then
        server_pids+=("$proxy")
        break
    fi
    kill "$proxy" 2>/dev/null || true
    proxy=""
done
[ -n "$proxy" ] || fail "HAProxy did not start: $(cat "$work/haproxy.log")"
base="http://127.0.0.1:$front"

# A session made through the proxy before anything goes wrong.
csrf=$(printf 'c%.0s' $(seq 43))
location=$(curl -s -o /dev/null -w '%{redirect_url}' -H "Cookie: tellwind_csrf=$csrf" \
    --data-urlencode "email=ada@example.com" --data-urlencode "password=$password" \
    --data "action=signin&csrf=$csrf" "$base/auth/login")
token=$(printf '%s' "$location" | sed -n 's|^tellwind://callback/\{0,1\}?token=\([^&]*\).*|\1|p')
[ -n "$token" ] || fail "no token from the sign-in: '$location'"

flite -voice kal16 -t "hello world" -o "$work/speech.wav"
sox "$work/speech.wav" -t raw -e signed -b 16 -c 1 -r 16000 "$work/speech.raw"

upload() { # number: one line "number status text"
    # Into a file, which curl starts afresh on a retry (standard output would keep the failed attempt's page).
    local status
    status=$(curl -s --retry 5 --retry-all-errors --retry-delay 1 --max-time 120 -w '%{http_code}' \
        -o "$work/answer.$1" --data-binary @"$work/speech.raw" -H 'Content-Type: application/octet-stream' \
        "$base/api/speech?sampleRate=16000&languageCode=en-US")
    echo "$1 $status $(sed -n 's/.*"text":"\([^"]*\)".*/\1/p' "$work/answer.$1")"
}
export -f upload
export base work

seq 1 100 | xargs -P 4 -I{} bash -c 'upload {}' >"$work/answers"
kill -9 "$one_pid"
seq 101 200 | xargs -P 4 -I{} bash -c 'upload {}' >>"$work/answers"

answered=$(grep -c ' 200 hello world$' "$work/answers" || true)
[ "$answered" = 200 ] || fail "$answered of 200 uploads answered: $(grep -v ' 200 hello world$' "$work/answers" | head -5)"
grep -q 'decode' "$work/two.log" || fail "the surviving replica decoded nothing"

me=$(curl -s -H "Authorization: Bearer $token" "$base/api/auth/me")
[[ "$me" == *'"email":"ada@example.com"'* ]] || fail "the session made before the kill is gone: $me"
grep -q "$token" "$work"/*.log && fail "a token reached a log"
echo "200 of 200 uploads answered across the replica kill; the session survived"
