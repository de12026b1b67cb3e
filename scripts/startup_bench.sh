#!/usr/bin/env bash
# Start-up and memory of the program, measured from outside on a private
# Xvfb display: the time from start until the login window is mapped, for a
# store of one user and of 100,000 users, each beside the model/view anchor
# (bench_modelview: a QTableView over a model that formats rows on demand,
# after one SQLite scan of the same store, with a login window of its own),
# and an empty Qt dialog showing one line of Chinese in the same font; runs
# interleaved, medians printed. Then the program's resident size with 1,000
# and with 100,000 users listed.
#
# usage: scripts/startup_bench.sh [BUILD_DIR]      (RUNS=7 by default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${RUNS:-7}
for tool in "$build/app/rolvane" "$build/bench/startup/bench_startup_timer" \
    "$build/bench/startup/bench_empty_dialog" "$build/bench/startup/bench_modelview" \
    "$build/bench/startup/bench_make_store" \
    "$build/platform/keyward/service/keywardd"; do
  [[ -x $tool ]] || { echo "startup_bench: $tool is not built" >&2; exit 1; }
done
command -v Xvfb >/dev/null || { echo "startup_bench: Xvfb is missing (scripts/setup.sh)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/rolvane-startup.XXXXXX")
xvfb=
service=
cleanup() {
  [[ -n $service ]] && kill "$service" 2>/dev/null && wait "$service" 2>/dev/null
  [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x900x24 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.05; done
export DISPLAY=:$(cat "$work/display")
export QT_QPA_PLATFORM=xcb TRAILBOOK_SOCKET=$work/no-log XDG_CONFIG_HOME=$work/config
unset WAYLAND_DISPLAY

echo "making stores of 1, 1,000 and 100,000 users..."
for n in 1 1000 100000; do "$build/bench/startup/bench_make_store" "$work/users-$n.db" "$n"; done

timer=$build/bench/startup/bench_startup_timer
login_title='登陆 -用户权限管理'
export LC_ALL=C.UTF-8  # the program's own language: its window has this title
# Each start gets a runtime folder of its own: no copy finds another's lock.
program() {  # USERS [TIMER OPTIONS...]
  local users=$1 runtime
  shift
  runtime=$(mktemp -d "$work/run.XXXXXX")
  KEYWARD_DB=$work/users-$users.db XDG_RUNTIME_DIR=$runtime \
    "$timer" "$@" "$login_title" "$build/app/rolvane"
}
# The same one-user store behind the account service (a copy, served by
# keywardd): the program asks it through its socket.
cp "$work/users-1.db" "$work/served.db"
cp "$work/users-1.db.key" "$work/served.db.key"
printf '[store]\nlocation = system\n[service]\nsocket = %s\n' "$work/keyward.sock" >"$work/varnock.conf"
"$build/platform/keyward/service/keywardd" --socket "$work/keyward.sock" --store "$work/served.db" &
service=$!
for _ in $(seq 100); do [[ -S $work/keyward.sock ]] && break; sleep 0.05; done
served() {
  local runtime
  runtime=$(mktemp -d "$work/run.XXXXXX")
  SETBANK_SYSTEM_FILE=$work/varnock.conf XDG_RUNTIME_DIR=$runtime \
    "$timer" "$login_title" "$build/app/rolvane"
}
anchor() {
  XDG_RUNTIME_DIR=$(mktemp -d "$work/run.XXXXXX") \
    "$timer" "empty dialog" "$build/bench/startup/bench_empty_dialog"
}
modelview() {  # USERS
  KEYWARD_DB=$work/users-$1.db XDG_RUNTIME_DIR=$(mktemp -d "$work/run.XXXXXX") \
    "$timer" "$login_title" "$build/bench/startup/bench_modelview"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# One untimed start of each fills the caches a first start would pay for.
anchor >/dev/null
modelview 1 >/dev/null
program 1 >/dev/null
served >/dev/null
for f in anchor mv-one one mv-many many served; do : >"$work/$f"; done
for i in $(seq "$runs"); do
  anchor >>"$work/anchor"
  modelview 1 >>"$work/mv-one"
  program 1 >>"$work/one"
  modelview 100000 >>"$work/mv-many"
  program 100000 >>"$work/many"
  served >>"$work/served"
done
# Column 1 is the wall time, column 2 the CPU time the program used by then.
col() { awk -v c="$1" '{ print $c }' "$2" | median; }
echo
echo "start to window mapped, medians of $runs interleaved runs (wall | CPU used by then);"
echo "the model/view program shows the same store's users in a QTableView and its own login window:"
awk -v a="$(col 1 "$work/anchor")" -v ac="$(col 2 "$work/anchor")" 'BEGIN {
  printf "  empty Qt dialog, one line of Chinese               %7.1f ms | %7.1f ms\n", a, ac
}'
line() {  # USERS MODELVIEW_FILE ROLVANE_FILE GOAL
  awk -v u="$1" -v g="$4" -v m="$(col 1 "$2")" -v mc="$(col 2 "$2")" -v o="$(col 1 "$3")" \
    -v oc="$(col 2 "$3")" 'BEGIN {
    printf "  %-7s users: model/view program, login window   %7.1f ms | %7.1f ms\n", u, m, mc
    printf "  %-7s users: rolvane, login window              %7.1f ms | %7.1f ms   %.2fx | %.2fx the model/view program (goal <= %s)\n", u, o, oc, o / m, oc / mc, g
  }'
}
line 1 "$work/mv-one" "$work/one" 1.0x
line 100,000 "$work/mv-many" "$work/many" 1.2x
awk -v a="$(col 1 "$work/anchor")" -v o="$(col 1 "$work/one")" -v m="$(col 1 "$work/many")" 'BEGIN {
  printf "  rolvane: 1 user %.2fx the empty dialog (goal <= 1.3x), 100,000 users %.2fx 1 user (goal <= 1.5x)\n", o / a, m / o
}'
awk -v o="$(col 1 "$work/one")" -v v="$(col 1 "$work/served")" -v oc="$(col 2 "$work/one")" \
  -v vc="$(col 2 "$work/served")" 'BEGIN {
  printf "  1 user through the account service: rolvane       %7.1f ms | %7.1f ms   %.2fx | %.2fx the personal store (goal <= 1.1x)\n", v, vc, v / o, vc / oc
}'

# Resident size once the list is filled and shown (the login window is up
# and the main dialog painted behind it).
: >"$work/rss-1k"
: >"$work/rss-100k"
for i in 1 2 3; do
  program 1000 --rss-after 1500 | awk '{ print $3 }' >>"$work/rss-1k"
  program 100000 --rss-after 1500 | awk '{ print $3 }' >>"$work/rss-100k"
done
small=$(median <"$work/rss-1k")
large=$(median <"$work/rss-100k")
echo
awk -v s="$small" -v l="$large" 'BEGIN {
  printf "resident size with the users listed, medians of 3:\n"
  printf "  1,000 users %8.1f MB   100,000 users %8.1f MB   difference %6.1f MB (goal <= 40 MB)\n",
    s / 1024, l / 1024, (l - s) / 1024
}'
