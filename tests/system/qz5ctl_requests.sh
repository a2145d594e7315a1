#!/bin/bash
# qz5ctl requests: the control requests of a full download, printed.
qz5ctl=$1
source "$(dirname "$0")/check.sh"

"$qz5ctl" settings init "$work/default.xml"
"$qz5ctl" requests "$work/default.xml" 2 --save >"$work/out" 2>"$work/err"
check "exit 0, nothing on stderr" '[ $? -eq 0 ] && [ ! -s "$work/err" ]'
matrix="1d1eccb0e6b3cded0620ceb4b5cfe4d0093a3ed1e2d2d3d4283b3fd5d6e1d700290e13f1f2f3e0b72c2187e3b48b8a88043d12c6c99190e72b35401c4d243353162d41182f254911072e420c302634641a2a44464a4c0b37080f4547484b3238140d438931274e36650a52055f5c593919225450605d5a6215235561515e5b63173c5657854f58101b1fecb1ebe5b6b200000000000000000000000000000000"
cat >"$work/expected" <<EOT
40 18 00 00 02 00 a0 00 : $matrix
40 10 00 00 02 00 69 00 : 140069$(printf '0%.0s' {1..204})
40 12 00 00 02 00 00 00
40 16 00 00 02 00 3f 00 : 1400010101020103010401050106010701080109010a010b0100010001000100010001000100010001$(printf '0%.0s' {1..44})
40 31 00 00 80 00 00 00
40 31 00 00 81 00 00 00
40 31 00 00 82 00 00 00
40 31 00 00 83 00 00 00
40 02 01 00 00 00 00 00
40 1a 00 00 00 00 00 00
40 03 00 00 00 00 00 00
EOT
check "factory defaults give exactly these requests, and only them" 'diff "$work/expected" "$work/out"'

"$qz5ctl" requests "$work/default.xml" 2 >"$work/out"
check "without --save, all but the save" 'head -n -1 "$work/expected" | diff - "$work/out"'
# A file's remap, macro (then a launch and a mapping key) and game mode.
out=$("$qz5ctl" requests "$(dirname "$0")/custom-Setting.xml" 2)
for want in "40 18 00 00 02 00 a0 00 : 1d04" "40 12 00 00 02 00 18 00 : 8703e8840b0184e30184060184060084e30086000105fd04" \
            "40 02 03 00 00 00 00 00"; do
  check "the file's '${want:0:40}...'" 'grep -q "^$want" <<<"$out"'
done

for bad in 0 4 x ""; do
  "$qz5ctl" requests "$work/default.xml" "$bad" >/dev/null 2>&1
  check "profile '$bad' is a usage error" '[ $? -eq 2 ]'
done
"$qz5ctl" requests "$work/default.xml" 1 --bogus >/dev/null 2>&1
check "unknown option is a usage error" '[ $? -eq 2 ]'
exit $fail
