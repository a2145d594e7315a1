#!/bin/bash
# qz5ctl's settings commands as a user runs them.
qz5ctl=$1
source "$(dirname "$0")/check.sh"

"$qz5ctl" settings init "$work/default.xml"
check "init writes a file" '[ -s "$work/default.xml" ]'
"$qz5ctl" settings normalize "$work/default.xml" "$work/again.xml"
check "normalize of the defaults is the same file" 'cmp -s "$work/default.xml" "$work/again.xml"'
"$qz5ctl" settings normalize "$work/absent.xml" "$work/fromnothing.xml"
check "normalize of a missing file writes the defaults" 'cmp -s "$work/default.xml" "$work/fromnothing.xml"'
printf 'garbage' > "$work/bad.xml"
"$qz5ctl" settings normalize "$work/bad.xml" "$work/frombad.xml"
check "normalize of a malformed file writes the defaults" 'cmp -s "$work/default.xml" "$work/frombad.xml"'
mkfifo "$work/fifo.xml"
timeout 10 "$qz5ctl" settings normalize "$work/fifo.xml" "$work/fromfifo.xml"
check "normalize of a FIFO returns at once with the defaults" '[ $? -eq 0 ] && cmp -s "$work/default.xml" "$work/fromfifo.xml"'
"$qz5ctl" settings normalize "$work/default.xml" "$work/no/such/dir.xml" 2>/dev/null
check "normalize fails when OUT cannot be written" '[ $? -ne 0 ]'
cat > "$work/custom.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>PROFILE_ID</key><integer>1</integer>
<key>PROFILE_2</key><dict>
  <key>KEY_18</key><integer>1</integer>
  <key>TKEYINFO_1</key><dict><key>FUNCID</key><integer>3</integer><key>LAUNCHPATH</key><string>/usr/bin/calc</string></dict>
  <key>MAPPINGKEYINFO_1</key><dict><key>MAPKEY_KEYCODE</key><integer>123</integer><key>FUNCID</key><integer>1</integer></dict>
  <key>INSTANT_SHIFT</key><dict><key>PREKEY</key><integer>3</integer></dict>
</dict>
</dict></plist>
XML
out=$("$qz5ctl" settings show "$work/custom.xml")
check "show names the current profile" 'grep -q "current profile: 2" <<<"$out"'
check "show names remapped keys" 'grep -q "1 -> A" <<<"$out"'
check "show names launch actions" 'grep -q "T1: launch \"/usr/bin/calc\"" <<<"$out"'
check "show names where mapping keys sit" 'grep -q "M1 on F1: single key A" <<<"$out"'
check "show names instant-shift modifiers" 'grep -q "previous Shift" <<<"$out"'
"$qz5ctl" --help | grep -q "settings normalize"
check "--help prints usage" '[ ${PIPESTATUS[0]} -eq 0 ]'
"$qz5ctl" settings bogus 2>/dev/null
check "wrong arguments exit 2" '[ $? -eq 2 ]'
"$qz5ctl" 2>/dev/null
check "no arguments exit 2" '[ $? -eq 2 ]'
exit $fail
