#!/usr/bin/env bash
# Puts plausible bugs into the code one at a time and runs the tests that must
# catch each: a bug no test notices is a test to write.
#
#   scripts/mutants.sh [--check] [LIST] [SELECTION...]
#
# LIST (tests/mutants.txt by default) holds one entry a paragraph:
#   name:  what the bug does, as a user would meet it
#   file:  the file, from the top of the checkout
#   find:  text the file holds (one line; the first match is replaced)
#   into:  what it becomes (may be empty)
#   test:  the ctest regular expression naming the tests that must catch it
#   build: more targets those tests need (optional; a test named like its
#          executable is built anyway)
# SELECTION, if given, keeps the entries numbered so, or whose name contains
# one of its words. The checkout is copied (with its uncommitted changes) to
# .mutants/tree and built in .mutants/tree/build; both stay between runs, so
# only what a mutant touches is compiled again. MUTANTS_JOBS sets the build's
# jobs (2); MUTANTS_BASELINE=0 skips the check that the tests pass unmutated.
# --check only lists the entries whose text the checkout no longer holds.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
list=$root/tests/mutants.txt
check_only=""
if [ "${1:-}" = --check ]; then
    check_only=1
    shift
fi
if [ $# -gt 0 ] && [ -f "$1" ]; then
    list=$(realpath "$1")
    shift
fi
selection=("$@")
tree=$root/.mutants/tree
build=$tree/build
jobs=${MUTANTS_JOBS:-2}
# The copy's compiler runs from another folder than the checkout's: without
# this, ccache would count the folder in and find nothing of either build.
export CCACHE_NOHASHDIR=1

say() { printf '%s\n' "$*"; }

# Entries, as parallel arrays.
names=() files=() finds=() intos=() tests=() builds=()
name="" file="" find="" into="" test="" extra=""
flush() {
    if [ -n "${name}${file}" ]; then
        # Without one the entry would count as not run, and a merge that lost the line would go unseen.
        [ -n "$test" ] || { say "mutants: $list: '$name' names no test"; exit 1; }
        names+=("$name") files+=("$file") finds+=("$find") intos+=("$into") tests+=("$test") builds+=("$extra")
    fi
    name="" file="" find="" into="" test="" extra=""
}
while IFS= read -r line || [ -n "$line" ]; do
    case "$line" in
    '#'*) ;;
    '') flush ;;
    'name:'*) name=${line#name:} name=${name# } ;;
    'file:'*) file=${line#file:} file=${file# } ;;
    'find:'*) find=${line#find: } ;;
    'into:'*) into=${line#into:} into=${into# } ;;
    'test:'*) test=${line#test:} test=${test# } ;;
    'build:'*) extra=${line#build:} ;;
    *) say "mutants: $list: cannot read '$line'" && exit 1 ;;
    esac
done <"$list"
flush

