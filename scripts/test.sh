#!/usr/bin/env bash
# Installs what is missing, builds and runs every test. GUI tests pick their
# Qt platform themselves (offscreen); the end-to-end test starts its own Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/build.sh
ctest --test-dir build --output-on-failure
