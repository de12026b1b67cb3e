#!/bin/sh
# Usage: check_exports.sh LIBRARY VERSIONS HEADERS INCLUDE_REGEX [EXCLUDE_REGEX [PRIVATE]]
# The library's defined dynamic symbols must be exactly the calls declared
# with a *_API macro in HEADERS (one or more files, ':'-separated) matching
# INCLUDE_REGEX (and not EXCLUDE_REGEX), each under one of VERSIONS
# (','-separated: a later version adds calls, never moves them). Symbols
# under the version node PRIVATE are for the library's own programs and
# are left out of the comparison.
set -eu
lib=$1 versions=$(echo "$2" | tr ',' ' ') header=$3 include=$4 exclude=${5:-'^$'} private=${6:-}

expected=$(IFS=:; sed -n 's/^[A-Z]*_API [^(]*[ *]\([A-Za-z_][A-Za-z0-9_]*\)(.*/\1/p' $header |
    grep -E "$include" | grep -Ev "$exclude" | sort)
[ -n "$expected" ] || { echo "no declarations found in $header"; exit 1; }

# Lines look like "0000000000003b40 T login@@KEYWARD_1.0"; each version node
# itself is listed as an absolute symbol.
symbols=$(nm -D --defined-only "$lib" | awk '{print $NF}' | sort)
if [ -n "$private" ]; then
    symbols=$(printf '%s\n' $symbols | grep -v -e "^$private\$" -e "@@$private\$")
fi
for version in $versions; do
    symbols=$(printf '%s\n' $symbols | grep -v "^$version\$")
done

status=0
for s in $symbols; do
    known=0
    for version in $versions; do
        case $s in *"@@$version") known=1 ;; esac
    done
    [ $known -eq 1 ] || { echo "not under $versions: $s"; status=1; }
done
actual=$(printf '%s\n' $symbols | sed 's/@.*//' | sort)
if [ "$actual" != "$expected" ]; then
    echo "exported symbols differ from the header's calls:"
    printf '%s\n' "$expected" > "${TMPDIR:-/tmp}/exports-expected.$$"
    printf '%s\n' "$actual" | diff "${TMPDIR:-/tmp}/exports-expected.$$" - || true
    rm -f "${TMPDIR:-/tmp}/exports-expected.$$"
    status=1
fi
[ $status -eq 0 ] && echo "$(echo "$expected" | wc -l) symbols, all under $versions"
exit $status
