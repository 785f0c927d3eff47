#!/usr/bin/env python3
"""Refuses an #include "..." that runs against the layers.

comm/ (the wire) includes only comm/; core/ only comm/ and core/; the simulator only sim/ and
comm/, so that it stays an independent peer; the command line never the GUI; and nothing
outside tests/ includes tests/. Usage: check-includes.py [ROOT] | --self-test
"""

import os
import re
import subprocess
import sys
import tempfile

LAYERS = {
    "comm": {"comm"},
    "core": {"comm", "core"},
    "sim": {"comm", "sim"},
    "cli": {"comm", "core", "cli"},
    "gui": {"comm", "core", "gui"},
}
SOURCE_ENDINGS = (".h", ".hpp", ".cpp", ".cc")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def tracked_sources(root):
    try:
        out = subprocess.run(["git", "-C", root, "ls-files"], capture_output=True, text=True,
                             check=True).stdout.split("\n")
    except (OSError, subprocess.CalledProcessError):
        out = [os.path.relpath(os.path.join(d, f), root)
               for d, _, files in os.walk(root) for f in files]
    return sorted(p for p in out if p.endswith(SOURCE_ENDINGS) and not p.startswith("build/"))


def resolve(root, including, name):
    """The included file relative to root: beside the includer first, then from the root."""
    beside = os.path.normpath(os.path.join(os.path.dirname(including), name))
    if os.path.exists(os.path.join(root, beside)):
        return beside
    return os.path.normpath(name)


def top(path):
    return path.split(os.sep, 1)[0] if os.sep in path else ""


def violations(root):
    found = []
    for path in tracked_sources(root):
        layer = top(path)
        try:
            with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                lines = f.readlines()
        except OSError:
            continue
        for number, line in enumerate(lines, 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = top(resolve(root, path, match.group(1)))
            if target == "tests" and layer != "tests":
                found.append(f"{path}:{number}: includes {match.group(1)} (tests/ is for tests)")
            elif layer in LAYERS and target and target not in LAYERS[layer]:
                found.append(f"{path}:{number}: {layer}/ includes {match.group(1)}")
    return found


def self_test():
    """Each wrong-way arrow is refused, and the right-way ones pass."""
    wrong = [("comm/a.cpp", "core/b.h"), ("comm/a.h", "gui/b.h"), ("core/a.cpp", "gui/b.h"),
             ("bench/a.cpp", "tests/support/b.h"), ("gui/a.cpp", "tests/b.h"),
             ("sim/a.cpp", "core/b.h"), ("sim/a.cpp", "gui/b.h"), ("cli/a.cpp", "gui/b.h"),
             ("comm/sub/a.cpp", "../../core/b.h")]
    right = [("core/a.cpp", "comm/b.h"), ("gui/a.cpp", "core/b.h"), ("sim/a.cpp", "comm/b.h"),
             ("tests/a.cpp", "gui/b.h"), ("comm/a.cpp", "b.h")]
    failures = []
    for cases, expect_refused in ((wrong, True), (right, False)):
        for includer, included in cases:
            with tempfile.TemporaryDirectory() as root:
                for rel, text in ((includer, f'#include "{included}"\n'),
                                  (os.path.normpath(os.path.join(os.path.dirname(includer),
                                                                 included))
                                   if included.startswith("..") or "/" not in included
                                   else included, "")):
                    full = os.path.join(root, rel)
                    os.makedirs(os.path.dirname(full), exist_ok=True)
                    with open(full, "w", encoding="utf-8") as f:
                        f.write(text)
                refused = bool(violations(root))
                if refused != expect_refused:
                    failures.append(f"{includer} -> {included}: "
                                    f"{'passed' if expect_refused else 'refused'}")
    for failure in failures:
        print("self-test:", failure)
    return 1 if failures else 0


def main(argv):
    if argv[1:] == ["--self-test"]:
        return self_test()
    root = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    found = violations(os.path.abspath(root))
    for line in found:
        print(line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
