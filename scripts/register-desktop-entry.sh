#!/usr/bin/env bash
# Registers a build of Tellwind for the current user: its desktop entry (with
# the build's own executable) and icon, and the handler of tellwind:// links,
# so that the browser can hand a sign-in back to the running program.
#
#   scripts/register-desktop-entry.sh build
set -eu
build=$(cd "${1:-build}" && pwd)
source=$(cd "$(dirname "$0")/.." && pwd)
data=${XDG_DATA_HOME:-$HOME/.local/share}
applications="$data/applications"
icons="$data/icons/hicolor/scalable/apps"
mkdir -p "$applications" "$icons"

# A plain path goes in as it is (xdg-open's own reader takes the Exec line
# word by word and knows no quoting); any other is quoted the desktop-entry
# way: in double quotes, with " ` $ escaped and a backslash written as four.
executable="$build/tellwind"
if printf '%s' "$executable" | grep -qx '[A-Za-z0-9/._+,:@=-]*'; then
    exec_path=$executable
else
    exec_path=\"$(printf '%s' "$executable" | sed -e 's/\\/\\\\\\\\/g' -e 's/["`$]/\\\\&/g')\"
fi
while IFS= read -r line; do
    case $line in
    Exec=*) printf 'Exec=%s %%u\n' "$exec_path" ;;
    *) printf '%s\n' "$line" ;;
    esac
done <"$source/packaging/tellwind.desktop" >"$applications/tellwind.desktop.new"
mv "$applications/tellwind.desktop.new" "$applications/tellwind.desktop"
cp "$source/packaging/tellwind.svg" "$icons/tellwind.svg"

if command -v update-desktop-database >/dev/null 2>&1; then
    update-desktop-database -q "$applications" || true
fi
if command -v xdg-mime >/dev/null 2>&1; then
    xdg-mime default tellwind.desktop x-scheme-handler/tellwind
else
    echo "register-desktop-entry: xdg-mime not found; tellwind:// links will not reach Tellwind" >&2
fi
