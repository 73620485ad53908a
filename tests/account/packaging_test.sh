#!/usr/bin/env bash
# What sign-in needs to come back to the program: the installed desktop entry
# naming the tellwind:// handler and icon, and the registration `make run` does.
set -eu
build=${TELLWIND_BUILD_DIR:?}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
has() { grep -qx "$2" "$1" || fail "$1 lacks $2"; }

cmake --install "$build" --prefix "$work/prefix" >/dev/null
entry="$work/prefix/share/applications/tellwind.desktop"
[ -x "$work/prefix/bin/tellwind" ] && [ -f "$work/prefix/share/icons/hicolor/scalable/apps/tellwind.svg" ] ||
    fail "program or icon not installed"
has "$entry" 'Exec=tellwind %u'
has "$entry" 'MimeType=x-scheme-handler/tellwind;'
has "$entry" 'Icon=tellwind'

# The installed model probe, found from bin/ as ../libexec/tellwind, accepts
# Debian's model and turns down a damaged one.
probe="$work/prefix/bin/../libexec/tellwind/tellwind-model-probe"
[ -x "$probe" ] || fail "model probe not installed"
model=/usr/share/pocketsphinx/model/en-us
"$probe" "$model/en-us" "$model/en-us.lm.bin" "$model/cmudict-en-us.dict" || fail "probe refuses the packaged model"
mkdir "$work/damaged" && echo "not a model" >"$work/damaged/mdef"
! "$probe" "$work/damaged" "$model/en-us.lm.bin" "$model/cmudict-en-us.dict" 2>/dev/null ||
    fail "probe accepts a damaged model"

# Registration for the current user: a build path that needs quoting is quoted.
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
user_entry="$XDG_DATA_HOME/applications/tellwind.desktop"
"${TELLWIND_SOURCE_DIR:?}/scripts/register-desktop-entry.sh" "$build"
has "$user_entry" "Exec=$(cd "$build" && pwd)/tellwind %u"
odd="$work/my \"odd\" \$build"
mkdir -p "$odd"
cp "$build/tellwind" "$odd/tellwind"
"$TELLWIND_SOURCE_DIR/scripts/register-desktop-entry.sh" "$odd"
has "$user_entry" 'Exec="'"$work"'/my \\\\"odd\\\\" \\\\$build/tellwind" %u'
[ -f "$XDG_DATA_HOME/icons/hicolor/scalable/apps/tellwind.svg" ] || fail "no user icon"
[ "$(xdg-mime query default x-scheme-handler/tellwind)" = tellwind.desktop ] || fail "tellwind:// is not ours"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry" && desktop-file-validate "$user_entry" || fail "desktop entries do not validate"
fi
echo "packaging: ok"
