#!/usr/bin/env bash
# A second start of rolvane while the first shows its login window: the
# second copy exits 0 within 2 s and the first copy's window has the focus.
# After the first copy is killed with SIGKILL, a new start runs again.
#
# usage: single_instance.sh ROLVANE KEYWARD bare|openbox
set -euo pipefail

rolvane=$1
keyward=$2
mode=$3
title='登陆 -用户权限管理'
# The program's own language, whose title the windows are looked for by.
export LC_ALL=C.UTF-8

if ! command -v Xvfb >/dev/null 2>&1; then
  echo "SKIP: Xvfb is not installed (scripts/setup.sh installs it)"
  exit 77
fi
for tool in xdotool xmessage xprop ${mode/bare/}; do
  command -v "$tool" >/dev/null 2>&1 || { echo "FAIL: $tool is missing"; exit 1; }
done

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
  echo "windows: $(xdotool search --name '.' getwindowname %@ 2>/dev/null | tr '\n' '|')"
  exit 1
}

# Poll a command for up to $1 seconds.
within() {
  local seconds=$1
  shift
  local end=$((SECONDS + seconds))
  until "$@"; do
    ((SECONDS < end)) || return 1
    sleep 0.1
  done
}

# A private X server on a display it picks itself, and a private session.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
within 10 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(tr -d '[:space:]' <"$work/display")"
unset WAYLAND_DISPLAY XDG_ACTIVATION_TOKEN
export QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
export KEYWARD_DB="$work/keyward.db"
echo "display $DISPLAY, mode $mode"

if [[ $mode == openbox ]]; then
  openbox --sm-disable >"$work/openbox.log" 2>&1 &
  pids+=($!)
  within 10 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' || fail "openbox did not start"
fi

focused() {
  if [[ $mode == openbox ]]; then xdotool getactivewindow 2>/dev/null; else xdotool getwindowfocus 2>/dev/null; fi
}
give_focus() {
  if [[ $mode == openbox ]]; then xdotool windowactivate --sync "$1"; else xdotool windowfocus --sync "$1"; fi
}
login_window() {
  timeout "$1" xdotool search --sync --name "^$title\$" | head -n 1
}

printf 'e2e-Secret-1\n' | "$keyward" init --admin root --password-stdin >/dev/null \
  || fail "keyward init failed"

"$rolvane" >"$work/first.log" 2>&1 &
first=$!
pids+=("$first")
window=$(login_window 20) || true
[[ -n $window ]] || fail "no login window of the first copy: $(cat "$work/first.log")"

# Another window takes the focus, so that getting it back means something.
xmessage -title decoy decoy >/dev/null 2>&1 &
pids+=($!)
decoy=$(timeout 10 xdotool search --sync --name '^decoy$' | head -n 1) || true
[[ -n $decoy ]] || fail "no decoy window"
give_focus "$decoy"
within 5 test "$(focused)" = "$decoy" || fail "the decoy did not get the focus"

started=$(date +%s%N)
rc=0
timeout 10 "$rolvane" >"$work/second.log" 2>&1 || rc=$?
elapsed_ms=$((($(date +%s%N) - started) / 1000000))
echo "second copy: exit $rc after $elapsed_ms ms"
[[ $rc -eq 0 ]] || fail "the second copy exited with $rc: $(cat "$work/second.log")"
((elapsed_ms < 2000)) || fail "the second copy took $elapsed_ms ms"
grep -qx "rolvane: already running as process $first; its login window was brought to the front.*" \
  "$work/second.log" || fail "the second copy did not say which copy it brought forward: $(cat "$work/second.log")"

within 5 test "$(focused)" = "$window" \
  || fail "focus is on $(focused), not on the first copy's login window $window"
kill -0 "$first" 2>/dev/null || fail "the first copy is gone"
count=$(xdotool search --name "^$title\$" | wc -l)
[[ $count -eq 1 ]] || fail "$count login windows instead of one"

# A copy killed without any clean-up leaves nothing that blocks the next start.
{ kill -9 "$first" && wait "$first"; } 2>/dev/null || true
"$rolvane" >"$work/third.log" 2>&1 &
pids+=($!)
within 20 sh -c "xdotool search --name '^$title\$' >/dev/null" \
  || fail "no login window after the first copy was killed: $(cat "$work/third.log")"

echo "PASS"
