#!/usr/bin/env bash
# The account store under AddressSanitizer and UndefinedBehaviorSanitizer:
# its tests built with GCC (build-asan/), the account service's as root, then
# its libFuzzer targets (the calls, and the service's sessions) built with
# clang (build-fuzz/) and run for FUZZ_SECONDS each (default 60). Only the
# store's targets are built, so this stays a few minutes on two cores.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DROLVANE_SANITIZE=ON -DROLVANE_BENCH=OFF >/dev/null
cmake --build build-asan -j"$(nproc)" --target keyward_store_test keyward_acceptance_test keyward_cli \
  keyward_backend_test keyward_service_test keywardd keyward_service_probe keyward_resilience_test
# The sixteen stations at the built-in cost measure the machine, not memory
# safety; the plain build runs them.
build-asan/tests/keyward/keyward_store_test --gtest_brief=1 \
  --gtest_filter='-ContentionTest.SixteenStationsLogInAtOnceAtTheBuiltInCost'
build-asan/tests/keyward/keyward_acceptance_test --gtest_brief=1
# Both engines, the server a throwaway PostgreSQL cluster.
tests/keyward/with_server.sh build-asan/tests/keyward/keyward_backend_test --gtest_brief=1
# The service as its own process, asked as an ordinary user (skips unless root).
build-asan/tests/keyward/keyward_service_test --gtest_brief=1
# Servers that freeze, stall, fail over or go away, on clusters of its own:
# the deadlines' cancel threads and the offline logins' retries among them.
build-asan/tests/keyward/keyward_resilience_test --gtest_brief=1

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DROLVANE_SANITIZE=ON -DROLVANE_FUZZ=ON -DROLVANE_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target keyward_store_fuzz keyward_session_fuzz
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
# Findings are written to build-fuzz/ as crash-* files, to be replayed with
# build-fuzz/tests/keyward/keyward_store_fuzz FILE (or keyward_session_fuzz).
for target in keyward_store_fuzz keyward_session_fuzz; do
  mkdir -p "$corpus/$target"
  "build-fuzz/tests/keyward/$target" "$corpus/$target" -max_total_time="$seconds" -timeout=20 \
    -rss_limit_mb=2048 -max_len=512 -print_final_stats=1 -artifact_prefix=build-fuzz/
done
