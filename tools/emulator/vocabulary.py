"""The protocol's words for the Python side (the world, the demo), read from
protocol/vocabulary.hpp, the one table of them: notification names, objects
and userInfo keys, the change types, report types and codes, request codes.

    from vocabulary import V, report, request_line
    V.kNameSettings, V.ChangeType["SelectProfile"], V.kReqReset
    report(V.kReportState, 0, 0, V.kStateGameOn)   # an emulator control command
"""

import os
import re
import types

HEADER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../protocol/vocabulary.hpp")


def read(path=HEADER):
    """The header's constants (strings and integers) and ChangeType, by name."""
    with open(path) as f:
        text = f.read()
    words = {}
    for name, value in re.findall(r"^inline constexpr [\w:]+ (k\w+)(?:\[\])? = ([^;{]+);", text, re.M):
        words[name] = value[1:-1] if value.startswith('"') else int(value, 0)
    enum = re.search(r"enum class ChangeType : int \{(.*?)\};", text, re.S)
    words["ChangeType"] = {name: int(value) for name, value in re.findall(r"(\w+) = (\d+)", enum.group(1))}
    return types.SimpleNamespace(**words)


V = read()


def report(kind, *data, node=1):
    """The emulator's control command that sends an input report of type kind
    (its bytes after data are zero) from the keyboard's first or second node."""
    data = list(data) + [0] * (V.kReportBytes - len(data))
    return " ".join(["report" if node == 1 else "report2"] + [f"{b:02x}" for b in [kind, *data]])


def request_line(kind, request, value=0, index=0, length=0):
    """A control request's setup bytes as the emulator logs them."""
    setup = [kind, request, value & 0xFF, value >> 8, index & 0xFF, index >> 8, length & 0xFF, length >> 8]
    return " ".join(f"{b:02x}" for b in setup)
