#!/usr/bin/env bash
# The headless session is private: the X display takes only clients with the
# run's cookie, and the VNC server refuses a viewer without the one-time
# password it printed, offering no way in without one.
#
# usage: headless_vnc.sh HEADLESS_SCRIPT
set -euo pipefail

headless=$1
for tool in Xvfb x11vnc xauth mcookie xdpyinfo openssl python3; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (scripts/setup.sh installs it)"
    exit 77
  fi
done

work=$(mktemp -d)
session=""
cleanup() {
  [[ -n "$session" ]] && kill -- -"$session" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  cat "$work/out" 2>/dev/null || true
  exit 1
}

# The program stands in for rolvane: it reports what it was given and waits.
env -u DISPLAY -u WAYLAND_DISPLAY XDG_RUNTIME_DIR="$work" setsid bash "$headless" \
  bash -c 'echo "program $DISPLAY $XAUTHORITY"; exec sleep 60' >"$work/out" 2>&1 &
session=$!
for _ in $(seq 150); do
  grep -q '^program ' "$work/out" 2>/dev/null && break
  sleep 0.1
done
grep -q '^program ' "$work/out" || fail "the session did not start"
port=$(sed -n 's/^  port \([0-9]*\)$/\1/p' "$work/out")
password=$(sed -n 's/^  password \([A-Za-z0-9]*\)$/\1/p' "$work/out")
read -r _ display xauthority < <(grep '^program ' "$work/out")
[[ -n "$port" && ${#password} -eq 8 ]] || fail "no port or password printed"

runtime=$(dirname "$xauthority")
[[ $(stat -c %a "$runtime") == 700 ]] || fail "runtime folder $runtime is not 0700"
[[ ! -e "$runtime/vncpass" ]] || fail "the password file was left behind"

DISPLAY=$display XAUTHORITY=$xauthority xdpyinfo >/dev/null 2>&1 ||
  fail "a client with the cookie cannot connect"
if DISPLAY=$display XAUTHORITY=/dev/null xdpyinfo >/dev/null 2>&1; then
  fail "a client without the cookie can connect to $display"
fi

# A viewer speaking RFB 3.8: the offered security types, then the answer to
# a response made with PASSWORD (empty: a wrong one).
vnc() {
  python3 - "$port" "$1" <<'PY'
import socket, subprocess, sys
port, password = int(sys.argv[1]), sys.argv[2]
s = socket.create_connection(("127.0.0.1", port), timeout=10)
def take(n):
    data = b""
    while len(data) < n:
        chunk = s.recv(n - len(data))
        if not chunk:
            raise SystemExit("closed")
        data += chunk
    return data
take(12)
s.sendall(b"RFB 003.008\n")
types = list(take(take(1)[0]))
print("types", *types)
if 2 not in types:
    raise SystemExit(0)
s.sendall(b"\x02")
challenge = take(16)
# VNC's DES key is the password with each byte's bits reversed.
key = bytes(int(f"{b:08b}"[::-1], 2) for b in password.encode().ljust(8, b"\0")[:8])
response = b"\0" * 16
if password:
    response = subprocess.run(
        ["openssl", "enc", "-des-ecb", "-nopad", "-K", key.hex(),
         "-provider", "legacy", "-provider", "default"],
        input=challenge, capture_output=True, check=True).stdout
s.sendall(response)
print("result", int.from_bytes(take(4), "big"))
PY
}

answer=$(vnc "") || fail "no VNC answer: $answer"
[[ $(head -1 <<<"$answer") == "types 2" ]] || fail "security types offered: $answer"
[[ $(tail -1 <<<"$answer") == "result 1" ]] || fail "a wrong password was taken: $answer"
# x11vnc delays a client after a failed attempt.
sleep 2
answer=$(vnc "$password") || fail "no VNC answer: $answer"
[[ $(tail -1 <<<"$answer") == "result 0" ]] || fail "the printed password was refused: $answer"

kill -- -"$session"
wait "$session" 2>/dev/null || true
session=""
for _ in $(seq 50); do
  [[ ! -e "$runtime" ]] && break
  sleep 0.1
done
[[ ! -e "$runtime" ]] || fail "runtime folder $runtime left behind"
echo "ok: cookie and one-time password required"
