#!/usr/bin/env bash
# Makes the Debian packages from the build tree and checks them as lintian
# and dpkg see them: no lintian errors, binaries stripped, dependencies
# computed, the program depending on exactly our library packages.
# usage: package.sh BUILD_DIR
set -euo pipefail
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

(cd "$build" && cpack -B "$out" >/dev/null)
mapfile -t debs < <(ls "$out"/*.deb)
names=$(for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Package; done | sort | tr '\n' ' ')
[[ "$names" == "libkeyward-dev libkeyward1 libsetbank1 libtrailbook1 rolvane " ]] ||
  { echo "packages: $names" >&2; exit 1; }

# Errors fail; warnings are printed for people to read.
lintian --no-tag-display-limit --fail-on error "${debs[@]}"

deb() { ls "$out"/"$1"_*.deb; }
depends=$(dpkg-deb -f "$(deb rolvane)" Depends)
for needed in "libkeyward1 (= " "libtrailbook1 (= " "libsetbank1 (= " libqt6widgets6 libc6; do
  [[ "$depends" == *"$needed"* ]] || { echo "rolvane depends on '$depends', lacks $needed" >&2; exit 1; }
done
for needed in libsqlite3-0 "libtrailbook1 (= " "libsetbank1 (= "; do
  [[ $(dpkg-deb -f "$(deb libkeyward1)" Depends) == *"$needed"* ]] ||
    { echo "libkeyward1: no dependency on $needed" >&2; exit 1; }
done
# Loaded only for a store on a server, so invisible to dpkg-shlibdeps.
[[ $(dpkg-deb -f "$(deb libkeyward1)" Recommends) == *libpq5* ]] ||
  { echo "libkeyward1: does not recommend libpq5" >&2; exit 1; }

tree="$out/tree"
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$tree"; done
while IFS= read -r elf; do
  file -b "$elf" | grep -q ', stripped' || { echo "not stripped: $elf" >&2; exit 1; }
done < <(find "$tree" -type f \( -path '*/bin/*' -o -name '*.so.*' \))
echo "packages ok"
