#!/usr/bin/env bash
# The two packages as a user's desktop and apt read them: which files each
# holds, that the desktop entry and the software-centre record validate, the
# icon sizes, the man pages against the program's own --help, and the
# dependencies dpkg-shlibdeps found.
set -eu
here=$(dirname "$0")
source "$here/build-debs.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

program=$(ls "$debs"/tellwind_*.deb 2>/dev/null) || fail "no tellwind package in $debs"
server=$(ls "$debs"/tellwind-server_*.deb 2>/dev/null) || fail "no tellwind-server package in $debs"
dpkg-deb -x "$program" "$work/program"
dpkg-deb -x "$server" "$work/server"

holds() { # ROOT PATH...
    local root=$1 path
    shift
    for path; do [ -e "$root/$path" ] || fail "$(basename "$root") lacks /$path"; done
}
holds "$work/program" usr/bin/tellwind usr/libexec/tellwind/tellwind-model-probe \
    usr/share/applications/tellwind.desktop usr/share/metainfo/com.tellwind.Tellwind.metainfo.xml \
    usr/share/man/man1/tellwind.1.gz usr/share/icons/hicolor/scalable/apps/tellwind.svg \
    usr/share/tellwind/help/microphone.html
holds "$work/server" usr/bin/tellwind-server usr/libexec/tellwind-server/tellwind-model-probe \
    usr/lib/systemd/system/tellwind-server.service usr/lib/sysusers.d/tellwind-server.conf \
    usr/share/man/man8/tellwind-server.8.gz
[ ! -e "$work/program/usr/bin/tellwind-server" ] || fail "the program's package holds the server"
[ ! -e "$work/server/usr/bin/tellwind" ] || fail "the server's package holds the program"

desktop-file-validate "$work/program/usr/share/applications/tellwind.desktop" || fail "desktop entry"
grep -qx 'MimeType=x-scheme-handler/tellwind;' "$work/program/usr/share/applications/tellwind.desktop" ||
    fail "the desktop entry does not handle tellwind:// links"
appstreamcli validate --no-net "$work/program/usr/share/metainfo/com.tellwind.Tellwind.metainfo.xml" ||
    fail "metainfo"
grep -q "version=\"$(sed -n 's/^project(Tellwind VERSION \([0-9.]*\).*/\1/p' "$TELLWIND_SOURCE_DIR/CMakeLists.txt")\"" \
    "$work/program/usr/share/metainfo/com.tellwind.Tellwind.metainfo.xml" || fail "metainfo names another version"

# A PNG's width and height are the big-endian words at bytes 16 and 20.
for size in 16 22 24 32 48 64 128 256 512; do
    png=$work/program/usr/share/icons/hicolor/${size}x${size}/apps/tellwind.png
    [ -s "$png" ] || fail "no ${size} px icon"
    read -r width height < <(od -An -tu1 -j16 -N8 "$png" |
        awk '{ print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }')
    [ "$width $height" = "$size $size" ] || fail "the ${size} px icon is ${width}x${height}"
done

# Every option --help offers is in the man page.
options=$("$TELLWIND_BUILD_DIR/tellwind" --help | grep -o -- '--[a-z][a-z-]*' | sort -u)
[ -n "$options" ] || fail "tellwind --help names no option"
page=$(zcat "$work/program/usr/share/man/man1/tellwind.1.gz" | sed 's/\\-/-/g')
for option in $options; do
    grep -q -- "$option" <<<"$page" || fail "the man page leaves out $option"
done

grep -qx 'ExecStart=/usr/bin/tellwind-server .*' "$work/server/usr/lib/systemd/system/tellwind-server.service" ||
    fail "the unit does not start the installed server"

depends() { dpkg-deb -f "$1" Depends; }
for needed in libqt6core6 libqt6quick6 libqt6keychain1 pocketsphinx-en-us qml6-module-qtquick-controls; do
    depends "$program" | grep -q "\b$needed\b" || fail "tellwind does not depend on $needed: $(depends "$program")"
done
for needed in libqt6httpserver6 libpocketsphinx3 libsodium23 libqt6sql6-sqlite; do
    depends "$server" | grep -q "\b$needed\b" || fail "tellwind-server does not depend on $needed: $(depends "$server")"
done
depends "$server" | grep -q "libqt6gui6\|libqt6quick6" && fail "the server depends on the desktop's libraries"
echo PASS
