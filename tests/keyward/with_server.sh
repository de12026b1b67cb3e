#!/bin/sh
# Usage: with_server.sh COMMAND [ARGUMENTS]
# Starts a throwaway PostgreSQL 15 cluster in a temporary folder (Unix
# socket only, trust authentication, superuser "postgres"), runs COMMAND
# with KEYWARD_TEST_SERVER set to the URI's host and port (see below),
# then stops the cluster and removes the folder, also when COMMAND fails.
# PostgreSQL will not run as root: as root the cluster runs as the package's
# postgres user.
set -eu
bin=${PG_BINDIR:-/usr/lib/postgresql/15/bin}
[ -x "$bin/initdb" ] || { echo "with_server: no PostgreSQL 15 in $bin" >&2; exit 1; }

dir=$(mktemp -d "${TMPDIR:-/tmp}/keyward-pg-XXXXXX")
as_owner() { "$@"; }
if [ "$(id -u)" -eq 0 ]; then
    chown postgres: "$dir"
    as_owner() { runuser -u postgres -- "$@"; }
fi
stop() {
    as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true
    rm -rf "$dir"
}
trap stop EXIT
trap 'exit 130' INT TERM

as_owner "$bin/initdb" -D "$dir/data" -U postgres --auth=trust -E UTF8 --locale=C.UTF-8 \
    >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
port=5432
# In its configuration, so that a test stopping and starting it needs no options.
cat >>"$dir/data/postgresql.conf" <<CONF
listen_addresses = ''
unix_socket_directories = '$dir'
port = $port
fsync = off
max_connections = 60
CONF
as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -s start ||
    { cat "$dir/server.log" >&2; exit 1; }

# postgresql://USER@/DATABASE?host=$KEYWARD_TEST_SERVER reaches it.
export KEYWARD_TEST_SERVER="$dir&port=$port"
export KEYWARD_TEST_SERVER_DATA="$dir/data" KEYWARD_TEST_PG_BINDIR="$bin"
"$@"
