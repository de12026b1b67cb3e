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

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  # No desktop: serve the window over VNC. Pick the first free port from 5900.
  port=5900
  while (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
    port=$((port + 1))
  done
  export QT_QPA_PLATFORM="vnc:size=1024x768:port=$port"
  cat <<MSG
run: no display (\$DISPLAY and \$WAYLAND_DISPLAY are unset); serving the window over VNC.
  Connect with:   vncviewer 127.0.0.1:$port
  From elsewhere: ssh -L $port:127.0.0.1:$port $(id -un)@$(hostname)   then   vncviewer 127.0.0.1:$port
  Note: Qt's VNC plugin has no option for the listening address; it accepts
  connections on every interface of this machine, without a password.
  Block port $port in a firewall if this machine is reachable from others.
MSG
fi

exec "$program"
