#!/usr/bin/env bash
# Tellwind as a whole, on the harness's X display and microphone:
#   startup_to_panel_ms      process start until the panel window is mapped (median of 3)
#   idle_cpu_percent         CPU share of one core over 60 s without dictation
#   idle_rss_mb              resident memory after those 60 s
#   dictation_latency_p50_ms end of the spoken sentence (the audio's end) until
#                            its last character reached the target application,
#                            less the time spent typing after the speech ended
#                            (from each edit's start to its last key sent, as
#                            the program's log lines are stamped on arrival;
#                            10 dictations, on-device)
#   dictating_cpu_percent    CPU share of one core while those dictations ran
set -u
fail() { echo "dictation bench: $*" >&2; exit 1; }
build=$(cd "${TELLWIND_BUILD_DIR:-build}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/tellwind-bench.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

sentence="the quick brown fox jumps over the lazy dog"
runs=${DICTATION_BENCH_RUNS:-10}
idle_seconds=${DICTATION_BENCH_IDLE_SECONDS:-60}
ticks=$(getconf CLK_TCK)

# A fresh settings folder with onboarding done; PulseAudio is still found
# through the harness's socket and cookie.
export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
export PULSE_COOKIE="${XDG_CONFIG_HOME:-$HOME/.config}/pulse/cookie"
fresh_config() {
    rm -rf "$work/config"
    mkdir -p "$work/config/Tellwind"
    printf '[General]\nhasCompletedOnboarding=true\n' > "$work/config/Tellwind/Tellwind.conf"
}
export XDG_CONFIG_HOME="$work/config"

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)] }'; }

panel_window() { xdotool search --onlyvisible --name '^Tellwind$' 2>/dev/null | head -n1; }

start_tellwind() {
    "$build/tellwind" > >(while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done > "$work/tellwind.log") 2>/dev/null &
    tellwind=$!
    pids+=("$tellwind")
}
stop_tellwind() {
    kill "$tellwind" 2>/dev/null
    wait "$tellwind" 2>/dev/null
}
wait_for_log() { # text, timeout in seconds
    local deadline=$(( $(date +%s) + ${2:-20} ))
    until grep -qF -- "$1" "$work/tellwind.log" 2>/dev/null; do
        [ "$(date +%s)" -ge "$deadline" ] && return 1
        sleep 0.02
    done
}
count_log() { grep -cF -- "$1" "$work/tellwind.log" 2>/dev/null || true; }

# Start-up.
startups=()
for _ in 1 2 3; do
    fresh_config
    begin=$(now_ms)
    start_tellwind
    until [ -n "$(panel_window)" ]; do sleep 0.005; done
    startups+=($(( $(now_ms) - begin )))
    stop_tellwind
    sleep 0.5
done
echo "startup_to_panel_ms: $(printf '%s\n' "${startups[@]}" | median) ms"

# Idle.
fresh_config
start_tellwind
wait_for_log "✅ Window configured as floating borderless" || fail "no panel"
sleep 3
before=$(cpu_ticks "$tellwind")
sleep "$idle_seconds"
after=$(cpu_ticks "$tellwind")
awk -v t=$((after - before)) -v hz="$ticks" -v s="$idle_seconds" \
    'BEGIN { printf "idle_cpu_percent: %.2f %%\n", 100 * t / hz / s }'
awk '/^VmRSS/ { printf "idle_rss_mb: %.1f MB\n", $2 / 1024 }' "/proc/$tellwind/status"

# Dictation into an xterm whose `cat` writes every character as it arrives.
flite -voice kal16 -t "$sentence" -o "$work/speech.wav"
(cd "$work" && exec xterm -title bench-target -geometry 100x10+20+20 -e sh -c 'stty raw -echo; exec cat > out.txt') &
pids+=($!)
target=$(xdotool search --sync --name '^bench-target$' | head -n1)
xdotool windowfocus --sync "$target"
panel=$(panel_window)
eval "$(xdotool getwindowgeometry --shell "$panel")"
mic_x=$((X + 79)); mic_y=$((Y + 80))
click_mic() { xdotool mousemove "$mic_x" "$mic_y" click 1; }

latencies=()
dictating_ticks=0
dictating_ms=0
for run in $(seq "$runs"); do
    started=$(count_log "✅ Recording started with")
    stopped=$(count_log "✅ Recording stopped")
    begin_ticks=$(cpu_ticks "$tellwind"); begin_ms=$(now_ms)
    click_mic
    for _ in $(seq 500); do [ "$(count_log "✅ Recording started with")" -gt "$started" ] && break; sleep 0.02; done
    paplay -d spk "$work/speech.wav"
    speech_end=$EPOCHREALTIME
    # The text is complete once out.txt has not changed for a second.
    last=""; stable=0
    for _ in $(seq 400); do
        sleep 0.1
        current=$(stat -c '%s %.9Y' "$work/out.txt" 2>/dev/null)
        if [ -n "$current" ] && [ "$current" = "$last" ]; then
            stable=$((stable + 1)); [ "$stable" -ge 10 ] && break
        else
            stable=0; last=$current
        fi
    done
    last_char=$(stat -c '%.9Y' "$work/out.txt" 2>/dev/null) || fail "run $run: nothing reached the terminal"
    awk -v a="$speech_end" -v b="$last_char" 'BEGIN { exit !(b > a) }' \
        || fail "run $run: nothing was typed after the speech ended"
    click_mic
    for _ in $(seq 1500); do [ "$(count_log "✅ Recording stopped")" -gt "$stopped" ] && break; sleep 0.02; done
    dictating_ticks=$((dictating_ticks + $(cpu_ticks "$tellwind") - begin_ticks))
    dictating_ms=$((dictating_ms + $(now_ms) - begin_ms))
    # Each edit runs from its "Smart diff" line to its "Done" (its last key
    # sent); those that began after the speech ended are typing, not waiting.
    typing_ms=$(awk -v end="$speech_end" '
        /\[Insert\] Smart diff: delete [0-9]+ chars, type [0-9]+ chars/ { start = $1; next }
        /\[Insert\] Done/ && start > end { ms += ($1 - start) * 1000; edits++; start = 0 }
        END { if (edits) printf "%d", ms }' "$work/tellwind.log")
    [ -n "$typing_ms" ] || fail "run $run: no edit was typed after the speech ended"
    latency=$(awk -v a="$speech_end" -v b="$last_char" -v t="$typing_ms" \
        'BEGIN { v = (b - a) * 1000 - t; if (v >= 0) printf "%d", v }')
    [ -n "$latency" ] || fail "run $run: the typing ($typing_ms ms) outlasted the wait for the last character"
    latencies+=("$latency")
    sleep 0.5
done
[ ${#latencies[@]} = "$runs" ] || fail "only ${#latencies[@]} of $runs dictations measured"
echo "dictation_latency_p50_ms: $(printf '%s\n' "${latencies[@]}" | median) ms"
awk -v t="$dictating_ticks" -v hz="$ticks" -v ms="$dictating_ms" \
    'BEGIN { printf "dictating_cpu_percent: %.1f %%\n", 100 * t / hz / (ms / 1000) }'
stop_tellwind
