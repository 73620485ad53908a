#!/usr/bin/env bash
# Installs the Debian packages named in the given lists, asking apt only when
# one of them is missing. A desktop user is asked for sudo then, and only
# then, so that an everyday `make run` needs no root at all.
set -eu
packages=$(cat "$@" | sed 's/#.*//' | xargs)
missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
        || missing="$missing $package"
done
[ -z "$missing" ] && exit 0
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
        echo "Missing Debian packages:$missing" >&2
        echo "sudo is not installed; install them as root with: apt-get install$missing" >&2
        exit 1
    fi
    echo "Installing missing Debian packages with sudo:$missing" >&2
    as_root=(sudo)
fi
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
