#!/usr/bin/env bash
# Usage: shared_store.sh README BUILD_DIR
#
# Follows the README's recipe for a store shared by several stations, its
# commands taken from the README itself (the blocks marked "shared store"),
# on a throwaway PostgreSQL 15 cluster laid out as Debian's 15/main; then two
# stations, each a keywardd with a host name of its own, write through the
# server's functions, and their audit rows must name their hosts and OS
# users. Nothing reaches the machine: the test runs as root in namespaces of
# its own, where /etc is an overlay (the README's files, its certificates and
# the system user varnock land there), /run is private and the network is a
# loopback of its own on which db.plant lives. Exits 77 (skipped) where that
# cannot be had.
#
# The README's commands run as written, passwords typed at their prompts
# (answer_prompts.py); the test only stands in for systemctl and the
# package's units (restarting the throwaway server, starting the station's
# keywardd from the build as varnock) and
# runs station1's block again for station2 with that station's role and
# password.
set -euo pipefail
readme=$(realpath "$1")
build=$(realpath "$2")
here=$(dirname "$(realpath "$0")")
bin=${PG_BINDIR:-/usr/lib/postgresql/15/bin}

fail() {
    echo "shared_store: $*" >&2
    exit 1
}
skip() {
    echo "shared_store: skipped: $*"
    exit 77
}
[[ $(id -u) -eq 0 ]] || skip "needs root for its namespaces"
[[ -x $bin/initdb ]] || skip "no PostgreSQL 15 in $bin"
if [[ ${SHARED_STORE_INSIDE:-} != 1 ]]; then
    unshare --mount --uts --net --fork true 2>/dev/null || skip "no namespaces here"
    exec unshare --mount --uts --net --fork env SHARED_STORE_INSIDE=1 "$0" "$@"
fi

# ---- the machine as the README finds it ----------------------------------------
work=$(mktemp -d /tmp/keyward-shared-XXXXXX)
chmod 755 "$work"
conf=/etc/postgresql/15/main
stop() {
    for pidfile in "$work"/station*/keywardd.pid; do
        [[ -f $pidfile ]] && kill "$(cat "$pidfile")" 2>/dev/null
    done
    runuser -u postgres -- "$bin/pg_ctl" -D "$conf" -m immediate -s stop 2>/dev/null || true
    umount /run /etc 2>/dev/null || true
    rm -rf "$work"
}
trap stop EXIT
mount --make-rprivate /
ip link set lo up
mkdir -p "$work/etc/upper" "$work/etc/work"
mount -t overlay overlay -o "lowerdir=/etc,upperdir=$work/etc/upper,workdir=$work/etc/work" /etc
mount -t tmpfs tmpfs /run
echo '127.0.0.1 db.plant' >>/etc/hosts
# What the package brings: the service's system user.
getent passwd varnock >/dev/null ||
    useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin varnock
unset KEYWARD_DB SETBANK_SYSTEM_FILE KEYWARD_HASH_COST PGHOST PGPORT PGSERVICEFILE PGPASSFILE
export TRAILBOOK_SOCKET=$work/no-log

# The cluster 15/main: configuration in /etc, data apart; over the network
# only the README's pg_hba.conf line lets anyone in.
mkdir "$work/pg"
chown postgres: "$work/pg"
data=$work/pg/data
rm -rf "$conf"
mkdir -p "$conf" "$data" /run/postgresql
chown postgres: "$conf" "$data" /run/postgresql
runuser -u postgres -- "$bin/initdb" -D "$data" -U postgres --auth-local=peer \
    --auth-host=scram-sha-256 -E UTF8 --locale=C.UTF-8 >"$work/initdb.log" 2>&1 ||
    { cat "$work/initdb.log" >&2; exit 1; }
mv "$data/postgresql.conf" "$data/pg_ident.conf" "$conf/"
rm "$data/pg_hba.conf"
echo 'local all postgres peer' >"$conf/pg_hba.conf"
cat >>"$conf/postgresql.conf" <<CONF
data_directory = '$data'
hba_file = '$conf/pg_hba.conf'
ident_file = '$conf/pg_ident.conf'
unix_socket_directories = '/run/postgresql'
fsync = off
CONF
chown -R postgres: "$conf"
runuser -u postgres -- "$bin/pg_ctl" -D "$conf" -l "$work/pg/server.log" -w -s start

# systemctl, for what the README restarts.
mkdir "$work/bin"
cat >"$work/bin/systemctl" <<SHIM
#!/bin/bash
case "\$*" in
'restart postgresql')
    [[ \$(id -u) -eq 0 ]] && exec runuser -u postgres -- "\$0" "\$@"
    exec "$bin/pg_ctl" -D "$conf" -l "$work/pg/server.log" -w -s restart ;;
'restart keywardd')
    # As the package's units would: /run/varnock, then the service as varnock.
    [[ -f \$STATION_DIR/keywardd.pid ]] && kill "\$(cat "\$STATION_DIR/keywardd.pid")"
    install -d -o varnock -g varnock -m 0755 /run/varnock
    rm -f /run/varnock/keyward.sock
    setpriv --reuid=varnock --regid=varnock --init-groups env -i HOME=/nonexistent \\
        TRAILBOOK_SOCKET="$work/no-log" "$build/platform/keyward/service/keywardd" \\
        </dev/null >>"\$STATION_DIR/keywardd.log" 2>&1 &
    echo \$! >"\$STATION_DIR/keywardd.pid"
    for _ in \$(seq 100); do [[ -S /run/varnock/keyward.sock ]] && exit 0; sleep 0.1; done
    cat "\$STATION_DIR/keywardd.log" >&2
    exit 1 ;;
