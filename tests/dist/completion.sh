#!/usr/bin/env bash
# keyward's bash completion, driven as bash drives it on Tab.
# usage: completion.sh COMPLETION_FILE KEYWARD
set -uo pipefail
source /usr/share/bash-completion/bash_completion
source "$1"
PATH="$(cd "$(dirname "$2")" && pwd):$PATH"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
export KEYWARD_DB="$dir/k.db" KEYWARD_HASH_COST=1
echo pw | keyward init --password-stdin >/dev/null
keyward itemadd edit 编辑 >/dev/null
keyward itemadd 'read only' 只读 >/dev/null
echo pw | keyward useradd 'op one' -l1 --password-stdin >/dev/null
# A name a shell would run, were it expanded.
echo pw | keyward useradd 'a$(touch ran)' -l1 --password-stdin >/dev/null

failures=0
# expect WANT WORD...: completes the command line of the words as bash splits
# it, the cursor at the end of the last word ("" after a space), and compares
# the sorted candidates with WANT.
expect() {
  local want=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  # compopt complains outside a real completion; the candidates are what count
  _keyward keyward "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd'|')
  if [[ "$got" != "$want" ]]; then
    echo "'$COMP_LINE': got '$got', want '$want'" >&2
    failures=$((failures + 1))
  fi
}

expect "useradd|userdel|usermod|users" keyward use
expect "--format" keyward users --f
expect "json|table|tsv" keyward audit --format ""
expect "0|1|2|3|4" keyward useradd x --level ""
expect "sys_limit,edit" keyward useradd x --items sys_limit,e
expect "edit" keyward itemdel e
expect "--help|--items|--level|--rename|--version" keyward usermod root --
expect "help" keyward hel
expect "useradd|userdel|usermod|users" keyward help use
# Names with a space, or anything else the shell would read, come back quoted.
expect 'a\$\(touch\ ran\)|op\ one|root' keyward userdel ""
expect "op\\ one" keyward userdel op
expect "op\\ one" keyward passwd 'op\ o'
expect "op one" keyward usermod "'op"
expect "read\\ only" keyward itemdel r
expect "sys_limit,read\\ only" keyward useradd x --items sys_limit,r
[[ ! -e ran ]] || { echo "completing ran a stored name as a command" >&2; failures=$((failures + 1)); }
exit $((failures > 0))
