#!/usr/bin/env bash
# tellwind-server sign-in: how many sign-ins a server accepts per second, how
# much a burst of 50 concurrent sign-ins slows speech uploads running at the
# same time (upload p99 with and without the burst), and whether an unknown
# address answers as fast as a wrong password.
set -eu
build=${TELLWIND_BUILD_DIR:-build}
clip=/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav
. "$(dirname "$0")/../scripts/server-process.sh"

password="correct horse battery"
csrf=$(printf 'c%.0s' $(seq 43))
accounts=10
for i in $(seq $accounts); do
    echo "$password" | "$build/tellwind-server" --data-dir "$work/data" add-user "user$i@example.com" >/dev/null
done
# Every sign-in comes from its own address, as a crowd behind the proxy would.
start_server server --data-dir "$work/data" --decoders 1 --trusted-proxy 127.0.0.1 --max-uploads-per-client 100
sox "$clip" -t raw -e signed -b 16 -c 1 -r 16000 "$work/speech.raw"

signin() { # email password from: prints status and seconds
    curl -s -o /dev/null -w '%{http_code} %{time_total}\n' -H "X-Forwarded-For: $3" \
        -H "Cookie: tellwind_csrf=$csrf" --data-urlencode "email=$1" --data-urlencode "password=$2" \
        --data "action=signin&csrf=$csrf" "http://127.0.0.1:$port/auth/login"
}
uploads() { # count: one upload after another, seconds each
    for _ in $(seq "$1"); do
        curl -s -o /dev/null -w '%{time_total}\n' --data-binary @"$work/speech.raw" -H 'Content-Type: application/octet-stream' \
            "http://127.0.0.1:$port/api/speech?sampleRate=16000&languageCode=en-US"
    done
}
p99() { sort -n | awk '{ t[NR] = $1 } END { printf "%.0f", t[int(0.99 * (NR - 1)) + 1] * 1000 }'; }
median() { sort -n | awk '{ t[NR] = $1 } END { printf "%.4f", t[int((NR + 1) / 2)] }'; }

# Unknown address against wrong password: one of each per account, so that
# no account reaches its limit.
for i in $(seq $accounts); do
    signin "user$i@example.com" "wrong password" "192.0.2.$i" | awk '{ print $2 }' >>"$work/wrong"
    signin "nobody$i@example.com" "wrong password" "192.0.2.$((i + 100))" | awk '{ print $2 }' >>"$work/unknown"
done
wrong=$(median <"$work/wrong")
unknown=$(median <"$work/unknown")
awk -v w="$wrong" -v u="$unknown" 'BEGIN {
    printf "signin_wrong_password_median: %.0f ms\n", w * 1000
    printf "signin_unknown_address_median: %.0f ms\n", u * 1000
    printf "signin_unknown_to_wrong_ratio: %.2f (target 0.8 to 1.2)\n", u / w
}'

rounds=6
uploads $rounds >"$work/quiet"
echo "signin_upload_p99_without_burst: $(p99 <"$work/quiet") ms"

# Bursts of 50 concurrent sign-ins, one after another, while the same
# uploads run again.
(
    burst=0
    while [ ! -e "$work/stop" ]; do
        burst=$((burst + 1))
        for i in $(seq 50); do
            signin "user$(( (i % accounts) + 1 ))@example.com" "$password" "10.$burst.$((i / 250)).$((i % 250 + 1))" &
        done >>"$work/signins"
        wait
    done
) &
burster=$!
begin=$(date +%s.%N)
uploads $rounds >"$work/busy"
touch "$work/stop"
wait $burster
end=$(date +%s.%N)
quiet=$(p99 <"$work/quiet")
busy=$(p99 <"$work/busy")
echo "signin_upload_p99_during_burst: $busy ms"
awk -v q="$quiet" -v b="$busy" 'BEGIN { printf "signin_upload_p99_ratio: %.2f (target <= 1.5)\n", b / q }'
accepted=$(grep -c '^303 ' "$work/signins" || true)
awk -v n="$accepted" -v b="$begin" -v e="$end" 'BEGIN {
    printf "signin_accepted_per_second: %.1f /s (50 concurrent)\n", n / (e - b)
}'
