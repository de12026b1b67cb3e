#!/usr/bin/env bash
# Runs PROGRAM [ARGS...] on a private X display served over VNC, for a
# machine without a desktop. Only the one who started it can get in:
#   - the X server takes clients with this run's auth cookie only; the
#     cookie lives in a fresh 0700 folder that is removed at the end;
#   - the VNC server listens on 127.0.0.1 only, asks for a one-time password
#     made for this run (shown on this terminal, nowhere else) and serves
#     one viewer at a time.
# Prints "port PORT" and "password PASSWORD" lines among its instructions.
set -euo pipefail

if (($# == 0)); then
  echo "usage: headless.sh PROGRAM [ARGS...]" >&2
  exit 2
fi
for tool in Xvfb x11vnc xauth mcookie; do
  command -v "$tool" >/dev/null 2>&1 || { echo "headless: $tool is missing (scripts/setup.sh x11vnc)" >&2; exit 1; }
done

runtime=$(mktemp -d "${XDG_RUNTIME_DIR:-/tmp}/rolvane-display.XXXXXX")  # 0700
chmod 0700 "$runtime"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$runtime"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# The server reads every cookie in its file; clients find theirs by display
# number, added once the server has picked one.
export XAUTHORITY=$runtime/Xauthority
cookie=$(mcookie)
(umask 077 && xauth -q -f "$XAUTHORITY" add :0 . "$cookie")
Xvfb -displayfd 3 -auth "$XAUTHORITY" -nolisten tcp -screen 0 1280x900x24 \
  3>"$runtime/display" 2>"$runtime/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do
  [[ -s "$runtime/display" ]] && break
  sleep 0.1
done
display=$(tr -dc 0-9 <"$runtime/display")
if [[ -z "$display" ]]; then
  echo "headless: the X server did not start:" >&2
  cat "$runtime/xvfb.log" >&2
  exit 1
fi
xauth -q -f "$XAUTHORITY" add ":$display" . "$cookie"
export DISPLAY=:$display

# A small window manager: title bars, the close box and focus as on a desktop.
if command -v openbox >/dev/null 2>&1; then
  openbox >/dev/null 2>&1 &
  pids+=($!)
fi

# VNC passwords are 8 characters (the protocol's DES key): 62^8 guesses.
password=$(LC_ALL=C tr -dc 'A-Za-z0-9' </dev/urandom | head -c 8 || true)
(umask 077 && printf '%s\n' "$password" >"$runtime/vncpass")
# x11vnc picks the first free port from 5900 and reports it as PORT=N; it
# removes the password file once read (rm:).
x11vnc -display "$DISPLAY" -auth "$XAUTHORITY" -localhost -forever -quiet \
  -passwdfile "rm:$runtime/vncpass" >"$runtime/x11vnc.out" 2>"$runtime/x11vnc.log" &
pids+=($!)
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/^PORT=\([0-9]*\)$/\1/p' "$runtime/x11vnc.out")
  [[ -n "$port" ]] && break
  sleep 0.1
done
if [[ -z "$port" ]]; then
  echo "headless: the VNC server did not start:" >&2
  cat "$runtime/x11vnc.log" >&2
  exit 1
fi

cat <<MSG
headless: no display (\$DISPLAY and \$WAYLAND_DISPLAY are unset); serving the
  window over VNC on 127.0.0.1 only, one viewer at a time.
  port $port
  password $password
  (made for this run only; anyone without it is refused)
  Connect on this machine:  vncviewer 127.0.0.1:$port
  From another machine:     ssh -L $port:127.0.0.1:$port $(id -un)@$(hostname)
                            then vncviewer 127.0.0.1:$port there
MSG
"$@"
