#!/usr/bin/env bash
# Runs every benchmark; each prints plain "name: value unit" lines.
set -u
build=${1:-build}
status=0
for bench in bench/*.sh; do
    [ "$bench" = bench/run.sh ] && continue
    echo "== $bench"
    TELLWIND_BUILD_DIR=$build "$bench" || status=1
done
exit $status
