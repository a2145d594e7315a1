#!/bin/bash
# Run under qz5-emulator --log LOG: qz5ctl download sends, through libusb, the
# requests qz5ctl requests prints, byte for byte (the transport's own tests
# cover downloads of several data blocks).
set -u
qz5ctl=$1 log=$2 work=$3
mkdir -p "$work"
settings=$work/Setting.xml
cat >"$settings" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>GAME_MODE</key><integer>1</integer>
<key>LIGHT_OPTION</key><dict><key>LIGHT_STYLE</key><integer>2</integer><key>WASDLIGHT</key><integer>1</integer></dict>
<key>PROFILE_2</key><dict>
  <key>KEY_18</key><integer>1</integer>
  <key>TKEYINFO_1</key><dict><key>FUNCID</key><integer>2</integer><key>MACRO</key><dict>
    <key>LENGTH</key><integer>2</integer>
    <key>KEYMAP_1</key><dict><key>KEYCODE</key><integer>255</integer><key>KEYFLAG</key><integer>1000</integer></dict>
    <key>KEYMAP_2</key><dict><key>KEYCODE</key><integer>5</integer><key>KEYFLAG</key><integer>1</integer></dict>
  </dict></dict>
  <key>TKEYINFO_5</key><dict><key>FUNCID</key><integer>3</integer><key>LAUNCHPATH</key><string>/usr/bin/true</string></dict>
</dict>
</dict></plist>
XML
"$qz5ctl" requests "$settings" 2 --save >"$work/expected" || { echo "requests failed"; exit 1; }
"$qz5ctl" download "$settings" 2 --save >"$work/download.out" || { echo "download failed"; exit 1; }
if ! cmp "$log" "$work/expected"; then
  diff <(cut -c1-100 "$work/expected") <(cut -c1-100 "$log") | head -20
  exit 1
fi
echo "ok: $(wc -l <"$log") requests, byte-identical"