chosen=()
for i in "${!names[@]}"; do
    keep=$([ ${#selection[@]} = 0 ] && echo 1)
    for word in "${selection[@]}"; do
        if [[ "$word" =~ ^[0-9]+$ ]]; then
            [ "$word" = "$((i + 1))" ] && keep=1
        elif [[ "${names[$i]}" == *"$word"* ]]; then
            keep=1
        fi
    done
    [ -n "$keep" ] && chosen+=("$i")
done

# --check: which entries no longer match the checkout, without building.
if [ -n "$check_only" ]; then
    stale=0
    for i in "${chosen[@]}"; do
        if ! grep -qF -- "${finds[$i]}" "$root/${files[$i]}" 2>/dev/null; then
            printf '%3d %s: stale (text not found in %s)\n' "$((i + 1))" "${names[$i]}" "${files[$i]}"
            stale=$((stale + 1))
        fi
    done
    echo "${#chosen[@]} entries, $stale stale"
    exit $((stale > 0))
fi

# The copy: files that differ from the checkout's are copied again, so that
# the build sees only those as changed; files the checkout no longer has go,
# or the sources' globs would still build them.
mkdir -p "$tree"
(cd "$root" && git ls-files -co --exclude-standard) | sort >"$root/.mutants/files"
(cd "$tree" && find . -path ./build -prune -o -type f -printf '%P\n') | sort |
    comm -13 "$root/.mutants/files" - | while IFS= read -r file; do rm -f "$tree/$file"; done
while IFS= read -r file; do
    [ -f "$root/$file" ] || continue
    if ! cmp -s "$root/$file" "$tree/$file"; then
        mkdir -p "$tree/$(dirname "$file")"
        cp "$root/$file" "$tree/$file"
    fi
done <"$root/.mutants/files"
if [ ! -f "$build/build.ninja" ]; then
    nice cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTELLWIND_WERROR=OFF \
        >"$root/.mutants/configure.log" 2>&1 || { cat "$root/.mutants/configure.log"; exit 1; }
fi

# The targets a test regular expression needs: each test named like a target,
# and whatever that target depends on.
targets_for() { # regex extra
    local targets=($2) test_name
    while read -r test_name; do
        ninja -C "$build" -t query "$test_name" >/dev/null 2>&1 && targets+=("$test_name")
    done < <(ctest --test-dir "$build" -N -R "$1" | sed -n 's/^ *Test *#[0-9]*: //p')
    printf '%s\n' "${targets[@]}" | sort -u
}
build_for() { # regex extra: 0 when built
    mapfile -t targets < <(targets_for "$1" "$2")
    [ ${#targets[@]} = 0 ] && targets=(all)
    nice cmake --build "$build" -j "$jobs" --target "${targets[@]}" >"$root/.mutants/build.log" 2>&1
}
run_tests() { # regex: 0 when every test passed
    local count
    count=$(ctest --test-dir "$build" -N -R "$1" | sed -n 's/^Total Tests: //p')
    [ "${count:-0}" -gt 0 ] || { say "mutants: no test matches '$1'"; return 2; }
    (cd "$tree" && nice tests/harness.sh ctest --test-dir "$build" -R "$1" --stop-on-failure \
        >"$root/.mutants/test.log" 2>&1)
}

restore() {
    [ -n "${mutated:-}" ] && cp "$root/$mutated" "$tree/$mutated"
    mutated=""
}
trap 'restore; exit 130' INT TERM

start=$(date +%s)
failing=()
if [ "${MUTANTS_BASELINE:-1}" != 0 ]; then
    mapfile -t groups < <(for i in "${chosen[@]}"; do say "${tests[$i]}"; done | sort -u)
    for group in "${groups[@]}"; do
        extra=$(for i in "${chosen[@]}"; do [ "${tests[$i]}" = "$group" ] && say "${builds[$i]}"; done | sort -u)
        if ! build_for "$group" "$extra"; then
            say "mutants: the unmutated code does not build:"; tail -30 "$root/.mutants/build.log"; exit 1
        fi
        if ! run_tests "$group"; then
            say "mutants: '$group' fails without a mutant; its mutants are not run:"
            grep -E 'FAIL|Failed|\*\*\*' "$root/.mutants/test.log" | head -10
            failing+=("$group")
        fi
    done
    say "baseline: $((${#groups[@]} - ${#failing[@]})) of ${#groups[@]} test groups pass unmutated ($(($(date +%s) - start)) s)"
fi

caught=0 survived=() stale=() broken=() unrun=()
for i in "${chosen[@]}"; do
    number=$((i + 1))
    label=$(printf '%3d %-60s' "$number" "${names[$i]}")
    began=$(date +%s)
    mutated=""
    if printf '%s\n' "${failing[@]}" | grep -qxF -- "${tests[$i]}"; then
        say "$label not run (${tests[$i]} fails unmutated)"
        unrun+=("$number")
        continue
    fi
    target_file=$tree/${files[$i]}
    if [ ! -f "$target_file" ] || ! grep -qF -- "${finds[$i]}" "$target_file"; then
        say "$label stale (text not found in ${files[$i]})"
        stale+=("$number")
        continue
    fi
    mutated=${files[$i]}
    python3 -c '
import sys
path, old, new = sys.argv[1:]
text = open(path, encoding="utf-8").read()
open(path, "w", encoding="utf-8").write(text.replace(old, new, 1))
' "$target_file" "${finds[$i]}" "${intos[$i]}"
    if ! build_for "${tests[$i]}" "${builds[$i]}"; then
        say "$label broken (does not build; see .mutants/build.log)"
        cp "$root/.mutants/build.log" "$root/.mutants/broken-$number.log"
        broken+=("$number")
    elif run_tests "${tests[$i]}"; then
        say "$label SURVIVED ${tests[$i]} ($(($(date +%s) - began)) s)"
        survived+=("$number")
    else
        say "$label caught ($(($(date +%s) - began)) s)"
        caught=$((caught + 1))
    fi
    restore
done

total=${#chosen[@]}
say ""
say "caught $caught of $total mutants ($((total ? caught * 100 / total : 0)) %) in $(($(date +%s) - start)) s"
[ ${#survived[@]} = 0 ] || say "survived: ${survived[*]}"
[ ${#stale[@]} = 0 ] || say "stale (mend the entry): ${stale[*]}"
[ ${#broken[@]} = 0 ] || say "broken (mend the entry): ${broken[*]}"
[ ${#unrun[@]} = 0 ] || say "not run, their tests fail unmutated: ${unrun[*]}"
[ ${#survived[@]} = 0 ] && [ ${#stale[@]} = 0 ] && [ ${#broken[@]} = 0 ] && [ ${#unrun[@]} = 0 ]
