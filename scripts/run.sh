#!/usr/bin/env bash
# Installs what is missing, builds, and starts rolvane on the default account
# store ($KEYWARD_DB if set, else $XDG_DATA_HOME/varnock/keyward.db, else
# ~/.local/share/varnock/keyward.db). An empty store gets its first
# administrator first, asked for in this terminal.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/build.sh

program=build/app/rolvane
keyward=build/platform/keyward/cli/keyward
for binary in "$program" "$keyward"; do
  if [[ ! -x "$binary" ]]; then
    echo "run: $binary was not built" >&2
    exit 1
  fi
done

# `keyward users` prints a header line and one line per user, and fails when
# there is no database yet; either way without users the store needs its
# first administrator (init refuses once users exist).
user_count=0
if listing=$("$keyward" users 2>/dev/null); then
  user_count=$(tail -n +2 <<<"$listing" | grep -c . || true)
fi
if [[ "$user_count" -eq 0 ]]; then
  if [[ ! -t 0 ]]; then
    echo "run: the account store has no users; run '$keyward init --admin NAME' in a terminal first" >&2
    exit 1
  fi
  echo "The account store has no users yet: create the first administrator."
  read -r -p "Administrator name [root]: " admin
  "$keyward" init --admin "${admin:-root}"  # asks for the password twice
fi

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  exec "$program"
fi

# No desktop: a private X display served over VNC on 127.0.0.1 only. (Qt's
# own VNC platform cannot be told an address: it would listen on every
# interface, without a password.)
bash scripts/setup.sh x11vnc >/dev/null
display=99
while [[ -e "/tmp/.X11-unix/X$display" || -e "/tmp/.X$display-lock" ]]; do
  display=$((display + 1))
done
port=5900
while (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
  port=$((port + 1))
done
Xvfb ":$display" -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
x11vnc_pid=""
wm_pid=""
trap 'kill $wm_pid $x11vnc_pid $xvfb_pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  [[ -e "/tmp/.X11-unix/X$display" ]] && break
  sleep 0.1
done
# A small window manager: title bars, the close box and focus as on a desktop.
DISPLAY=":$display" openbox >/dev/null 2>&1 &
wm_pid=$!
x11vnc -display ":$display" -localhost -rfbport "$port" -forever -shared -nopw -quiet \
  >/dev/null 2>&1 &
x11vnc_pid=$!
cat <<MSG
run: no display (\$DISPLAY and \$WAYLAND_DISPLAY are unset); serving the window over VNC
  on 127.0.0.1:$port only.
  Connect on this machine:  vncviewer 127.0.0.1:$port
  From another machine:     ssh -L $port:127.0.0.1:$port $(id -un)@$(hostname)
                            then vncviewer 127.0.0.1:$port there
MSG
DISPLAY=":$display" "$program"
