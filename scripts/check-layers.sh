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

program=$(git grep -n -E '^\s*#\s*include\s*"(app|shelldlg|userdlg|itemdlg|controls|res|ui)/' -- \
    'platform/keyward/**' 'platform/trailbook/**' 'platform/setbank/**' 'platform/xdg/**' || true)
[[ -z "$program" ]] || report "program or framework headers in the platform's libraries" "$program"

framework=$(git grep -n -E '^\s*#\s*include\s*"(app|shelldlg|userdlg|itemdlg|controls|res)/' -- \
    'platform/ui/**' || true)
[[ -z "$framework" ]] || report "program headers in the framework" "$framework"

# The framework's insides (platform/ui/src) stay its own: outside it, tests
# and benchmarks included, only its public headers (ui/...) and the GUI test
# kit. Neither a path to the folder nor one of its headers by name.
inside=$(git grep -n 'platform/ui/src' -- '*.cpp' '*.h' '*CMakeLists.txt' '*.cmake' \
    ':!platform/ui/**' || true)
[[ -z "$inside" ]] || report "paths into platform/ui/src outside the framework" "$inside"
names=$(git ls-files 'platform/ui/src/*.h' | xargs -n1 basename | paste -sd'|' | sed 's/\./\\./g')
included=$(git grep -n -E "^\s*#\s*include\s*\"($names)\"" -- '*.cpp' '*.h' \
    ':!platform/ui/**' || true)
inside=$(while IFS=: read -r file line text; do
    [[ -n $file ]] || continue
    header=$(sed -E 's/.*"([^"]+)".*/\1/' <<<"$text")
    # A header of that name beside the file is the file's own.
    [[ -e $(dirname "$file")/$header ]] || echo "$file:$line:$text"
done <<<"$included")
[[ -z "$inside" ]] || report "framework-internal headers outside the framework" "$inside"

exit $status
