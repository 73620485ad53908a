#!/usr/bin/env bash
# Installs the Debian packages named in the given lists, asking apt only when
# one of them is missing.
set -eu
packages=$(cat "$@" | sed 's/#.*//' | xargs)
missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
        || missing="$missing $package"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages:$missing" >&2
    echo "Run as root, or install them with: sudo apt-get install$missing" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends $missing
