"""Fails when a source file includes a header of a room above its own.

Rooms, from the bottom: base; console; net and proof (side by side); update; launcher; window; app.
"""

import pathlib
import re
import sys

RANK = {"base": 0, "console": 1, "net": 2, "proof": 2, "update": 3, "launcher": 4, "window": 5,
        "app": 6}
INCLUDE = re.compile(r'^#include "([a-z_]+)/', re.MULTILINE)


def upward_includes(source_root):
    for path in sorted(source_root.rglob("*")):
        if path.suffix not in (".h", ".cpp", ".in"):
            continue
        room = path.relative_to(source_root).parts[0]
        if room not in RANK:
            yield f"{path}: lies in no known room"
            continue
        for target in INCLUDE.findall(path.read_text(errors="replace")):
            if target in RANK and target != room and RANK[target] >= RANK[room]:
                yield f"{path}: includes {target}/, which is not below {room}/"


def main():
    source_root = pathlib.Path(__file__).resolve().parents[2] / "src"
    problems = list(upward_includes(source_root))
    print("\n".join(problems) or "every include points to the same room or below")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
