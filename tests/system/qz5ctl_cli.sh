#!/bin/bash
# qz5ctl's settings commands as a user runs them.
qz5ctl=$1
source "$(dirname "$0")/check.sh"

"$qz5ctl" settings init "$work/default.xml"
check "init writes a file" '[ -s "$work/default.xml" ]'
# The defaults come back unchanged; what cannot be read (missing, malformed,
# a FIFO with no writer) gives the defaults at once.
printf 'garbage' >"$work/malformed.xml"
mkfifo "$work/fifo.xml"
for in in default absent malformed fifo; do
  timeout 10 "$qz5ctl" settings normalize "$work/$in.xml" "$work/from-$in.xml"
  check "normalize of $in.xml writes the defaults" '[ $? -eq 0 ] && cmp -s "$work/default.xml" "$work/from-$in.xml"'
done
"$qz5ctl" settings normalize "$work/default.xml" "$work/no/such/dir.xml" 2>/dev/null
check "normalize fails when OUT cannot be written" '[ $? -ne 0 ]'
out=$("$qz5ctl" settings show "$(dirname "$0")/custom-Setting.xml")
# The current profile, a remapped key, a macro, a launch action, where a
# mapping key sits, an instant-shift modifier.
for want in "profile 2" "2 key 1 A" "2 T1 macro  # 3 steps" '2 T5 launch "/usr/bin/calc"' "2 M1 on F1 key A" \
            "previous Shift"; do
  check "show prints '$want'" 'grep -qF "$want" <<<"$out"'
done
help=$("$qz5ctl" --help)
check "--help exits 0 and names every command" \
  '[ $? -eq 0 ] && grep -q "settings normalize" <<<"$help" && grep -q "requests FILE PROFILE" <<<"$help"'
# Usage errors are found before anything is sent: exit 2, with no session bus to send on.
for args in "settings bogus" "settings init" "bogus" "" "apply" "apply 0" "apply 4" "apply 1 --bogus" "select x" \
            "game maybe" "osd 0xZZ" "osd" "lighting 1" "status --timeout -1" "monitor --count 0"; do
  err=$(env -u DBUS_SESSION_BUS_ADDRESS "$qz5ctl" $args 2>&1 >/dev/null)
  check "'qz5ctl $args' is a usage error (exit 2)" '[ $? -eq 2 ] && [[ $err == "qz5ctl: "* ]]'
done
exit $fail
