#!/bin/sh
# Names every test of the last ctest run in BUILD that failed once and passed
# on its second chance: a flake to fix, not a pass to forget.
log=${1:?build folder}/Testing/Temporary/LastTest.log
[ -f "$log" ] || exit 0
flaky=$(awk '/^[0-9]+\/[0-9]+ Test: /{name=$3} /^Test (Passed|Failed)\./{runs[name]++; last[name]=$2}
    END{for (n in runs) if (runs[n]>1 && last[n]=="Passed.") print n}' "$log" | sort)
if [ -n "$flaky" ]; then
    echo "Passed only on a second run (flaky, to be fixed):"
    echo "$flaky" | sed 's/^/    /'
else
    echo "No test needed a second run."
fi
