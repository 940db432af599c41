"""Runs a batch of Zuv expressions and returns one answer line per case.

Each case is a Zuv expression; its answer is the molded value (money with
all five places) or the id of the error it raises.
"""

import os
import subprocess
import sys
import tempfile

PRELUDE = """Zuv [title: "oracle cases"]
t: func [b /local r] [
\tr: try b
\tprint either error? :r [form r/id] [either money? :r [mold/all r] [mold :r]]
]
"""


def run(zuv, cases, prelude=""):
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "cases.zuv")
        with open(path, "w") as f:
            f.write(PRELUDE + prelude)
            for c in cases:
                f.write("t [%s]\n" % c)
        proc = subprocess.run([os.path.abspath(zuv), path], capture_output=True, text=True, cwd=folder,
                              stdin=subprocess.DEVNULL, timeout=100)
    lines = proc.stdout.split("\n")
    if proc.returncode != 0 or len(lines) < len(cases):
        sys.exit("zuv failed (status %d): %s" % (proc.returncode, proc.stderr[-2000:]))
    return lines[:len(cases)]


def report(failures, total):
    for f in failures[:25]:
        print(f)
    if failures:
        sys.exit("%d of %d cases differ" % (len(failures), total))
    print("%d cases agree" % total)
