#!/usr/bin/env bash
# Configures and builds into ./build. Safe to run again: cmake rebuilds only
# what changed.
set -euo pipefail
cd "$(dirname "$0")/.."

build_type=${BUILD_TYPE:-RelWithDebInfo}
cmake -S . -B build -DCMAKE_BUILD_TYPE="$build_type"
cmake --build build -j"$(nproc)"
