#!/usr/bin/env bash
# Typing benchmarks: the pace of typing into xterm against the fixed 9 ms per
# character (target: ratio at most 1.05, no character lost), and the time of
# the transcript diff for 1k, 10k and 100k characters (target: linear growth,
# 100k under 5 ms). Needs the headless desktop: run it through bench/run.sh
# under tests/harness.sh (make bench).
set -eu
build=${TELLWIND_BUILD_DIR:-build}
"$build/bench_compute_diff"
"$build/bench_typing_pace" | grep -v '^⌨️\|^✅'
