#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, run and test rolvane.
# Installs only what dpkg reports missing, so a second run does nothing.
# Further packages may be named as arguments (run.sh asks for its VNC server).
set -euo pipefail

packages=(
  build-essential cmake pkg-config git clang-format
  qt6-base-dev qt6-base-dev-tools
  qt6-qpa-plugins      # the vnc platform plugin (offscreen and xcb ship with libqt6gui6)
  libqt6gui6
  libsqlite3-dev libcrypt-dev libgcrypt20-dev libinih-dev
  # the store on a server, and the throwaway server its tests start
  libpq-dev postgresql-15 postgresql-common
  libgtest-dev googletest libbenchmark-dev
  libxcb1-dev libpng-dev
  fonts-noto-cjk fonts-dejavu-core   # Noto: Debian's Chinese default; DejaVu: stable test metrics
  fonts-wqy-zenhei fonts-wqy-microhei  # the other CJK fonts a desktop may have: texts must fit in them too
  gettext              # msgfmt: the English catalog, checked and compiled at build time
  qt6-wayland          # Wayland-only sessions
  qt6-translations-l10n  # Qt's own texts (an edit's context menu) in Chinese
  libx11-dev           # the start-up benchmark's window timer
  # end-to-end checks on a real X server
  xvfb xdotool openbox x11-utils imagemagick
  weston               # a headless Wayland-only session
  # ... read through the accessibility bus, from Debian's python3
  dbus-bin dbus-daemon at-spi2-core python3 python3-pyatspi
  # the headless session and its test
  x11vnc xauth openssl python3
  # the store's sanitizer builds and its libFuzzer target (scripts/sanitize.sh)
  clang libclang-rt-14-dev
  # packages and their checks: CPack's dpkg-shlibdeps and file, lintian,
  # the desktop entry, AppStream and manual page validators
  dpkg-dev file lintian desktop-file-utils appstream man-db bash-completion
  "$@"
)

missing=()
for pkg in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done

if ((${#missing[@]} == 0)); then
  echo "setup: all packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
if [[ $(id -u) -eq 0 ]]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "setup: not root and no sudo; please install these packages: ${missing[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y --no-install-recommends "${missing[@]}"
