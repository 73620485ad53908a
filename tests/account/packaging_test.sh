#!/usr/bin/env bash
# What a real user needs for sign-in to come back to the program: the
# installed desktop entry naming the tellwind:// handler and the icon, and the
# per-user registration that `make run` does for a build.
set -eu
build=${TELLWIND_BUILD_DIR:?}
source=${TELLWIND_SOURCE_DIR:?}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/prefix" >/dev/null
entry="$work/prefix/share/applications/tellwind.desktop"
[ -f "$entry" ] || fail "no desktop entry installed"
[ -f "$work/prefix/share/icons/hicolor/scalable/apps/tellwind.svg" ] || fail "no icon installed"
[ -x "$work/prefix/bin/tellwind" ] || fail "no program installed"
grep -qx 'Exec=tellwind %u' "$entry" || fail "Exec line: $(grep ^Exec= "$entry")"
grep -qx 'MimeType=x-scheme-handler/tellwind;' "$entry" || fail "no tellwind:// handler"
grep -qx 'Icon=tellwind' "$entry" || fail "no icon named"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry" || fail "desktop entry does not validate"
fi

# Registration for the current user: a plain build path goes in as it is.
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
"$source/scripts/register-desktop-entry.sh" "$build"
user_entry="$XDG_DATA_HOME/applications/tellwind.desktop"
grep -qx "Exec=$(cd "$build" && pwd)/tellwind %u" "$user_entry" || fail "user Exec line: $(grep ^Exec= "$user_entry")"

# One whose path needs quoting is quoted.
odd="$work/my \"odd\" \$build"
mkdir -p "$odd"
cp "$build/tellwind" "$odd/tellwind"
"$source/scripts/register-desktop-entry.sh" "$odd"
[ -f "$user_entry" ] || fail "no user desktop entry"
grep -qx 'Exec="'"$work"'/my \\\\"odd\\\\" \\\\$build/tellwind" %u' "$user_entry" ||
    fail "user Exec line: $(grep ^Exec= "$user_entry")"
[ -f "$XDG_DATA_HOME/icons/hicolor/scalable/apps/tellwind.svg" ] || fail "no user icon"
[ "$(xdg-mime query default x-scheme-handler/tellwind)" = tellwind.desktop ] ||
    fail "tellwind:// is not handled by tellwind.desktop"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$user_entry" || fail "user desktop entry does not validate"
fi
echo "packaging: ok"
