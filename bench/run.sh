#!/usr/bin/env bash
# Runs every benchmark; each prints plain "name: value unit" lines.
set -u
build=${1:-build}
status=0
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
for bench in bench/*.sh; do
    [ "$bench" = bench/run.sh ] && continue
    echo "== $bench"
    # A figure without a number (its input was missing) fails the run, as
    # does a benchmark that printed none at all.
    output=$(TELLWIND_BUILD_DIR=$build "$bench" 2>"$errors") || status=1
    printf '%s\n' "$output"
    cat "$errors" >&2
    if ! printf '%s\n' "$output" | grep -qE '^[a-z0-9_]+: '; then
        # Only a benchmark that says it skipped (and why) may print nothing.
        grep -q ': skipped' "$errors" || { echo "$bench: no figures" >&2; status=1; }
    elif printf '%s\n' "$output" | grep -E '^[a-z0-9_]+: ' | grep -vqE '^[a-z0-9_]+: -?[0-9]'; then
        echo "$bench: a figure without a number:" >&2
        printf '%s\n' "$output" | grep -E '^[a-z0-9_]+: ' | grep -vE '^[a-z0-9_]+: -?[0-9]' >&2
        status=1
    fi
done
exit $status
