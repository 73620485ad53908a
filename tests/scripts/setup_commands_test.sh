#!/usr/bin/env bash
# `make run` as a desktop user: sudo only for missing packages, no tests or
# benchmarks built; and the headless desktop speaks UTF-8 on a system whose
# own locale is C.
set -eu
source=${TELLWIND_SOURCE_DIR:?}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Stand-ins for the system: who we are, what dpkg knows, and a log of every
# apt-get and sudo call.
fake="$work/bin"
mkdir -p "$fake"
cat >"$fake/id" <<'SH'
#!/bin/sh
[ "$1" = -u ] && echo "${FAKE_UID:?}" || /usr/bin/id "$@"
SH
cat >"$fake/dpkg-query" <<'SH'
#!/bin/sh
for package; do :; done
case " $FAKE_INSTALLED " in *" $package "*) printf 'install ok installed' ;; *) exit 1 ;; esac
SH
cat >"$fake/sudo" <<'SH'
#!/bin/sh
echo "sudo $*" >>"$FAKE_LOG"
exec "$@"
SH
cat >"$fake/apt-get" <<'SH'
#!/bin/sh
echo "apt-get $*" >>"$FAKE_LOG"
SH
chmod +x "$fake"/*
printf 'alpha\nbeta # the second\n' >"$work/list.txt"
export FAKE_LOG="$work/calls.log"

install_as() { # UID INSTALLED...
    : >"$FAKE_LOG"
    FAKE_UID=$1 FAKE_INSTALLED="${*:2}" PATH="$fake:$PATH" "$source/scripts/install-deps.sh" "$work/list.txt"
}

install_as 1000 alpha beta || fail "a user with every package installed is turned away"
[ ! -s "$FAKE_LOG" ] || fail "sudo or apt-get called with nothing missing: $(cat "$FAKE_LOG")"

install_as 1000 alpha 2>/dev/null || fail "a user with a missing package is turned away"
grep -q '^sudo .*apt-get install .* beta$' "$FAKE_LOG" || fail "the missing package is not installed with sudo: $(cat "$FAKE_LOG")"
! grep -q 'alpha' "$FAKE_LOG" || fail "an installed package is installed again"

install_as 0 alpha || fail "root with a missing package is turned away"
grep -q '^apt-get install .* beta$' "$FAKE_LOG" && ! grep -q '^sudo' "$FAKE_LOG" ||
    fail "root installs through sudo: $(cat "$FAKE_LOG")"

# `make run` builds the program and the server, nothing else.
builds=$(make -s -n -C "$source" run BUILD="$work/build" JOBS=2 | grep -- 'cmake --build' || true)
[ -n "$builds" ] || fail "make run builds nothing"
while IFS= read -r line; do
    case $line in
    *"--target tellwind tellwind-server tellwind-model-probe") ;;
    *) fail "make run builds more than the program and the server: $line" ;;
    esac
done <<<"$builds"
make -s -n -C "$source" run BUILD="$work/build" | grep -q 'install-deps.sh packaging/build-deps.txt$' ||
    fail "make run does not install the build packages"

# The headless desktop brings its own UTF-8 locale, whatever the caller's.
charmap=$(env LANG=C LC_ALL=C LC_CTYPE=POSIX "$source/tests/harness.sh" locale charmap 2>/dev/null | tail -n1)
[ "$charmap" = UTF-8 ] || fail "the harness runs in the character set '$charmap'"
echo "PASS"
