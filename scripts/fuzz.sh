#!/usr/bin/env bash
# Builds every fuzz target (fuzz_*) with clang and libFuzzer in its own build
# folder and runs each for a bounded time (default 60 s; first argument).
#
#   scripts/fuzz.sh 300
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${FUZZ_BUILD:-build-fuzz}
if ! command -v clang++ >/dev/null; then
    echo "fuzz: clang++ is not installed (packaging/test-deps.txt lists it)" >&2
    exit 1
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTELLWIND_FUZZ_SECONDS="$seconds" >/dev/null
targets=$(ninja -C "$build" -t targets all | sed -n 's/^\(fuzz_[A-Za-z0-9_]*\): .*/\1/p' | sort -u)
ninja -C "$build" $targets
ctest --test-dir "$build" -R '^fuzz_' --output-on-failure
