"""Puts the control requests the keyboard received into words.

Each line is one request as the emulated keyboard logs it (and as
`qz5ctl requests` prints it): the 8 setup bytes in hex, and for a request with
a data stage " : " and its bytes. `Decoder().line(text)` returns one line of
words; the decoder remembers the last macro index of each profile so that the
macro data that follows it can be split into the keys' actions.

    python3 scripts/request_words.py FILE      words for each line of FILE (- for standard input)
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../tools/emulator"))
from vocabulary import V  # noqa: E402

LIGHT_ZONES = ["WASD", "direction", "number", "flag"]
MODIFIERS = {0x00: "none", 0xE0: "Control", 0xE1: "Shift", 0xE2: "Alt"}
# The keyboard's function code of a programmable key, as the index gives it.
FUNCTIONS = {0x00: "none", 0x10: "single key", 0x11: "launch", 0x20: "macro"}
# HID keyboard usages, enough to read a macro.
USAGES = {0x28: "Return", 0x29: "Escape", 0x2A: "Backspace", 0x2B: "Tab", 0x2C: "Space",
          0x4B: "Page Up", 0x4E: "Page Down",
          0xE0: "Control", 0xE1: "Shift", 0xE2: "Alt", 0xE3: "Command",
          0xE4: "right Control", 0xE5: "right Shift", 0xE6: "right Alt"}
USAGES.update({0x04 + i: chr(ord("A") + i) for i in range(26)})
USAGES.update({0x1E + i: str((i + 1) % 10) for i in range(10)})
USAGES.update({0x3A + i: f"F{i + 1}" for i in range(12)})


def key_name(index):
    """Key index 0-11: T1-T12; 12-19: mapping keys M1-M8."""
    return f"T{index + 1}" if index < 12 else f"M{index - 11}"


def usage(u):
    return USAGES.get(u, f"usage 0x{u:02x}")


def plural(n, word):
    return f"{n} {word}" + ("" if n == 1 else "s")


class Request:
    def __init__(self, text):
        setup, _, data = text.partition(" : ")
        b = bytes.fromhex(setup)
        if len(b) != 8:
            raise ValueError(f"not 8 setup bytes: {text!r}")
        self.request_type, self.request = b[0], b[1]
        self.value = b[2] | b[3] << 8
        self.index = b[4] | b[5] << 8
        self.length = b[6] | b[7] << 8
        self.data = bytes.fromhex(data) if data else b""
        self.device_to_host = bool(self.request_type & 0x80)


class Decoder:
    def __init__(self):
        self.index = {}  # profile -> [(key index, function code, offset, length)]
        self.words = {V.kReqReset: self._reset,
                      V.kReqWorkMode: self._work_mode,
                      V.kReqSave: self._save,
                      V.kReqLightStatus: self._light_status,
                      V.kReqSelectProfile: self._select_profile,
                      V.kReqCurrentProfile: self._current_profile,
                      V.kReqInstantShift: self._instant_shift,
                      V.kReqLight: self._light,
                      V.kReqMatrix: self._matrix,
                      V.kReqMacroIndex: self._macro_index,
                      V.kReqMacroData: self._macro_data,
                      V.kReqKeyMapping: self._key_mapping}

    def line(self, text):
        try:
            r = Request(text.strip())
        except ValueError:
            return f"unreadable: {text.strip()}"
        handler = self.words.get(r.request)
        if handler is None:
            return f"request 0x{r.request:02x} (wValue 0x{r.value:04x}, wIndex 0x{r.index:04x}, {r.length} bytes)"
        return handler(r)

    # --- requests without data ---------------------------------------------------------

    def _reset(self, r):
        return "reset"

    def _work_mode(self, r):
        modes = {V.kWorkModeNormal: "work mode normal", V.kWorkModeGame: "work mode game"}
        return modes.get(r.value, f"work mode {r.value}")

    def _save(self, r):
        return "save"

    def _light_status(self, r):
        return "read the status (byte 1: light level)"

    def _select_profile(self, r):
        return f"select profile {r.value}"

    def _current_profile(self, r):
        return "read the current profile"

    def _instant_shift(self, r):
        nxt, prev = r.value & 0xFF, r.value >> 8
        name = lambda u: MODIFIERS.get(u, f"usage 0x{u:02x}")  # noqa: E731
        return f"alternate-profile modifiers: next {name(nxt)}, previous {name(prev)}"

    def _light(self, r):
        zone, off = r.index & 0x7F, bool(r.index & 0x80)
        where = f"light zone {zone}" + (f" ({LIGHT_ZONES[zone]})" if zone < len(LIGHT_ZONES) else "")
        if off:
            return f"{where} off"
        style, flag = r.value & 0xFF, r.value >> 8
        return f"{where} on, style {style}" + (f", flag {flag}" if flag else "")

    # --- tables ---------------------------------------------------------------------------

    def _matrix(self, r):
        placed = [f"M{u - 0xD7} at position {p}" for p, u in enumerate(r.data) if 0xD8 <= u <= 0xDF]
        return f"key matrix for profile {r.index} ({r.length} bytes)" + \
            (": " + ", ".join(placed) if placed else "")

    def _macro_index(self, r):
        d = r.data
        if len(d) < 5:
            return f"macro index for profile {r.index} ({r.length} bytes, too short to read)"
        count, total = d[0], d[3] << 8 | d[4]
        entries = []
        for k in range(count):
            e = d[5 + 5 * k:10 + 5 * k]
            if len(e) < 5:
                break
            entries.append((k, e[0], e[1] << 8 | e[2], e[3] << 8 | e[4]))
        self.index[r.index] = entries
        used = [f"{key_name(k)} {FUNCTIONS.get(code, f'function 0x{code:02x}')} {plural(n, 'byte')}"
                + (f" at {off}" if n else " (empty)")
                for k, code, off, n in entries if code or n]
        return (f"macro index for profile {r.index}: {count} keys, {total} bytes of macro memory in use"
                + (": " + ", ".join(used) if used else ", every key without an action"))

    def _macro_data(self, r):
        head = f"macro data for profile {r.index} at {r.value}: {plural(len(r.data), 'byte')}"
        if not r.data:
            return head
        parts = []
        for k, code, off, n in self.index.get(r.index, []):
            lo, hi = max(off, r.value), min(off + n, r.value + len(r.data))
            if n == 0 or lo >= hi:
                continue
            piece = r.data[lo - r.value:hi - r.value]
            whole = lo == off and hi == off + n
            parts.append(key_name(k) + (self._action(code, piece) if whole else f": {len(piece)} bytes"))
        return head + (" (" + "; ".join(parts) + ")" if parts else "")

    def _action(self, code, b):
        if code == 0x10 and len(b) == 1:
            return f" = {usage(b[0])}"
        if code == 0x11 and len(b) == 2 and b[1] == 0xFD:
            return f" = launch key {b[0]}"
        items, i = [], 0
        while i + 3 <= len(b):
            op, x, y = b[i], b[i + 1], b[i + 2]
            if op == 0x84:
                items.append(f"{usage(x)} {'down' if y == 1 else 'up'}")
            elif op == 0x87:
                items.append(f"wait {x << 8 | y}")
            elif op == 0x86:
                items.append("end")
            else:
                items.append(f"{op:02x} {x:02x} {y:02x}")
            i += 3
        if i < len(b):
            items.append(b[i:].hex(" "))
        return ": " + ", ".join(items)

    def _key_mapping(self, r):
        d = r.data
        if len(d) < 41:
            return f"key-mapping table for profile {r.index} ({r.length} bytes, too short to read)"
        modes = [d[2 + 2 * i] for i in range(12)] + [d[26 + 2 * j] for j in range(8)]
        usual = max(set(modes), key=modes.count)
        odd = [f"{key_name(k)} {m}" for k, m in enumerate(modes) if m != usual]
        placed = [f"M{j + 1}" for j in range(8) if d[25 + 2 * j]]
        return (f"key-mapping table for profile {r.index}: repeat option {usual}"
                + (f" (but {', '.join(odd)})" if odd else " for every key")
                + (f", {', '.join(placed)} placed on the keyboard" if placed else ", no mapping key placed"))


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__)
    stream = sys.stdin if argv[1] == "-" else open(argv[1])
    decoder = Decoder()
    for text in stream:
        if text.strip():
            print(decoder.line(text))


if __name__ == "__main__":
    main(sys.argv)
