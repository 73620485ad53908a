#!/usr/bin/env bash
# On-device recognition against the engine alone, on the librivox recordings
# of pocketsphinx-testdata played in real time into a virtual microphone.
# Run inside tests/harness.sh (bench/run.sh does); prints "name: value" lines.
set -u
build=${TELLWIND_BUILD_DIR:-build}
bench="$build/recognition_bench"
clips=/usr/share/pocketsphinx/test/data/librivox
if [ ! -x "$bench" ] || [ ! -d "$clips" ] || ! command -v pocketsphinx_continuous >/dev/null \
    || ! pactl info >/dev/null 2>&1; then
    echo "recognition: skipped (needs $bench, pocketsphinx-testdata, pocketsphinx and a sound server)" >&2
    exit 0
fi

# A microphone that hears the recordings sample for sample: 16 kHz mono, the
# recordings' own format, so nothing is resampled on the way.
sink=$(pactl load-module module-null-sink sink_name=bench16 rate=16000 channels=1 format=s16le)
source=$(pactl load-module module-remap-source master=bench16.monitor source_name=benchmic channels=1)
previous=$(pactl get-default-source)
restore() {
    pactl set-default-source "$previous"
    pactl unload-module "$source"
    pactl unload-module "$sink"
}
trap restore EXIT
pactl set-default-source benchmic

"$bench" --sink bench16 --reference "$clips/transcription" "$clips"/*.wav
status=$?

# The same through a 44.1 kHz stereo microphone: resampled twice on the way.
pactl set-default-source "$previous"
"$bench" --sink spk --suffix _resampled --runs 1 --reference "$clips/transcription" "$clips"/*.wav || status=1
exit $status
