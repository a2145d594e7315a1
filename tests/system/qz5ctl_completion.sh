#!/bin/bash
# qz5ctl's bash completion: the completion function run in bash on command
# lines, against the qz5ctl of this build.
qz5ctl=$1 script=$2
source "$(dirname "$0")/check.sh"

# complete WORD...: what completing the last word offers, one a line.
complete() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _qz5ctl
           printf "%s\n" "${COMPREPLY[@]}"' _ "$script" "$qz5ctl" "$@"
}
# expect WANT WORD...: the offers, joined by spaces, are WANT.
expect() {
  local want=$1 got
  shift
  got=$(complete "$@" | paste -sd ' ')
  check "'qz5ctl $*' offers '$want' (got '$got')" '[ "$got" = "$want" ]'
}

touch "$work/profile-2.txt" "$work/macro.txt"
expect "settings status select save set show" s
expect "export import" profile ""
expect "1 2 3" --apply profile import ""
expect "$work/profile-2.txt" profile import 2 "$work/pro"
expect "$work/macro.txt" --file "$work/m"
expect "$work/macro.txt" macro import 1 T3 "$work/m"
expect "T1 T10 T11 T12" macro export 1 t1
expect "profile game light 1 2 3" set ""
expect "M1 M2 M3 M4 M5 M6 M7 M8" set 2 m
# Key names in any case, with their other words; Delete is not offered, as
# set refuses it.
expect "CapsLock" set 2 key caps
expect "Backtick Backspace Backslash" set 2 key back
expect "default Del" set 2 key CapsLock de
expect "Win Windows" set 1 t1 key WIN
expect "none NumLock N" set 1 m1 on n
expect "Escape Esc" set 1 key esc
expect "Enter" set 1 t1 key ent
expect "" set 1 key ent
expect "wasd,arrows" set light zones wasd,a
expect "on" set 1 m2 o
expect "" set 1 t2 o
expect "next previous" set 3 shift ""
expect "on off" game ""
expect "--save --no-wait" apply 2 ""
exit $fail
