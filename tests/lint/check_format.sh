#!/usr/bin/env bash
# Fails when a C++ file of ours is not laid out as .clang-format says; prints
# the files to run `clang-format -i` on.
set -u
cd "$(dirname "$0")/../.."
status=0
while IFS= read -r -d '' file; do
    if ! clang-format --dry-run -Werror "$file" >/dev/null 2>&1; then
        echo "not formatted: $file"
        status=1
    fi
done < <(find src server tests bench -type f \( -name '*.cpp' -o -name '*.h' \) -print0)
exit $status
