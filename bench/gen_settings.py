#!/usr/bin/python3
"""Writes settings files for the load benchmark.

  gen_settings.py typical OUT   a typical file: factory key tables, a few
                                macros of 10-50 steps, a launch key (~70 KB)
  gen_settings.py largest OUT   the largest file the format allows: all 60 key
                                records (3 profiles x 20) hold 5440-step macros (~47 MiB)

Python standard library only; the file is written with plistlib, the way a
settings application would, not with the daemon's own writer.
"""
import plistlib
import random
import sys

PROFILES = 3
KEY_SLOTS = 160
TKEYS = 12
MAPPING_KEYS = 8
MAX_STEPS = 5440

# The macOS virtual key code of each of the first 102 key slots, in slot order;
# slots 102-159 hold no key. The factory default of slot k is its code + 1.
SLOT_VKEYS = [
    53, 122, 120, 99, 118, 96, 97, 98, 100, 101, 109, 103, 111, 105, 107, 113,
    50, 18, 19, 20, 21, 23, 22, 26, 28, 25, 29, 27, 24, 51, 114, 115, 116, 71, 75, 67, 78,
    48, 12, 13, 14, 15, 17, 16, 32, 34, 31, 35, 33, 30, 117, 119, 121, 89, 91, 92, 69,
    57, 0, 1, 2, 3, 5, 4, 38, 40, 37, 41, 39, 86, 87, 88,
    56, 6, 7, 8, 9, 11, 45, 46, 43, 47, 44, 42, 60, 126, 83, 84, 85, 76,
    59, 55, 58, 49, 61, 110, 62, 123, 125, 124, 82, 65,
] + [0] * (KEY_SLOTS - 102)


def macro_steps(rng, count):
    """Key presses and releases with a delay now and then, as recorded macros look."""
    steps = {}
    for i in range(count):
        if i % 5 == 4:
            step = {"KEYCODE": 255, "KEYFLAG": rng.randint(10, 500)}  # a delay
        else:
            step = {"KEYCODE": rng.randint(1, 127), "KEYFLAG": 1 if i % 2 == 0 else 0}
        steps[f"KEYMAP_{i + 1}"] = step
    return steps


def key_record(funcid=0, launch="", single=0, mapkey=0, name="", steps=None, repeat=0, times=0):
    steps = steps or {}
    macro = {"MACRONAME": name, "LENGTH": len(steps), "REPEAT_OPTION": repeat, "REPEAT_TIMES": times}
    macro.update(steps)
    return {"FUNCID": funcid, "LAUNCHPATH": launch, "SINGLE_KEYCODE": single,
            "MAPKEY_KEYCODE": mapkey, "MACRO": macro}


def settings(key_record_for):
    root = {
        "PROFILE_ID": 0,
        "GAME_MODE": 0,
        "LIGHT_OPTION": {"LIGHT_STYLE": 2, "WASDLIGHT": 1, "DIRECTLIGHT": 1,
                         "NUMBERLIGHT": 0, "PELLFLAGLIGHT": 1},
    }
    for p in range(PROFILES):
        profile = {f"KEY_{k + 1}": SLOT_VKEYS[k] + 1 for k in range(KEY_SLOTS)}
        for t in range(TKEYS):
            profile[f"TKEYINFO_{t + 1}"] = key_record_for(p, t)
        for m in range(MAPPING_KEYS):
            profile[f"MAPPINGKEYINFO_{m + 1}"] = key_record_for(p, TKEYS + m)
        profile["INSTANT_SHIFT"] = {"PREKEY": 2, "NEXTKEY": 3}
        root[f"PROFILE_{p + 1}"] = profile
    return root


def typical():
    rng = random.Random(1)
    # (profile, key index): macro length
    macros = {(0, 0): 12, (0, 1): 50, (0, 2): 24, (1, 0): 36, (0, 12): 18}

    def record(p, k):
        if (p, k) in macros:
            n = macros[(p, k)]
            return key_record(2, name=f"Macro {p + 1}.{k + 1}", steps=macro_steps(rng, n), repeat=1,
                              mapkey=39 if k >= TKEYS else 0)
        if (p, k) == (0, 3):
            return key_record(3, launch="/usr/share/applications/org.gnome.Calculator.desktop")
        if (p, k) == (0, 4):
            return key_record(1, single=49)
        return key_record()

    return settings(record)


def largest():
    rng = random.Random(2)
    return settings(lambda p, k: key_record(2, name=f"Macro {p + 1}.{k + 1}",
                                            steps=macro_steps(rng, MAX_STEPS), repeat=3, times=99))


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("typical", "largest"):
        sys.exit(__doc__)
    root = typical() if sys.argv[1] == "typical" else largest()
    with open(sys.argv[2], "wb") as f:
        plistlib.dump(root, f, sort_keys=False)


if __name__ == "__main__":
    main()
