#!/usr/bin/env bash
# The build tree's programs and libraries search only folders named in full:
# glibc reads an empty RUNPATH entry (or a relative one) against the working
# directory, where anyone may leave a library.
# usage: runpath.sh BUILD_DIR
set -euo pipefail
build=$1
failures=0
checked=0
while IFS= read -r elf; do
  [[ $(od -An -tx1 -N4 "$elf") == " 7f 45 4c 46" ]] || continue
  checked=$((checked + 1))
  paths=$(readelf -dW "$elf" | sed -n 's/.*(\(RPATH\|RUNPATH\)).*\[\(.*\)\]$/\2/p')
  [[ -n $paths ]] || continue
  IFS=: read -ra entries <<<"$paths:"  # the ':' keeps a trailing empty entry
  for entry in "${entries[@]}"; do
    [[ $entry == /* || $entry == '$ORIGIN'* ]] && continue
    echo "FAIL: ${elf#"$build"/}: entry '$entry' in '$paths'"
    failures=$((failures + 1))
  done
done < <(find "$build" -path "$build/CMakeFiles" -prune -o -type f -perm -u+x -print -o -type f -name '*.so*' -print)
((checked > 0)) || { echo "FAIL: no ELF file in $build"; exit 1; }
((failures == 0)) && echo "runpath ok: $checked ELF files"
exit $((failures > 0))
