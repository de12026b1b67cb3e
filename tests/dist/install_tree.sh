#!/usr/bin/env bash
# The install tree as a packager gets it: every file in its place and nothing
# else, the desktop entry and the AppStream file valid, the manual pages
# clean, and keyward.pc good enough to build a program against the store.
# usage: install_tree.sh BUILD_DIR
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")
[[ -n "$libdir" ]] || libdir=lib

expected=$(sed "s|@LIBDIR@|$libdir|" <<'LIST' | sort
etc/varnock/varnock.conf
usr/@LIBDIR@/libkeyward.so
usr/@LIBDIR@/libkeyward.so.1
usr/@LIBDIR@/libkeyward.so.1.0.0
usr/@LIBDIR@/libsetbank.so
usr/@LIBDIR@/libsetbank.so.1
usr/@LIBDIR@/libsetbank.so.1.0.0
usr/@LIBDIR@/libtrailbook.so
usr/@LIBDIR@/libtrailbook.so.1
usr/@LIBDIR@/libtrailbook.so.1.0.0
usr/@LIBDIR@/pkgconfig/keyward.pc
usr/bin/keyward
usr/bin/rolvane
usr/include/keyward.h
usr/lib/systemd/system/keywardd.service
usr/lib/systemd/system/keywardd.socket
usr/lib/sysusers.d/keyward.conf
usr/lib/tmpfiles.d/keyward.conf
usr/sbin/keywardd
usr/share/applications/org.varnock.rolvane.desktop
usr/share/bash-completion/completions/keyward
usr/share/doc/keyward/changelog.gz
usr/share/doc/keyward/copyright
usr/share/doc/libkeyward-dev/changelog.gz
usr/share/doc/libkeyward-dev/copyright
usr/share/doc/libkeyward1/changelog.gz
usr/share/doc/libkeyward1/copyright
usr/share/doc/libsetbank1/changelog.gz
usr/share/doc/libsetbank1/copyright
usr/share/doc/libtrailbook1/changelog.gz
usr/share/doc/libtrailbook1/copyright
usr/share/doc/rolvane/changelog.gz
usr/share/doc/rolvane/copyright
usr/share/icons/hicolor/16x16/apps/org.varnock.rolvane.png
usr/share/icons/hicolor/256x256/apps/org.varnock.rolvane.png
usr/share/icons/hicolor/32x32/apps/org.varnock.rolvane.png
usr/share/icons/hicolor/48x48/apps/org.varnock.rolvane.png
usr/share/icons/hicolor/scalable/apps/org.varnock.rolvane.svg
usr/share/man/man1/rolvane.1.gz
usr/share/man/man8/keyward.8.gz
usr/share/man/man8/keywardd.8.gz
usr/share/metainfo/org.varnock.rolvane.metainfo.xml
LIST
)
actual=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort)
if [[ "$actual" != "$expected" ]]; then
  echo "install tree differs (-expected +installed):" >&2
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  exit 1
fi

# The libraries carry their SONAMEs; the links point where they should.
for lib in keyward trailbook setbank; do
  so="$root/usr/$libdir/lib$lib.so"
  soname=$(objdump -p "$so.1.0.0" | awk '$1 == "SONAME" { print $2 }')
  [[ "$soname" == "lib$lib.so.1" ]] || { echo "lib$lib: SONAME '$soname'" >&2; exit 1; }
  [[ $(readlink "$so") == "lib$lib.so.1" && $(readlink "$so.1") == "lib$lib.so.1.0.0" ]] ||
    { echo "lib$lib: wrong links" >&2; exit 1; }
done

# The build tree's RUNPATH stays behind: installed, everything is found in
# the system's library folders.
while IFS= read -r elf; do
  [[ $(od -An -tx1 -N4 "$elf") == " 7f 45 4c 46" ]] || continue
  ! readelf -dW "$elf" | grep -E '\((RPATH|RUNPATH)\)' || { echo "${elf#"$root"}: a search path" >&2; exit 1; }
done < <(find "$root" -type f)

