#!/usr/bin/env bash
# Microphone capture and conversion: CPU seconds per second of audio, with
# the harness's virtual microphone hearing a recording meanwhile.
set -eu
build=${TELLWIND_BUILD_DIR:-build}
clip=/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0870.wav
if [ -f "$clip" ] && command -v paplay >/dev/null; then
    ( for _ in 1 2; do paplay -d spk "$clip" 2>/dev/null || true; done ) &
    player=$!
    trap 'kill $player 2>/dev/null || true' EXIT
fi
"$build/bench_capture" 10 | grep -v '^[^a-z]'
