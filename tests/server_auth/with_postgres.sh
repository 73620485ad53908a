#!/bin/sh
# Runs a command against a throw-away PostgreSQL cluster, in a temporary folder and listening only on a
# Unix socket there, so that parallel runs cannot meet. TELLWIND_TEST_DATABASE names it.
set -eu
bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ -z "$bindir" ] || [ ! -x "$bindir/initdb" ]; then
    echo "PostgreSQL is not installed (Debian package postgresql)" >&2
    exit 1
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/tellwind-pg.XXXXXX")
chmod 755 "$work"
owner=""
if [ "$(id -u)" = 0 ]; then # initdb and the server refuse to run as root
    chown postgres: "$work"
    owner="runuser -u postgres --"
fi
stop() {
    $owner "$bindir/pg_ctl" -D "$work/data" -m immediate stop >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap stop EXIT INT TERM
$owner "$bindir/initdb" -D "$work/data" --auth=trust -U postgres -E UTF8 --no-sync >"$work/initdb.log" 2>&1 \
    || { cat "$work/initdb.log" >&2; exit 1; }
# Tests that take the database away for a while run these.
cat >"$work/start-cluster" <<START
#!/bin/sh
exec $owner "$bindir/pg_ctl" -D "$work/data" -l "$work/server.log" -w -t 60 \\
    -o "-c listen_addresses='' -k $work -p 5432 -c fsync=off -c max_connections=200" start >/dev/null
START
cat >"$work/stop-cluster" <<STOP
#!/bin/sh
exec $owner "$bindir/pg_ctl" -D "$work/data" -m fast -w stop >/dev/null
STOP
chmod 755 "$work/start-cluster" "$work/stop-cluster"
"$work/start-cluster" || { cat "$work/server.log" >&2; exit 1; }
export TELLWIND_TEST_DATABASE="postgresql://postgres@localhost:5432/postgres?host=$work"
export TELLWIND_TEST_DATABASE_DIR="$work"
"$@"
