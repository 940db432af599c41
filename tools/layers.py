#!/usr/bin/env python3
"""Checks that includes run down the layers of docs/architecture.md.

Every C++ source of the runtime belongs to one layer (LAYERS, bottom first,
the first matching path prefix wins). A file may include from its own layer
and the layers below it; an include running up the layers fails the check
unless one of the named groups (GROUPS) allows it. Includes of files outside
the layered folders (system headers, generated files) are not checked;
an include written relative to its file ("../runtime/cell.h") is checked as
the file it names.

Usage: tools/layers.py [ROOT]   (exit status 1 on any include running up)
"""

import os
import re
import sys

# (layer, path prefixes), bottom first. Keep in step with docs/architecture.md.
LAYERS = [
    # The system calls and the low-level runtime (the runtime thread's guard,
    # every end of the process) call each other: a lost write runs the exit
    # hooks, the guard writes through the platform.
    ("platform", ["runtime/platform/", "runtime/lowrt."]),
    # Codecs that work on bytes in C++ memory and include nothing of the
    # runtime: any layer may use them.
    ("standalone codecs", ["codecs/base_n.", "codecs/image_codecs.h", "codecs/image_bmp.",
                           "codecs/image_codecs.", "codecs/image_gif.", "codecs/image_jpeg.",
                           "codecs/image_png.", "codecs/image_tiff."]),
    ("core services", ["runtime/"]),
    ("datatypes", ["datatypes/"]),
    ("lexer", ["lexer/"]),
    ("I/O and codecs", ["io/", "codecs/"]),
    ("evaluator", ["interpreter/", "natives/", "parse/"]),
    # The library: its functions written in Zuv, and the compiled bodies some
    # of them get (they run actions, natives and codecs, and wire nothing).
    ("library", ["boot/", "helpers/"]),
    ("console", ["console/"]),
    ("UI", ["view/"]),
    ("start-up", ["startup/"]),
]

# Includes allowed to run up the layers: (name, including, included), each a
# list of layer names or path prefixes ("" for any file). Each is written
# down, with its reason, in docs/architecture.md.
GROUPS = [
    # The core: memory, core services, datatypes and the lexer make and read
    # one another's values (cells name their datatype, the lexer makes values
    # of every datatype, the datatypes' load and to actions run the lexer).
    ("core", ["core services", "datatypes", "lexer"], ["core services", "datatypes", "lexer"]),
    # Datatype actions that run Zuv code (sort comparators, port actors,
    # object handlers) call back into the evaluator through its one entry.
    ("call-backs", ["datatypes/"], ["interpreter/interpreter.h"]),
    # The natives' numbers: a plain list with no code, for any layer that
    # must name a native.
    ("native ids", [""], ["natives/ids.h", "natives/natives.def"]),
]

FOLDERS = ["runtime", "datatypes", "lexer", "io", "codecs", "interpreter", "natives", "parse",
           "boot", "helpers", "console", "view", "startup"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def layer_of(path):
    for rank, (name, prefixes) in enumerate(LAYERS):
        if any(path.startswith(p) for p in prefixes):
            return rank, name
    return None, None


def member(path, names):
    layer = layer_of(path)[1]
    return any(n == layer or (n.endswith("/") or "." in n or n == "") and path.startswith(n)
               for n in names)


def allowed(source, target):
    return any(member(source, froms) and member(target, tos) for _, froms, tos in GROUPS)


def resolve(root, source, target):
    """The included file's path from the root, as the compiler finds it: a
    quoted include is looked for beside the including file first (so
    "../runtime/cell.h" and "cell.h" name files of the tree too), then on the
    include path, whose one entry for the tree is the root."""
    beside = os.path.normpath(os.path.join(os.path.dirname(source), target))
    if not beside.startswith("..") and os.path.isfile(os.path.join(root, beside)):
        return beside
    return os.path.normpath(target)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(
        os.path.dirname(os.path.abspath(__file__)))
    failures = []
    checked = 0
    for folder in FOLDERS:
        for base, _, names in os.walk(os.path.join(root, folder)):
            for name in sorted(names):
                if not name.endswith((".cpp", ".h", ".def")):
                    continue
                path = os.path.relpath(os.path.join(base, name), root)
                rank, layer = layer_of(path)
                with open(os.path.join(root, path), encoding="utf-8") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        target = resolve(root, path, m.group(1))
                        target_rank, target_layer = layer_of(target)
                        if target_rank is None:
                            continue
                        checked += 1
                        if target_rank > rank and not allowed(path, target):
                            failures.append("%s:%d: includes %s (%s) from %s" %
                                            (path, number, target, target_layer, layer))
    for line in failures:
        print(line)
    if failures:
        print("layers: %d includes run up the layers (docs/architecture.md)" % len(failures))
        return 1
    print("layers: %d includes checked, none runs up the layers" % checked)
    return 0


if __name__ == "__main__":
    sys.exit(main())
