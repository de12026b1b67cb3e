"""The dialog font through fontconfig: Noto Sans CJK SC where it is installed;
with no font that shows Chinese (a configuration holding DejaVu only), one
line on stderr and one in the platform log, and no CJK family claimed.

usage: font_fallback.py FONT_PROBE
"""

import os
import socket
import subprocess
import sys
import tempfile

probe = sys.argv[1]
failures = []


def run(env_extra):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", **env_extra)
    return subprocess.run([probe], env=env, capture_output=True, text=True, timeout=60)


with tempfile.TemporaryDirectory() as work:
    done = run({"TRAILBOOK_SOCKET": os.path.join(work, "none")})
    if done.stdout.splitlines() != ["Noto Sans CJK SC"] * 2 or "font" in done.stderr:
        failures.append(f"installed fonts: {done.stdout!r} {done.stderr!r}")

    conf = os.path.join(work, "fonts.conf")
    with open(conf, "w") as f:
        f.write(
            '<?xml version="1.0"?>\n<!DOCTYPE fontconfig SYSTEM "fonts.dtd">\n<fontconfig>\n'
            "<dir>/usr/share/fonts/truetype/dejavu</dir>\n"
            f"<cachedir>{work}/cache</cachedir>\n</fontconfig>\n"
        )
    log_path = os.path.join(work, "log")
    log = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    log.bind(log_path)
    log.settimeout(0.5)
    done = run({"FONTCONFIG_FILE": conf, "TRAILBOOK_SOCKET": log_path})
    warned = [l for l in done.stderr.splitlines() if "font" in l]
    expected = "no installed font shows Chinese"
    if done.returncode != 0 or len(warned) != 1 or expected not in warned[0]:
        failures.append(f"without a CJK font, stderr: {done.stderr!r}")
    if any(cjk in done.stdout for cjk in ("CJK", "WenQuanYi")):
        failures.append(f"without a CJK font the family is {done.stdout!r}")
    lines = []
    try:
        while True:
            lines.append(log.recv(4096).decode(errors="replace"))
    except socket.timeout:
        pass
    if len(lines) != 1 or expected not in lines[0] or "varnock" not in lines[0]:
        failures.append(f"platform log: {lines!r}")

for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
