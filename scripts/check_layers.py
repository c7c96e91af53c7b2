#!/usr/bin/env python3
"""Checks that every #include "..." of the product's code keeps to the layers of the Layout
section of docs/developers.md. Usage:

  check_layers.py              check the tree this script belongs to; exit 1 on a breach
  check_layers.py --self-test  add a forbidden include in memory; exit 0 only if it is found
"""

import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Each folder, longest first, with what its files may include: folders (every file in them)
# and single files. A folder not listed here (tests/, bench/) may include anything.
MODULE = ["plugin/", "render/", "ui/", "hostapi/", "pcx/"]
LAYERS = [
    ("kelvo/os/", ["kelvo/os/", "pcx/"]),
    ("kelvo/imageio/", ["kelvo/imageio/", "kelvo/os/", "pcx/"]),
    # The plug-in only through its data contract (the settings block and the frame file name)
    # and the engine it renders with.
    ("kelvo/batch/", ["kelvo/batch/", "kelvo/imageio/", "kelvo/os/", "host/", "hostapi/", "pcx/",
                      "plugin/settings.h", "render/frame_file.h", "render/frame_engine.h",
                      "render/range_choices.h"]),
    ("kelvo/", ["kelvo/", "host/", "win32_standin/"] + MODULE),
    ("host/", ["host/", "win32_standin/"] + MODULE),
    ("plugin/", MODULE),
    ("render/", MODULE),
    ("ui/", MODULE),
    ("hostapi/", ["hostapi/"]),
    ("pcx/", ["pcx/"]),
    ("win32_standin/", ["win32_standin/"]),
]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(path):
    return next(((folder, allowed) for folder, allowed in LAYERS if path.startswith(folder)),
                (None, None))


def breaches(sources):
    """Lines 'file:line: includes X, which FOLDER may not' for every include out of place."""
    found = []
    for path, text in sorted(sources.items()):
        folder, allowed = layer_of(path)
        if folder is None:
            continue
        for match in INCLUDE.finditer(text):
            target = match.group(1)
            if not any(target == a or (a.endswith("/") and target.startswith(a))
                       for a in allowed):
                line = text.count("\n", 0, match.start()) + 1
                found.append("%s:%d: includes %s, which %s may not"
                             % (path, line, target, folder))
    return found


def product_sources():
    files = subprocess.run(["git", "ls-files", "*.cpp", "*.h"], cwd=ROOT, check=True,
                           stdout=subprocess.PIPE, text=True).stdout.split()
    return {f: open(os.path.join(ROOT, f), encoding="utf-8").read() for f in files}


def main():
    sources = product_sources()
    if "--self-test" in sys.argv[1:]:
        planted = "pcx/pcx_writer.cpp"
        sources[planted] += '\n#include "kelvo/cli_options.h"\n'
        found = breaches(sources)
        caught = any(b.startswith(planted) and "kelvo/cli_options.h" in b for b in found)
        print("check_layers: a forbidden include in %s was %s"
              % (planted, "found" if caught else "missed"))
        return 0 if caught and len(found) == 1 else 1
    found = breaches(sources)
    for breach in found:
        print("check_layers: " + breach)
    if not found:
        print("check_layers: every include of %d files keeps to its layer" % len(sources))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
