#!/usr/bin/env bash
# Fails when a layer reaches into one it must not see: Qt belongs to the
# dialog framework alone, and the platform's libraries never include the
# program's headers. The build refuses most of this by its include paths;
# this also catches what a careless CMake change would let through.
set -euo pipefail
cd "$(dirname "$0")/.."

status=0
report() {
    echo "layers: $1:" >&2
    echo "$2" >&2
    status=1
}

qt=$(git grep -n -E '^\s*#\s*include\s*<Q[A-Za-z]*(/[A-Za-z]+)?>' -- \
    '*.cpp' '*.h' ':!platform/ui/**' ':!tests/**' ':!bench/**' || true)
[[ -z "$qt" ]] || report "Qt headers outside platform/ui" "$qt"

program=$(git grep -n -E '^\s*#\s*include\s*"(app|userdlg|itemdlg|controls|res|ui)/' -- \
    'platform/keyward/**' 'platform/trailbook/**' 'platform/setbank/**' 'platform/xdg/**' || true)
[[ -z "$program" ]] || report "program or framework headers in the platform's libraries" "$program"

framework=$(git grep -n -E '^\s*#\s*include\s*"(app|userdlg|itemdlg|controls|res)/' -- \
    'platform/ui/**' || true)
[[ -z "$framework" ]] || report "program headers in the framework" "$framework"

exit $status
