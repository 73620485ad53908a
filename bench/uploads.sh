#!/usr/bin/env bash
# The server path's word error rate on the librivox recordings of
# pocketsphinx-testdata, joined into one stream: decoded whole, cut every three
# seconds, and cut at pauses as the client cuts its uploads. Prints
# "name: value" lines; fails when the recordings or the bench are missing, or
# when the cuts cost more than two points over the whole stream.
set -u
build=${TELLWIND_BUILD_DIR:-build}
bench="$build/uploads_bench"
clips=/usr/share/pocketsphinx/test/data/librivox
if [ ! -x "$bench" ]; then
    echo "uploads: $bench is missing; build the target uploads_bench" >&2
    exit 1
fi
if [ ! -f "$clips/transcription" ]; then
    echo "uploads: $clips is missing; install pocketsphinx-testdata" >&2
    exit 1
fi
exec nice "$bench" "$clips"
