#!/usr/bin/env bash
# A Wayland-only session (a headless weston, no X display): the program shows
# its login window there, under the desktop entry's name as its app id, and
# a second start finds and names it.
# usage: wayland_only.sh ROLVANE KEYWARD DESKTOP_ENTRY
set -euo pipefail
rolvane=$1
keyward=$2
app_id=$(basename "$3" .desktop)
command -v weston >/dev/null 2>&1 || { echo "SKIP: weston is not installed (scripts/setup.sh)"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

work=$(mktemp -d)
pids=()
trap 'kill -9 "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
unset DISPLAY QT_QPA_PLATFORM XDG_ACTIVATION_TOKEN
export XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
export KEYWARD_DB="$work/keyward.db" WAYLAND_DISPLAY=wayland-e2e
mkdir -m 0700 "$XDG_RUNTIME_DIR"

weston --backend=headless-backend.so --socket="$WAYLAND_DISPLAY" --idle-time=0 >"$work/weston.log" 2>&1 &
pids+=($!)
printf 'e2e-Secret-1\n' | "$keyward" init --admin root --password-stdin >/dev/null || fail "keyward init"
for _ in $(seq 100); do [[ -S $XDG_RUNTIME_DIR/$WAYLAND_DISPLAY ]] && break; sleep 0.1; done
# The client's side of the protocol goes to its log.
WAYLAND_DEBUG=client "$rolvane" >"$work/first.log" 2>&1 &
first=$!
pids+=("$first")

# Only once the first copy holds the session (its socket is up) is a second
# start a second copy; before that, the later start may win the lock itself.
for _ in $(seq 200); do
  compgen -G "$XDG_RUNTIME_DIR/*.sock" >/dev/null && break
  kill -0 "$first" 2>/dev/null || fail "the first copy ended: $(cat "$work/first.log" "$work/weston.log")"
  sleep 0.1
done
compgen -G "$XDG_RUNTIME_DIR/*.sock" >/dev/null || fail "the first copy never held the session"

# A second start finds the first one's login window once it shows.
for _ in $(seq 40); do
  kill -0 "$first" 2>/dev/null || fail "the first copy ended: $(cat "$work/first.log" "$work/weston.log")"
  rc=0
  out=$(timeout 10 "$rolvane" 2>&1) || rc=$?
  ((rc == 0)) || fail "the second copy exited with $rc: $out"
  [[ $out == *"login window was brought"* ]] && break
  sleep 0.5
done
[[ $out == "rolvane: already running as process $first; its login window"* ]] || fail "second copy: $out"
grep -q "set_app_id(\"$app_id\")" "$work/first.log" ||
  fail "no app id $app_id: $(grep -m3 set_app_id "$work/first.log")"
echo PASS