# The account service's units are what systemd reads without complaint, and
# its user and folder what systemd makes of the files beside them.
if command -v systemd-analyze >/dev/null; then
  # The service's program is where the package puts it, not on this machine.
  out=$(systemd-analyze verify --man=no "$root/usr/lib/systemd/system/keywardd.socket" \
    "$root/usr/lib/systemd/system/keywardd.service" 2>&1 |
    grep -v 'Command /usr/sbin/keywardd is not executable' || true)
  [[ -z "$out" ]] || { echo "systemd-analyze verify: $out" >&2; exit 1; }
fi
grep -qx 'u varnock - "account service of the motion-control platform" /var/lib/varnock' \
  "$root/usr/lib/sysusers.d/keyward.conf"
grep -qx 'd /var/lib/varnock 0700 varnock varnock -' "$root/usr/lib/tmpfiles.d/keyward.conf"

# Each icon is the size its folder says.
for size in 16 32 48 256; do
  dims=$(file "$root/usr/share/icons/hicolor/${size}x${size}/apps/org.varnock.rolvane.png")
  [[ "$dims" == *"$size x $size"* ]] || { echo "icon $size: $dims" >&2; exit 1; }
done

# English names the program, with the Chinese as its zh_CN translation.
desktop="$root/usr/share/applications/org.varnock.rolvane.desktop"
desktop-file-validate "$desktop"
grep -qx 'Name=User Permission Management' "$desktop"
grep -qx 'Name\[zh_CN\]=用户权限管理' "$desktop"
metainfo="$root/usr/share/metainfo/org.varnock.rolvane.metainfo.xml"
appstreamcli validate --no-net --pedantic "$metainfo" >/dev/null
grep -q '<name>User Permission Management</name>' "$metainfo"
grep -q '<name xml:lang="zh_CN">用户权限管理</name>' "$metainfo"

for page in man1/rolvane.1.gz man8/keyward.8.gz man8/keywardd.8.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$root/usr/share/man/$page" 2>&1 >/dev/null)
  [[ -z "$warnings" ]] || { echo "$page: $warnings" >&2; exit 1; }
done

# Programs of the platform build against the installed store alone, in C++
# and in C (C99, pedantic), and a C program stores and lists a user.
export PKG_CONFIG_PATH="$root/usr/$libdir/pkgconfig"
cat >"$root/probe.cpp" <<'CPP'
#include <keyward.h>
int main() {
    auto* volatile call = &login;  // linked, not called
    return sizeof(UserRecord) == 40 && call != nullptr && KEYWARD_MAX_LIMITS == 32 ? 0 : 1;
}
CPP
cat >"$root/probe.c" <<'C'
#include <keyward.h>
#include <string.h>
int main(void) {
    UserRecord users[1];
    int code = 0;
    setbank_start();
    trailbook_start();
    keyward_start();
    if (add_user("op1", "pw", 2, 5u) != KEYWARD_OK) code = 1;
    else if (get_user_list(NULL) != 1 || get_user_list(users) != 1) code = 2;
    else if (strcmp(users[0].name, "op1") != 0 || users[0].level != 2 || users[0].mask != 5u) code = 3;
    else if (strcmp(g_levelText[users[0].level], "Level_2") != 0) code = 4;
    else if (add_user("op1", "pw", 2, 5u) != ERR_USER_EXISTS) code = 5;
    keyward_stop();
    trailbook_stop();
    setbank_stop();
    return code;
}
C
# shellcheck disable=SC2046
# (-rpath-link: the store's own libraries are not in the system folder here.)
c++ -std=c++20 -o "$root/probe" "$root/probe.cpp" $(pkg-config --cflags --libs keyward) \
  -Wl,-rpath-link,"$root/usr/$libdir"
# shellcheck disable=SC2046
gcc -std=c99 -Wall -Wextra -pedantic -Werror -o "$root/probe_c" "$root/probe.c" \
  $(pkg-config --cflags --libs keyward) -Wl,-rpath-link,"$root/usr/$libdir"
LD_LIBRARY_PATH="$root/usr/$libdir" "$root/probe"
LD_LIBRARY_PATH="$root/usr/$libdir" KEYWARD_DB="$root/probe.db" KEYWARD_HASH_COST=1 \
  SETBANK_SYSTEM_FILE="$root/none.conf" XDG_CONFIG_HOME="$root/config" "$root/probe_c" ||
  { echo "the C program failed with $?" >&2; exit 1; }
echo "install tree ok"
