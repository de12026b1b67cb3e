#!/usr/bin/env bash
# Configures and builds into ./build. Safe to run again: cmake rebuilds only
# what changed.
set -euo pipefail
cd "$(dirname "$0")/.."

# BUILD_TYPE: Debug, RelWithDebInfo (default), Release or MinSizeRel.
# ROLVANE_WERROR=ON turns warnings into errors (CI does).
build_type=${BUILD_TYPE:-RelWithDebInfo}
cmake -S . -B build -DCMAKE_BUILD_TYPE="$build_type" -DROLVANE_WERROR="${ROLVANE_WERROR:-OFF}"
cmake --build build -j"$(nproc)"
