#!/usr/bin/env python3
"""tools/layers.py on small trees it must pass or fail: an include written
relative to its file is checked as the file it names, so `../` cannot carry
an include up the layers unseen."""

import os
import subprocess
import sys
import tempfile

LAYERS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "layers.py")

# (name, files of the tree, whether the check passes)
CASES = [
    ("down the layers, from the root", {"datatypes/a.cpp": '#include "runtime/cell.h"\n'}, True),
    ("down the layers, relative", {"datatypes/a.cpp": '#include "../runtime/cell.h"\n'}, True),
    ("beside the file", {"datatypes/a.cpp": '#include "a.h"\n', "datatypes/a.h": ""}, True),
    ("up the layers, from the root", {"runtime/a.cpp": '#include "console/line.h"\n'}, False),
    ("up the layers, relative", {"runtime/a.cpp": '#include "../console/line.h"\n'}, False),
    ("up the layers, relative from a subfolder",
     {"runtime/platform/a.cpp": '#include "../../view/face.h"\n'}, False),
]


def run(files):
    with tempfile.TemporaryDirectory() as root:
        for path, text in files.items():
            full = os.path.join(root, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w") as f:
                f.write(text)
        # Every included file exists, as in a real tree.
        for folder in ("runtime", "console", "view"):
            os.makedirs(os.path.join(root, folder), exist_ok=True)
        for path in ("runtime/cell.h", "console/line.h", "view/face.h"):
            open(os.path.join(root, path), "a").close()
        done = subprocess.run([sys.executable, LAYERS, root], capture_output=True, text=True)
        return done.returncode == 0, done.stdout + done.stderr


def main():
    failures = 0
    for name, files, passes in CASES:
        ok, output = run(files)
        if ok != passes:
            failures += 1
            print("FAIL %s: the check %s\n%s" % (name, "failed" if passes else "passed", output))
    print("%d of %d cases as expected" % (len(CASES) - failures, len(CASES)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
