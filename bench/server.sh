#!/usr/bin/env bash
# tellwind-server: decoding cost against PocketSphinx's own continuous tool on
# the same recordings (and whether the words agree), then throughput and
# latency of 3-second uploads from two clients at once.
set -eu
build=${TELLWIND_BUILD_DIR:-build}
clips=/usr/share/pocketsphinx/test/data/librivox
model=/usr/share/pocketsphinx/model/en-us
. "$(dirname "$0")/../scripts/server-process.sh"
server_cpu() { # CPU seconds the server has used
    awk -v tick="$(getconf CLK_TCK)" '{ printf "%.3f", ($14 + $15) / tick }' "/proc/$server_pid/stat"
}
upload() { # file
    curl -s --fail-with-body --data-binary @"$1" -H 'Content-Type: application/octet-stream' \
        "http://127.0.0.1:$port/api/speech?sampleRate=16000&languageCode=en-US"
}
cpu_of() { # command...: user + system seconds
    local TIMEFORMAT='%U %S'
    { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ print $1 + $2 }'
}
engine() { # wav
    pocketsphinx_continuous -infile "$1" -hmm "$model/en-us" -lm "$model/en-us.lm.bin" \
        -dict "$model/cmudict-en-us.dict" -logfn /dev/null
}

rounds=3
audio=0
for wav in "$clips"/*.wav; do
    name=$(basename "$wav" .wav)
    sox "$wav" -t raw -e signed -b 16 -c 1 -r 16000 "$work/$name.raw"
    audio=$(awk -v a="$audio" -v d="$(soxi -D "$wav")" 'BEGIN { print a + d }')
done
sox -n -r 16000 -c 1 -b 16 "$work/empty.wav" trim 0 0.1

# The engine's figure leaves out its start-up (model loading), which the
# server pays once before it listens.
startup=$(for _ in $(seq $rounds); do cpu_of engine "$work/empty.wav"; done | sort -n | head -1)
engine_cpu=0
for wav in "$clips"/*.wav; do
    best=$(for _ in $(seq $rounds); do cpu_of engine "$wav"; done | sort -n | head -1)
    engine_cpu=$(awk -v a="$engine_cpu" -v b="$best" -v s="$startup" 'BEGIN { print a + b - s }')
done

start_server server --data-dir "$work/data" --decoders 1
same=0
total=0
before=$(server_cpu)
for round in $(seq $rounds); do
    for wav in "$clips"/*.wav; do
        name=$(basename "$wav" .wav)
        text=$(upload "$work/$name.raw" | sed -n 's/.*"text":"\([^"]*\)".*/\1/p')
        if [ "$round" = 1 ]; then
            expected=$(engine "$wav" | tr '\n' ' ' | sed 's/ *$//')
            total=$((total + 1))
            [ "$text" = "$expected" ] && same=$((same + 1))
        fi
    done
done
after=$(server_cpu)
stop_server "$server_pid"

awk -v s="$before" -v e="$after" -v r="$rounds" -v a="$audio" -v engine="$engine_cpu" 'BEGIN {
    server = (e - s) / r / a
    eng = engine / a
    printf "server_decode_cpu_per_audio_second: %.4f s/s\n", server
    printf "engine_decode_cpu_per_audio_second: %.4f s/s\n", eng
    printf "server_to_engine_cpu_ratio: %.3f (target <= 1.1)\n", server / eng
}'
echo "server_transcripts_identical_to_engine: $same/$total"

# Throughput: two clients, each uploading 3 s of speech back to back.
speech="$work/sense_and_sensibility_01_austen_64kb-0880.raw"
per_client=15
start_server server --data-dir "$work/data"
begin=$(date +%s.%N)
for client in 1 2; do
    (
        for _ in $(seq $per_client); do
            curl -s -o /dev/null -w '%{time_total}\n' --data-binary @"$speech" -H 'Content-Type: application/octet-stream' \
                "http://127.0.0.1:$port/api/speech?sampleRate=16000&languageCode=en-US"
        done >"$work/latency.$client"
    ) &
done
wait $(jobs -p | grep -v "^$server_pid\$") 2>/dev/null || true
end=$(date +%s.%N)
stop_server "$server_pid"
cat "$work"/latency.* | sort -n >"$work/latency"
count=$(wc -l <"$work/latency")
awk -v b="$begin" -v e="$end" -v n="$count" 'BEGIN {
    printf "server_uploads_per_second: %.2f /s (3 s of speech, 2 clients)\n", n / (e - b)
}'
awk -v n="$count" '{ t[NR] = $1 } END {
    p50 = t[int(0.50 * (n - 1)) + 1]; p99 = t[int(0.99 * (n - 1)) + 1]
    printf "server_latency_p50: %.0f ms\n", p50 * 1000
    printf "server_latency_p99: %.0f ms\n", p99 * 1000
}' "$work/latency"
