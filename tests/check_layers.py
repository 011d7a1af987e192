#!/usr/bin/env python3
"""Fails when a source includes one of our headers against the arrows of tests/layers.txt.

    check_layers.py [ROOT]     prints each offending include as FILE:LINE: LAYER -> LAYER (HEADER)
"""
import os
import re
import sys

ROOT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
FREE = ("tests/", "bench/", "fuzz/")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def read_table():
    """Returns the arrows (layer -> layers it may include) and the paths of each layer: a line may
    name several paths before its colon, the first being the layer's name."""
    allowed = {}
    members = {}
    with open(os.path.join(ROOT, "tests", "layers.txt"), encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            paths, _, targets = line.partition(":")
            paths = paths.split()
            allowed[paths[0]] = set(targets.split())
            for p in paths:
                members[p] = paths[0]
    return allowed, members


def layer_of(path, members):
    best = None
    for member in members:
        if path == member or path.startswith(member + "/"):
            if best is None or len(member) > len(best):
                best = member
    return None if best is None else members[best]


def main():
    allowed, members = read_table()
    faults = []
    for top in sorted(set(m.split("/")[0] for m in members)):
        for folder, _, files in os.walk(os.path.join(ROOT, top)):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.relpath(os.path.join(folder, name), ROOT).replace(os.sep, "/")
                if path.startswith(FREE):
                    continue
                own = layer_of(path, members)
                with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        target = layer_of(m.group(1), members)
                        if target is None or target == own or target in allowed[own]:
                            continue
                        faults.append("%s:%d: %s -> %s (%s)" % (path, number, own, target, m.group(1)))
    for f in faults:
        print(f)
    if faults:
        print("%d include(s) against the layers of tests/layers.txt" % len(faults))
        return 1
    print("includes follow tests/layers.txt")
    return 0


if __name__ == "__main__":
    sys.exit(main())
