#!/usr/bin/env bash
# A Wayland-only session (a headless weston, no X display): the program
# opens its login window there, and a second start finds that window and
# says which copy it brought forward.
#
# usage: wayland_only.sh ROLVANE KEYWARD
set -euo pipefail

rolvane=$1
keyward=$2

if ! command -v weston >/dev/null 2>&1; then
  echo "SKIP: weston is not installed (scripts/setup.sh installs it)"
  exit 77
fi

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

unset DISPLAY QT_QPA_PLATFORM XDG_ACTIVATION_TOKEN
export XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
export KEYWARD_DB="$work/keyward.db" WAYLAND_DISPLAY=wayland-e2e
mkdir -m 0700 "$XDG_RUNTIME_DIR"

weston --backend=headless-backend.so --socket="$WAYLAND_DISPLAY" --idle-time=0 \
  >"$work/weston.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [[ -S $XDG_RUNTIME_DIR/$WAYLAND_DISPLAY ]] && break
  sleep 0.1
done
[[ -S $XDG_RUNTIME_DIR/$WAYLAND_DISPLAY ]] || fail "weston did not start: $(tail -5 "$work/weston.log")"

printf 'e2e-Secret-1\n' | "$keyward" init --admin root --password-stdin >/dev/null \
  || fail "keyward init failed"
"$rolvane" >"$work/first.log" 2>&1 &
first=$!
pids+=("$first")

# The second copy finds the first one's login window once it is shown.
for _ in $(seq 40); do
  kill -0 "$first" 2>/dev/null || fail "the first copy ended: $(cat "$work/first.log")"
  out=$(timeout 10 "$rolvane" 2>&1) || fail "the second copy failed: $out"
  [[ $out == *"login window was brought to the front"* ]] && break
  sleep 0.5
done
[[ $out == "rolvane: already running as process $first; its login window"* ]] \
  || fail "the second copy said: $out"
echo PASS
