"""The dialog font through fontconfig: Noto Sans CJK SC where it is installed;
under a font configuration holding DejaVu only, one line on stderr and one in
the platform log saying no font shows Chinese.  usage: font_fallback.py PROBE"""

import os
import socket
import subprocess
import sys
import tempfile

WARNING = "no installed font shows Chinese"
failures = []


def run(**env):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", **env)
    return subprocess.run([sys.argv[1]], env=env, capture_output=True, text=True, timeout=60)


with tempfile.TemporaryDirectory() as work:
    log_path = os.path.join(work, "log")
    log = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    log.bind(log_path)
    log.settimeout(0.5)

    done = run(TRAILBOOK_SOCKET=log_path)
    if done.stdout.splitlines() != ["Noto Sans CJK SC"] * 2 or WARNING in done.stderr:
        failures.append(f"with the installed fonts: {done.stdout!r} {done.stderr!r}")

    conf = os.path.join(work, "fonts.conf")
    with open(conf, "w") as f:
        f.write(f"<fontconfig><dir>/usr/share/fonts/truetype/dejavu</dir><cachedir>{work}</cachedir></fontconfig>")
    done = run(FONTCONFIG_FILE=conf, TRAILBOOK_SOCKET=log_path)
    if done.stderr.count(WARNING) != 1 or "CJK" in done.stdout:
        failures.append(f"without a CJK font: {done.stdout!r} {done.stderr!r}")
    lines = []
    try:
        while True:
            lines.append(log.recv(4096).decode(errors="replace"))
    except socket.timeout:
        pass
    if len(lines) != 1 or WARNING not in lines[0] or "varnock" not in lines[0]:
        failures.append(f"platform log: {lines!r}")

print("\n".join(f"FAIL: {f}" for f in failures) or "PASS")
sys.exit(1 if failures else 0)
