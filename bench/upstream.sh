#!/usr/bin/env bash
# tellwind-server as a proxy to an OpenAI-compatible transcription service:
# the time it adds over calling a local scripted upstream directly, p50 and
# p99 over 200 uploads. Prints "name: value" lines.
set -u
build=${TELLWIND_BUILD_DIR:-build}
bench="$build/upstream_bench"
if [ ! -x "$bench" ] || [ ! -x "$build/tellwind-server" ]; then
    echo "upstream: skipped (needs $bench and $build/tellwind-server)" >&2
    exit 0
fi
TELLWIND_BUILD_DIR=$(cd "$build" && pwd) exec "$bench" --uploads 200
