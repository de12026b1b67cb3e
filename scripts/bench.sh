#!/usr/bin/env bash
# Runs every benchmark and prints each figure next to its anchor and their
# ratio: listing users against a raw SQLite scan, a login and the listing
# through the account service against the store in process, the list control against a
# QTableWidget, FillUserList against the raw scan, del_limit at 100,000
# users, start-up against an empty Qt dialog, memory with 1,000 against
# 100,000 users, and the store on a server against raw libpq. Builds what it
# needs first. Not part of the test run.
#
# usage: scripts/bench.sh [BUILD_DIR]     (default build; RUNS=7 start-ups)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[[ -f $build/CMakeCache.txt ]] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)" --target keyward_list_bench bench_listctrl \
  bench_filluserlist bench_empty_dialog bench_modelview bench_make_store bench_startup_timer rolvane \
  keyward_server_bench keyward_cli keywardd keyward_service_bench

summary=$(mktemp)
out=$(mktemp)
trap 'rm -f "$summary" "$out"' EXIT
# Each benchmark ends with its comparison lines after a blank line.
run() {
  echo "== $*"
  "$@" | tee "$out"
  awk 'done { print } /^$/ { done = 1 }' "$out" >>"$summary"
  echo
}
run "$build/bench/keyward/keyward_list_bench"
run "$build/bench/keyward/keyward_service_bench"
run "$build/bench/ui/bench_listctrl"
run "$build/bench/program/bench_filluserlist"
bash scripts/startup_bench.sh "$build" | tee -a "$summary"
# The store on a throwaway PostgreSQL server against raw libpq.
echo "== $build/bench/keyward/keyward_server_bench"
tests/keyward/with_server.sh "$build/bench/keyward/keyward_server_bench" 2>&1 |
  grep -v '^NOTICE' | tee -a "$summary"

echo
echo "== summary"
cat "$summary"
