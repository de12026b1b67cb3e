#!/usr/bin/env bash
# Every ELF file the build installs, and so every one a package ships, is
# hardened as Debian builds packages: position independent, full RELRO
# (read-only relocations bound at start), the stack protector, fortified
# libc calls and, on x86, control-flow protection.
# usage: hardening.sh BUILD_DIR
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null

# The libc functions with a checked variant (__fgets_chk for fgets ...),
# but for those that are nearly always called on sizes known only at run
# time, as lintian and hardening-check leave them out too.
libc=$(gcc -print-file-name=libc.so.6)
fortifiable=$(nm -D --defined-only "$libc" | sed -n 's/^.* [Ti] __\(.*\)_chk@.*$/\1/p' |
  grep -Evx 'w?mem(cpy|move|set)' | sort -u)

failures=0
fail() {
  echo "FAIL: ${elf#"$root"/}: $*"
  failures=$((failures + 1))
}

# Whether the function starts with the landing pad -fcf-protection puts
# where an indirect call may arrive.
lands() {
  local code
  code=$(objdump -d --no-show-raw-insn --disassemble="$2" "$1")
  grep -A1 "<$2>:" <<<"$code" | grep -q endbr64
}

checked=0
while IFS= read -r elf; do
  [[ $(od -An -tx1 -N4 "$elf") == " 7f 45 4c 46" ]] || continue
  checked=$((checked + 1))
  header=$(readelf -hW "$elf")
  segments=$(readelf -lW "$elf")
  dynamic=$(readelf -dW "$elf")
  imports=$(nm -D --undefined-only "$elf" | awk '{ sub(/@.*/, "", $2); print $2 }')
  program=false
  grep -q ' INTERP ' <<<"$segments" && program=true

  if $program; then
    grep -q 'Type: *DYN' <<<"$header" && grep -Eq 'FLAGS_1.* PIE' <<<"$dynamic" ||
      fail "not a position-independent executable"
  fi
  grep -q ' GNU_RELRO ' <<<"$segments" || fail "no RELRO segment"
  grep -Eq '\(FLAGS\).*BIND_NOW|\(FLAGS_1\).* NOW' <<<"$dynamic" || fail "not BIND_NOW"
  grep -qx '__stack_chk_fail' <<<"$imports" || fail "no stack protector"
  if ! grep -Eq '^__.*_chk$' <<<"$imports"; then
    plain=$(comm -12 <(sort -u <<<"$imports") <(echo "$fortifiable") | paste -sd' ')
    [[ -z $plain ]] || fail "no fortified calls, but $plain"
  fi
  if [[ $(uname -m) == x86_64 ]]; then
    if $program; then
      entry=main
    else
      exports=$(nm -D --defined-only "$elf")
      entry=$(awk '$2 == "T" { sub(/@.*/, "", $3); print $3; exit }' <<<"$exports")
    fi
    [[ -z $entry ]] || lands "$elf" "$entry" || fail "$entry has no endbr64 (-fcf-protection)"
  fi
done < <(find "$root" -type f)

((checked > 0)) || { echo "FAIL: no ELF file installed"; exit 1; }
((failures == 0)) && echo "hardening ok: $checked ELF files"
exit $((failures > 0))
