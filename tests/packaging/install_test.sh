#!/usr/bin/env bash
# The packages in a fresh minimal Debian 12: apt installs them with nothing
# else done first, both programs answer, the server runs from its unit's
# ExecStart as its own user, and the program shows its panel on a headless X
# server. The bare system is made once and kept under the build folder; each
# run installs onto a throwaway layer above it, with a private network that
# only the archive download leaves out.
set -eu
here=$(dirname "$0")
# As the user, so that the build folder stays theirs.
[ -n "${TELLWIND_DEBS_BUILT:-}" ] && debs=$TELLWIND_BUILD_DIR/packaging-test/debs || source "$here/build-debs.sh"
build=$TELLWIND_BUILD_DIR
# The rest needs root for chroot and mounts: a desktop user whose sudo asks no
# password runs it as one run by root does, with the bare system kept where
# its files, owned by root, stay out of the way of removing the build folder.
if [ "$(id -u)" -ne 0 ]; then
    sudo -n true 2>/dev/null || { echo "SKIP: needs root or sudo without a password for chroot and mounts"; exit 77; }
    exec sudo -n env TELLWIND_BUILD_DIR="$build" TELLWIND_DEBS_BUILT=1 \
        TELLWIND_DEBIAN_MIRROR="${TELLWIND_DEBIAN_MIRROR:-}" TELLWIND_PACKAGING_CACHE=/var/cache/tellwind-tests/packaging "$0"
fi
cache=${TELLWIND_PACKAGING_CACHE:-$build/packaging-test}
mkdir -p "$cache"
mirror=${TELLWIND_DEBIAN_MIRROR:-http://deb.debian.org/debian}
fail() { echo "FAIL: $*" >&2; exit 1; }
# A check whose failure leaves the others worth running.
failed=""
miss() { echo "FAIL: $*" >&2; failed=1; }
started=$SECONDS

exec 9>"$cache/lock"
flock 9
if [ ! -e "$cache/base/.complete" ]; then
    rm -rf "$cache/base"
    debootstrap --variant=minbase bookworm "$cache/base" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
        { tail -n 20 "$cache/debootstrap.log" >&2; fail "debootstrap"; }
    touch "$cache/base/.complete"
fi

run=$(mktemp -d "$cache/run.XXXXXX")
root=$run/root
cleanup() {
    umount -R "$root" 2>/dev/null || umount -lR "$root" 2>/dev/null || true
    rm -rf "$run"
}
trap cleanup EXIT
mkdir -p "$run/upper" "$run/work" "$root" "$cache/archives/partial"
mount -t overlay overlay -o "lowerdir=$cache/base,upperdir=$run/upper,workdir=$run/work" "$root"
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
# Downloads are kept across runs: the second run needs the network only for
# the package lists.
mount --bind "$cache/archives" "$root/var/cache/apt/archives"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
mkdir -p "$root/tmp/debs"
cp "$debs"/*.deb "$root/tmp/debs/"

in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }
in_root apt-get update >"$run/apt.log" 2>&1 || { cat "$run/apt.log" >&2; fail "apt-get update"; }
in_root sh -c 'cd /tmp/debs && DEBIAN_FRONTEND=noninteractive apt-get install -y ./tellwind_*.deb ./tellwind-server_*.deb' \
    >"$run/apt.log" 2>&1 || { tail -n 40 "$run/apt.log" >&2; fail "apt-get install of the two packages"; }
echo "installed in $((SECONDS - started)) s"

version=$(in_root tellwind --version 2>&1) && grep -q '^tellwind [0-9]' <<<"$version" ||
    miss "tellwind --version says: $version"
version=$(in_root tellwind-server --version 2>&1) && grep -q '^tellwind-server [0-9]' <<<"$version" ||
    miss "tellwind-server --version says: $version"

uid=$(in_root id -u tellwind) || fail "the package made no user tellwind"
exec_start=$(sed -n 's/^ExecStart=//p' "$root/usr/lib/systemd/system/tellwind-server.service")
[ -n "$exec_start" ] || fail "the unit has no ExecStart"
# What StateDirectory= would make.
in_root install -d -o tellwind -g tellwind -m 700 /var/lib/tellwind-server

cat >"$run/inside.sh" <<'SH'
# Runs in a network and process namespace of its own: loopback is private to
# the test, and everything started here ends with it.
set -eu
root=$1 exec_start=$2 uid=$3
fail() { echo "FAIL: $*" >&2; exit 1; }
# Xvfb is asked to end so that it removes its socket and lock in the shared /tmp.
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait' EXIT
ip link set lo up
chroot "$root" env -i PATH=/usr/bin:/bin STATE_DIRECTORY=/var/lib/tellwind-server \
    setpriv --reuid=tellwind --regid=tellwind --init-groups sh -c "exec $exec_start" \
    >"$root/tmp/server.log" 2>&1 &
server=$!
pids+=("$server")
ready=""
for _ in $(seq 600); do
    kill -0 "$server" 2>/dev/null || { cat "$root/tmp/server.log" >&2; fail "the server ended"; }
    if [ "$(curl -s -o /dev/null -w '%{http_code}' http://127.0.0.1:8750/readyz)" = 200 ]; then ready=1; break; fi
    sleep 0.1
done
[ -n "$ready" ] || { cat "$root/tmp/server.log" >&2; fail "/readyz never answered 200"; }
[ "$(stat -c %u "/proc/$server")" = "$uid" ] || fail "the server runs as uid $(stat -c %u "/proc/$server"), not tellwind"
echo "server ready as tellwind"

fifo=$(mktemp -u) && mkfifo "$fifo"
Xvfb -displayfd 8 -nolisten tcp -screen 0 1280x800x24 8>"$fifo" >/dev/null 2>&1 &
pids+=($!)
read -r -t 30 display <"$fifo" || fail "Xvfb did not start"
rm -f "$fifo"
mkdir -p "$root/tmp/.X11-unix" && mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
mkdir -p "$root/run/user/0" && chmod 700 "$root/run/user/0"
# A user who has been through the welcome: the panel is what shows.
mkdir -p "$root/root/.config/Tellwind"
printf '[General]\nhasCompletedOnboarding=true\n' >"$root/root/.config/Tellwind/Tellwind.conf"
chroot "$root" env -i PATH=/usr/bin:/bin HOME=/root LANG=C.UTF-8 DISPLAY=":$display" \
    XDG_RUNTIME_DIR=/run/user/0 QT_QPA_PLATFORM=xcb tellwind >"$root/tmp/tellwind.log" 2>&1 &
program=$!
pids+=("$program")
shown=""
for _ in $(seq 600); do
    kill -0 "$program" 2>/dev/null || { cat "$root/tmp/tellwind.log" >&2; fail "tellwind ended"; }
    if xwininfo -display ":$display" -name Tellwind 2>/dev/null | grep -q 'Map State: IsViewable'; then shown=1; break; fi
    sleep 0.1
done
[ -n "$shown" ] || { cat "$root/tmp/tellwind.log" >&2; fail "the panel never showed"; }
echo "panel shown on :$display"
SH
unshare --net --pid --mount --mount-proc --fork --kill-child bash "$run/inside.sh" "$root" "$exec_start" "$uid" ||
    miss "the installed programs"
[ -z "$failed" ] || exit 1
echo "PASS in $((SECONDS - started)) s"
