#!/usr/bin/env python3
"""Parse over 24 MB of text beside CPython's re, in one run: wall time and
instruction counts side by side.

Counts the 10^6 matches of "abc" in "the quick abc brown fox " repeated
10^6 times, with a paren action per match, against `re.finditer` counting
in a Python loop:

  zuv thru           parse txt [any [thru "abc" (n: n + 1)] to end]
  zuv thru /case     the same with parse/case (no case folding)
  zuv to             parse txt [any [to "abc" 3 skip (n: n + 1)] to end]
  py finditer        for m in re.finditer("abc", txt): n += 1

Each program builds its text itself; a base program per language that only
builds the text is timed too, and the "net" columns take its figures off
(start-up and the text are then out of the comparison). Instructions come
from callgrind (valgrind), steady on a busy machine; times are medians.
The ratios are zuv's over py finditer's: the bar is 1.5 in both.

Figures (8 cores shared with other builds; times of 3 runs, noisy), after
parse's parens ran through their plans (net Ir before: thru 1,381,677,093,
thru /case 1,351,306,648, to 1,743,678,459; the time ratios of a run
before at the same load: 2.26, 2.28, 2.93):

  program          net s   ratio        net Ir   ratio
  zuv thru         0.089    1.74   1,197,681,551   0.90
  zuv thru /case   0.096    1.87   1,167,311,106   0.88
  zuv to           0.071    1.39   1,559,682,917   1.17
  py finditer      0.051    1.00   1,331,162,002   1.00

Usage: bench/parse_text.py [--runs N] [--zuv PATH] [--python PATH] [--no-instructions]
"""

import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "bench"))
from side_by_side import arguments, time_programs  # noqa: E402

ZUV_TEXT = 'Zuv []\ntxt: append/dup copy "" "the quick abc brown fox " 1000000\nn: 0\n'
PY_TEXT = 'import re\ntxt = "the quick abc brown fox " * 1000000\nn = 0\n'
ZUV_CHECK = 'if n <> 1000000 [print "wrong count" quit/return 1]\n'
PY_CHECK = 'if n != 1000000:\n    raise SystemExit("wrong count")\n'

PROGRAMS = [
    ("zuv base", "zuv", ZUV_TEXT),
    ("zuv thru", "zuv", ZUV_TEXT + 'parse txt [any [thru "abc" (n: n + 1)] to end]\n' + ZUV_CHECK),
    ("zuv thru /case", "zuv",
     ZUV_TEXT + 'parse/case txt [any [thru "abc" (n: n + 1)] to end]\n' + ZUV_CHECK),
    ("zuv to", "zuv", ZUV_TEXT + 'parse txt [any [to "abc" 3 skip (n: n + 1)] to end]\n' + ZUV_CHECK),
    ("py base", "py", PY_TEXT),
    ("py finditer", "py", PY_TEXT + 'for m in re.finditer("abc", txt):\n    n += 1\n' + PY_CHECK),
]


def instructions(argv):
    """Instructions of a whole run under callgrind, 0 when valgrind fails."""
    with tempfile.TemporaryDirectory() as tmp:
        done = subprocess.run(["valgrind", "--tool=callgrind",
                               "--callgrind-out-file=" + os.path.join(tmp, "cg")] + argv,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE)
    found = re.search(rb"Collected : (\d+)", done.stderr)
    return int(found.group(1)) if found else 0


def main():
    sys.argv, no_ir = ([a for a in sys.argv if a != "--no-instructions"],
                       "--no-instructions" in sys.argv)
    args = arguments(__doc__)
    med = time_programs(PROGRAMS, args.zuv, args.python, args.runs)
    ir = {}
    if not no_ir:
        with tempfile.TemporaryDirectory() as tmp:
            for i, (name, kind, code) in enumerate(PROGRAMS):
                path = os.path.join(tmp, "p%d.%s" % (i, kind))
                with open(path, "w", encoding="utf-8") as f:
                    f.write(code)
                ir[name] = instructions([args.zuv if kind == "zuv" else args.python, path])
    print()
    print("%-16s %9s %9s %7s %14s %14s %7s" % ("program", "s", "net s", "ratio", "Ir", "net Ir",
                                             "ratio"))
    py_net_s = med["py finditer"] - med["py base"]
    py_net_ir = ir.get("py finditer", 0) - ir.get("py base", 0)
    for name, kind, _ in PROGRAMS:
        if name.endswith("base"):
            continue
        base = "zuv base" if kind == "zuv" else "py base"
        net_s = med[name] - med[base]
        line = "%-16s %9.3f %9.3f %7.2f" % (name, med[name], net_s,
                                            net_s / py_net_s if py_net_s > 0 else 0)
        if ir:
            net_ir = ir[name] - ir[base]
            line += " %14d %14d %7.2f" % (ir[name], net_ir, net_ir / py_net_ir if py_net_ir else 0)
        print(line)
    print("(ratios: net figures over py finditer's net figures)")


if __name__ == "__main__":
    main()
