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

# No desktop: a private X display served over VNC on 127.0.0.1 only, with a
# password made for this run. (Qt's own VNC platform cannot be told an
# address or a password: it would listen on every interface, open to all.)
bash scripts/setup.sh x11vnc >/dev/null
exec bash scripts/headless.sh "$program"
