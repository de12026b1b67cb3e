#!/usr/bin/env bash
# keyward's bash completion, driven as bash drives it on Tab.
# usage: completion.sh COMPLETION_FILE KEYWARD
set -uo pipefail
source /usr/share/bash-completion/bash_completion
source "$1"
PATH="$(dirname "$2"):$PATH"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export KEYWARD_DB="$dir/k.db" KEYWARD_HASH_COST=1
echo pw | keyward init --password-stdin >/dev/null
keyward itemadd edit 编辑 >/dev/null
echo pw | keyward useradd 'op one' -l1 --password-stdin >/dev/null

failures=0
# Completes LINE (the cursor at its end) and compares the sorted candidates.
expect() {
  local line=$1 want=$2
  COMP_LINE=$line
  COMP_POINT=${#line}
  read -ra COMP_WORDS <<<"$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  # compopt complains outside a real completion; the candidates are what count
  _keyward keyward "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd'|')
  if [[ "$got" != "$want" ]]; then
    echo "'$line': got '$got', want '$want'" >&2
    failures=$((failures + 1))
  fi
}

expect "keyward use" "useradd|userdel|usermod|users"
expect "keyward users --f" "--format"
expect "keyward audit --format " "json|table|tsv"
expect "keyward useradd x --level " "0|1|2|3|4"
expect "keyward useradd x --items sys_limit,e" "sys_limit,edit"
expect "keyward userdel " "op one|root"
expect "keyward itemdel e" "edit"
expect "keyward usermod root --" "--help|--items|--level|--rename|--version"
exit $((failures > 0))
