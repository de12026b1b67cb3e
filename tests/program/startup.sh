#!/usr/bin/env bash
# Start-up without a usable display, and the options answered before one is
# needed: one line and exit 1 (never Qt's abort), or the answer and exit 0.
# The line points to scripts/run.sh only where there is one: when the
# program runs from the build tree of a checkout.
#
# usage: startup.sh ROLVANE VERSION
set -uo pipefail

rolvane=$1
version=$2
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

# check WHAT RC PATTERN LINES COMMAND...: COMMAND (env assignments first) exits
# with RC and prints a line matching PATTERN, in LINES lines when given.
check() {
  local what=$1 want_rc=$2 pattern=$3 lines=$4
  shift 4
  local out rc
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$work" "$@" 2>&1)
  rc=$?
  [[ $rc -eq $want_rc ]] || fail "$what: exit $rc, not $want_rc: $out"
  grep -Eq -- "$pattern" <<<"$out" || fail "$what: no line matching '$pattern' in: $out"
  [[ -z $lines || $(grep -c . <<<"$out") -eq $lines ]] || fail "$what: not $lines line(s): $out"
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run_sh=$(cd "$(dirname "$0")/../.." && pwd)/scripts/run.sh
advice="set DISPLAY \(X11\) or WAYLAND_DISPLAY \(Wayland\) to a running desktop, or start it with ${run_sh//./\\.}, which serves the window over VNC"
check "no display" 1 "^rolvane: no display: DISPLAY and WAYLAND_DISPLAY are unset; $advice" 1 \
  "$rolvane"
check "an X display nobody serves" 1 "^rolvane: cannot open the display \(DISPLAY=:7391\); $advice" 1 \
  DISPLAY=:7391 "$rolvane"
check "the X platform asked for, no display" 1 "^rolvane: no display" 1 \
  QT_QPA_PLATFORM=xcb "$rolvane"
check "a Wayland display without Qt's plugin for it" 1 \
  "^rolvane: Qt's platform plugin \"wayland-none\" is not installed .*qt6-wayland.*; $advice" 1 \
  WAYLAND_DISPLAY=wayland-7391 QT_QPA_PLATFORM=wayland-none "$rolvane"
# Elsewhere (installed, or copied out of the build tree; its RUNPATH still
# finds the build's libraries) no script is named; nor from a build tree
# whose checkout has none.
installed='set DISPLAY \(X11\) or WAYLAND_DISPLAY \(Wayland\) to a running desktop, or start it from one \(from another machine: ssh -X\)$'
mkdir -p "$work/usr/bin" "$work/build/app" "$work/source"
cp "$rolvane" "$work/usr/bin/rolvane"
cp "$rolvane" "$work/build/app/rolvane"
printf 'CMAKE_HOME_DIRECTORY:INTERNAL=%s\n' "$work/source" >"$work/build/CMakeCache.txt"
for copy in "$work/usr/bin/rolvane" "$work/build/app/rolvane"; do
  check "no display, $copy" 1 "^rolvane: no display: DISPLAY and WAYLAND_DISPLAY are unset; $installed" 1 \
    "$copy"
done

check "--version" 0 "^rolvane $version\$" 1 "$rolvane" --version
check "--help" 0 "^Usage: rolvane \[--help \| --version\]" "" "$rolvane" --help
check "--help names the about box's key" 0 "Alt\+-" "" "$rolvane" --help
check "--help says how to ask for English" 0 "LANG=en_US.UTF-8" "" "$rolvane" --help

((failed == 0)) && echo PASS
exit $failed
