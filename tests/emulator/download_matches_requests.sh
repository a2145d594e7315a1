#!/bin/bash
# Run under qz5-emulator --log LOG: a full download sent for real through
# libusb reaches the keyboard exactly as qz5ctl requests prints it, for a
# profile whose macros fill several data blocks.
set -u
qz5ctl=$1 log=$2 work=$3
mkdir -p "$work"
settings=$work/Setting.xml

# Profile 2: three long macros (delays, key events, built-in actions), a
# launch key, a single key, a mapping key on F1, remaps, lighting, game mode.
/usr/bin/python3 - "$settings" <<'PY'
import plistlib, sys
def key(funcid=0, steps=(), single=0, mapkey=0, path="", repeat=0):
    macro = {"MACRONAME": "m", "LENGTH": len(steps), "REPEAT_OPTION": repeat, "REPEAT_TIMES": 1}
    for i, (code, flag) in enumerate(steps):
        macro["KEYMAP_%d" % (i + 1)] = {"KEYCODE": code, "KEYFLAG": flag}
    return {"FUNCID": funcid, "LAUNCHPATH": path, "SINGLE_KEYCODE": single,
            "MAPKEY_KEYCODE": mapkey, "MACRO": macro}
profile = {"KEY_%d" % (k + 1): 0 for k in range(160)}
profile["KEY_18"] = 1
profile["KEY_29"] = 0x7B
for t in range(12):
    profile["TKEYINFO_%d" % (t + 1)] = key()
steps = [((i % 120) + 1, i % 2) if i % 7 else (255, 1000 + i) for i in range(1100)]
steps += [(208 + i % 17, 0) for i in range(300)]
profile["TKEYINFO_1"] = key(2, steps, repeat=2)
profile["TKEYINFO_2"] = key(2, steps[:900], repeat=3)
profile["TKEYINFO_5"] = key(3, path="/usr/bin/true")
profile["TKEYINFO_6"] = key(1, single=0x31)
for m in range(8):
    profile["MAPPINGKEYINFO_%d" % (m + 1)] = key()
profile["MAPPINGKEYINFO_1"] = key(2, steps[:1000], mapkey=0x7B)
profile["INSTANT_SHIFT"] = {"PREKEY": 3, "NEXTKEY": 1}
root = {"PROFILE_ID": 0, "GAME_MODE": 1,
        "LIGHT_OPTION": {"LIGHT_STYLE": 2, "WASDLIGHT": 1, "DIRECTLIGHT": 0, "NUMBERLIGHT": 1, "PELLFLAGLIGHT": 1},
        "PROFILE_2": profile}
with open(sys.argv[1], "wb") as f:
    plistlib.dump(root, f)
PY

"$qz5ctl" requests "$settings" 2 --save >"$work/expected" || { echo "requests failed"; exit 1; }
blocks=$(grep -c '^40 12 ' "$work/expected")
[ "$blocks" -ge 3 ] || { echo "the macros fill only $blocks data blocks"; exit 1; }
"$qz5ctl" download "$settings" 2 --save >"$work/download.out" || { echo "download failed"; exit 1; }
if ! cmp "$log" "$work/expected"; then
  diff <(cut -c1-100 "$work/expected") <(cut -c1-100 "$log") | head -20
  exit 1
fi
echo "ok: $(wc -l <"$log") requests, $blocks data blocks, byte-identical"