*) echo "systemctl: \$* is not part of this test" >&2; exit 1 ;;
esac
SHIM
chmod 755 "$work/bin/systemctl"
export PATH=$work/bin:$build/platform/keyward/cli:$bin:$PATH

# The commands of the README block marked "shared store: $1", its list
# item's indentation taken off.
block() {
    awk -v mark="<!-- shared store: $1 -->" '
        index($0, mark) { found = 1; next }
        found && !inside && /^ *```sh$/ { inside = 1; indent = index($0, "`") - 1; next }
        inside && /^ *```$/ { exit }
        inside { print substr($0, indent + 1) }' "$readme"
}
for name in server tls owner station; do
    [[ -n $(block $name) ]] || { echo "shared_store: the README has no block '$name'" >&2; exit 1; }
done
# Runs a block as user in folder, typing the passwords given at its prompts.
follow() {
    local name=$1 user=$2 folder=$3
    shift 3
    echo "== README, $name, as $user"
    "$here/answer_prompts.py" "$@" -- runuser -u "$user" -- env HOME="$folder" PATH="$PATH" \
        bash -c "set -euo pipefail; cd '$folder'; $(block "$name")" ||
        fail "the README's $name block failed"
}

# ---- the README's steps -------------------------------------------------------------
follow server postgres "$data" OWNER-PASSWORD OWNER-PASSWORD STATION1-PASSWORD \
    STATION1-PASSWORD STATION2-PASSWORD STATION2-PASSWORD
follow tls postgres "$data"
mkdir "$work/owner"
follow owner root "$work/owner" ROOT-PASSWORD ROOT-PASSWORD

# A station: namespaces of its own within this one (its /etc, /run and host
# name), station1's block with its role and password, and its keywardd
# started by the systemctl above; the station lives on in keywardd.
station() {
    local n=$1 dir=$work/station$1
    mkdir -p "$dir/etc/upper" "$dir/etc/work"
    cp "$conf/plant-ca.crt" "$dir/"
    block station | sed "s/station1/station$n/g; s/STATION1/STATION$n/g" >"$dir/block.sh"
    echo "== README, station, as root on station$n"
    STATION_DIR=$dir unshare --mount --uts --fork bash -euo pipefail -c "
        mount -t overlay overlay -o lowerdir=/etc,upperdir=$dir/etc/upper,workdir=$dir/etc/work /etc
        mount -t tmpfs tmpfs /run
        hostname station$n
        cd $dir
        . $dir/block.sh"
}
station 1
station 2

# ---- two stations at work -------------------------------------------------------
on() {  # on N COMMAND...: in station N's namespaces, as root
    local n=$1
    shift
    nsenter --target "$(cat "$work/station$n/keywardd.pid")" --mount --uts -- "$@"
}
on 1 keyward useradd op1 --level 2 --password-stdin <<<"Op1-password"
on 2 setpriv --reuid=65534 --regid=65534 --clear-groups \
    keyward --login root usermod op1 --level 1 <<<"ROOT-PASSWORD"
trail=$(on 1 keyward audit --format=tsv)
echo "$trail"
# time actor action target outcome detail os_user pid host address
grep -qP '^\S+\tos:root\tuser_add\top1\tok\t[^\t]*\troot\t\d+\tstation1\t127\.0\.0\.1$' <<<"$trail" ||
    fail "station1's change does not name station1 and root"
grep -qP '^\S+\troot\tuser_change\top1\tok\t[^\t]*\tnobody\t\d+\tstation2\t127\.0\.0\.1$' <<<"$trail" ||
    fail "station2's change does not name station2 and nobody"

# What an operator with the station's credential can do: nothing directly.
for sql in "SELECT hash FROM users" "UPDATE users SET level = 4 WHERE name = 'op1'" \
    "INSERT INTO audit(id, at, action, outcome, pid) VALUES (999, '', '', '', 0)"; do
    out=$(on 1 runuser -u varnock -- env PGSERVICEFILE=/etc/varnock/pg_service.conf \
        psql -X service=varnock -c "$sql" 2>&1) && fail "$sql: done with the station's credential"
    grep -q 'permission denied' <<<"$out" || fail "$sql: $out"
done
[[ $(on 1 stat -c '%a %U' /etc/varnock/pg_service.conf) == "600 varnock" ]] ||
    fail "the station's credential may be read by others"
# Only TLS and a password let a station in.
out=$(PGPASSWORD=STATION1-PASSWORD psql -X "host=db.plant dbname=varnock user=station1 \
    sslmode=disable" -c 'SELECT 1' 2>&1) && fail "a station got in without TLS"
grep -q 'no pg_hba.conf entry' <<<"$out" || fail "without TLS: $out"
on 2 keyward check
echo "shared_store: the README's shared store works with two stations"
