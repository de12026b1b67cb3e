#!/usr/bin/env bash
# Makes the Debian packages from the build tree and checks them as lintian
# and dpkg see them: one package per component, no lintian error or
# warning, binaries stripped, a symbols file that matches each library,
# dependencies computed, the program depending on exactly our library
# packages. A package added to the build is checked without a word here.
# usage: package.sh BUILD_DIR
set -euo pipefail
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

(cd "$build" && cpack -B "$out" >/dev/null)
mapfile -t debs < <(ls "$out"/*.deb)
components=$(sed -n 's/^set(CPACK_COMPONENTS_ALL "\(.*\)")$/\1/p' "$build/CPackConfig.cmake" | tr ';' '\n' | sort)
names=$(for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Package; done | sort)
[[ -n "$names" && "$names" == "$components" ]] ||
  { echo "packages: $(echo $names), components: $(echo $components)" >&2; exit 1; }

# Errors and warnings fail, as do hardening tags of any kind; the rest is
# printed for people to read (lintian has none for these packages today).
report=$(lintian --tag-display-limit 0 --display-info --pedantic "${debs[@]}" 2>&1 |
  grep -v 'running with root privileges' || true)
[[ -z $report ]] || echo "$report"
if grep -Eq '^[EW]: |hardening' <<<"$report"; then
  echo "lintian: errors, warnings or hardening tags above" >&2
  exit 1
fi

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

# Every package with a shared library has a symbols file naming exactly
# what the library exports, each symbol under its version node.
mkdir "$out/raw"
for deb in "${debs[@]}"; do
  package=$(dpkg-deb -f "$deb" Package)
  unpacked="$out/raw/$package"
  dpkg-deb --raw-extract "$deb" "$unpacked"
  [[ -n $(find "$unpacked" -name '*.so.*' -type f -print -quit) ]] || continue
  [[ -f "$unpacked/DEBIAN/symbols" ]] || { echo "$package: no symbols file" >&2; exit 1; }
  (cd "$out" && dpkg-gensymbols -v"$(dpkg-deb -f "$deb" Version)" -p"$package" -P"$unpacked" \
    -I"$unpacked/DEBIAN/symbols" -O/dev/null -c4) || { echo "$package: symbols differ" >&2; exit 1; }
done

tree="$out/tree"
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$tree"; done
while IFS= read -r file; do
  type=$(file -b "$file")
  [[ $type != ELF* || $type == *', stripped'* ]] || { echo "not stripped: $file" >&2; exit 1; }
done < <(find "$tree" -type f)
echo "packages ok"
