#!/bin/bash
# Run under qz5-emulator --log LOG: qz5ctl download sends, through libusb, the
# requests qz5ctl requests prints, byte for byte (the transport's own tests
# cover downloads of several data blocks).
set -u
qz5ctl=$1 log=$2 work=$3
mkdir -p "$work"
settings=$(dirname "$0")/../system/custom-Setting.xml
"$qz5ctl" requests "$settings" 2 --save >"$work/expected" || { echo "requests failed"; exit 1; }
"$qz5ctl" download "$settings" 2 --save >"$work/download.out" || { echo "download failed"; exit 1; }
if ! cmp "$log" "$work/expected"; then
  diff <(cut -c1-100 "$work/expected") <(cut -c1-100 "$log") | head -20
  exit 1
fi
echo "ok: $(wc -l <"$log") requests, byte-identical"
