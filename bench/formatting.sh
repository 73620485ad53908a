#!/usr/bin/env bash
# The text formatter on a 10,000-word transcript (target: under 2 ms).
set -eu
build=${TELLWIND_BUILD_DIR:-build}
"$build/bench_text_formatter"
