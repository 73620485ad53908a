#!/usr/bin/env bash
# tellwind-server behind HAProxy: speech throughput with four clients against
# one replica, and against two replicas on one PostgreSQL behind the proxy.
# On a two-core machine the two replicas share the same cores, so the ratio
# mostly says what the proxy costs.
set -eu
# Debian puts haproxy in /usr/sbin, which only root has on its PATH.
PATH=$PATH:/usr/sbin:/sbin
if [ -z "${TELLWIND_TEST_DATABASE:-}" ]; then
    exec "$(dirname "$0")/../tests/server_auth/with_postgres.sh" "$0" "$@"
fi
build=${TELLWIND_BUILD_DIR:-build}
clip=/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav
. "$(dirname "$0")/../scripts/server-process.sh"
sox "$clip" -t raw -e signed -b 16 -c 1 -r 16000 "$work/speech.raw"

start_replica() { # name
    start_server "$1" --database "$TELLWIND_TEST_DATABASE" --data-dir "$work/$1" --decoders 1 \
        --trusted-proxy 127.0.0.1 --max-uploads-per-client 100
}
run_clients() { # base URL: prints uploads per second
    local per_client=6 begin end
    begin=$(date +%s.%N)
    for client in 1 2 3 4; do
        for _ in $(seq $per_client); do
            curl -s -o /dev/null --data-binary @"$work/speech.raw" -H 'Content-Type: application/octet-stream' \
                "$1/api/speech?sampleRate=16000&languageCode=en-US"
        done &
    done
    wait $(jobs -p)
    end=$(date +%s.%N)
    awk -v n=$((4 * per_client)) -v b="$begin" -v e="$end" 'BEGIN { printf "%.2f", n / (e - b) }'
}

start_replica one
one=$port
single=$(run_clients "http://127.0.0.1:$one")
start_replica two
two=$port
for _ in $(seq 20); do
    front=$((20000 + RANDOM % 40000))
    cat >"$work/haproxy.cfg" <<CFG
defaults
    mode http
    timeout connect 2s
    timeout client 120s
    timeout server 120s
    option forwardfor
frontend tellwind
    bind 127.0.0.1:$front
    monitor-uri /proxy-alive
    default_backend replicas
backend replicas
    balance leastconn
    server one 127.0.0.1:$one
    server two 127.0.0.1:$two
CFG
    haproxy -db -f "$work/haproxy.cfg" >"$work/haproxy.log" 2>&1 &
    proxy=$!
    # Up when it answers its own monitor address; gone at once when it could not bind.
    for _ in $(seq 200); do
        curl -sf -o /dev/null "http://127.0.0.1:$front/proxy-alive" && break
        kill -0 "$proxy" 2>/dev/null || break
        sleep 0.05
    done
    curl -sf -o /dev/null "http://127.0.0.1:$front/proxy-alive" && { server_pids+=("$proxy"); break; }
    kill "$proxy" 2>/dev/null
    proxy=""
done
[ -n "$proxy" ] || { echo "HAProxy did not start" >&2; exit 1; }
double=$(run_clients "http://127.0.0.1:$front")
echo "replicas_uploads_per_second_one_replica: $single /s (4 clients, 3 s of speech)"
echo "replicas_uploads_per_second_two_behind_proxy: $double /s (4 clients, 3 s of speech)"
awk -v a="$single" -v b="$double" 'BEGIN { printf "replicas_two_to_one_ratio: %.2f\n", b / a }'
