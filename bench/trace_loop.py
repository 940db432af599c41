#!/usr/bin/env python3
"""The tracer beside CPython's trace module, in one run: wall time and
instruction counts side by side.

  zuv trace          trace [repeat i N [x: i + 1]]      (one line per step)
  zuv untraced       repeat i N [print ["x: i + 1 =>" x: i + 1]]
  py trace           python3 -m trace --trace on the same loop (two lines
                     per step: the for line and the body)

N is 10^5 for the times (the 10^6 events of the traced loop) and 2000 for
the instructions, which come from callgrind (valgrind), steady on a busy
machine; times are medians of alternating runs. The ratio is zuv trace's
over py trace's: the bar is 3. "untraced" shows what printing the same
lines costs without the tracer.

Figures (8 cores shared with other jobs, Debian /usr/bin/python3; medians of
3 runs): before, after mold-part (the collector's molding of every value)
got a compiled entry, and after the inspector's wanted events moved to a
hash! (looked up on every event):

  program        median s               instr (N=2000)
  zuv trace      6.465 / 6.291 / 7.194  732,653,732 / 673,798,723 / 636,447,008
  zuv untraced   0.615 / 0.695 / 0.655   43,972,859 /  44,004,142 /  44,004,895
  py trace       1.323 / 1.855 / 1.407  169,221,828 / 169,162,021 / 169,157,396
  ratio          time 4.89 / 3.39 / 5.11, instructions 4.33 / 3.98 / 3.76

The times swing with the machine's load (py trace's own median moved 40%);
the instructions are steady. Startup is about 38 million of zuv's and 118
million of python's, so per traced step the ratio was larger: about 299,000
instructions against Python's 26,000. A step is 14 events, each running the
interpreted collector (about 20,000 instructions an event); the handler
call alone is about 900 an event.

Then the collector itself got a compiled entry (it works on the data
context's words directly and calls the inspector only when the body
would), and then the entry stopped calling the inspector for the reports
it leaves at once (three of the four a step). Runs of the script in a later
session on the same machine, two with the first step and one with both:

  program        median s                instr (N=2000)
  zuv trace      1.337 / 1.973 / 1.485   243,046,550 / 213,250,895
  zuv untraced   0.335 / 0.618 / 0.383    43,937,233
  py trace       1.217 / 1.675 / 1.347   168,873,993 / 169,457,405 / 169,102,901
  ratio          time 1.10 / 1.18 / 1.10, instructions 1.44 / 1.43 / 1.26

In the same session, the interpreted collector swapped back in (a function
made from its own spec and body) ran the N=10^5 loop in 3.11 s (median of
3) and took 630,256,783 instructions at N=2000: 3.73x Python's. A traced
step now costs about 88,000 instructions: most of it is the interpreted
inspector building the one line a step; the handler calls (14 events) take
about 13,000.

A later session (the same machine shared with three builds, load about
12; medians of 5 runs):

  program        median s   instr (N=2000)
  zuv trace      1.603      210,515,596
  zuv untraced   0.507       44,272,691
  py trace       1.589      169,432,377
  ratio          time 1.01, instructions 1.24

Usage: bench/trace_loop.py [--runs N] [--zuv PATH] [--python PATH] [--no-instructions]
"""

import os
import statistics
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "bench"))
from run import Runner  # noqa: E402
from parse_text import instructions  # noqa: E402
from side_by_side import arguments  # noqa: E402

PROGRAMS = [
    ("zuv trace", "zuv", "Zuv []\ntrace [repeat i @N@ [x: i + 1]]\n"),
    ("zuv untraced", "zuv", 'Zuv []\nrepeat i @N@ [print ["x: i + 1 =>" x: i + 1]]\n'),
    ("py trace", "py", "def work():\n    for i in range(1, @N@ + 1):\n        x = i + 1\nwork()\n"),
]


def argv_of(kind, path, zuv, python):
    return [zuv, path] if kind == "zuv" else [python, "-m", "trace", "--trace", path]


def write_programs(tmp, n):
    paths = []
    for i, (_, kind, code) in enumerate(PROGRAMS):
        path = os.path.join(tmp, "p%d.%s" % (i, "zuv" if kind == "zuv" else "py"))
        with open(path, "w", encoding="utf-8") as f:
            f.write(code.replace("@N@", str(n)))
        paths.append(path)
    return paths


def main():
    sys.argv, no_ir = ([a for a in sys.argv if a != "--no-instructions"],
                       "--no-instructions" in sys.argv)
    args = arguments(__doc__)
    measure = os.path.join(os.path.dirname(os.path.abspath(args.zuv)), "zuv_measure")
    run = Runner(measure if os.path.exists(measure) else None, 600)
    walls = {name: [] for name, _, _ in PROGRAMS}
    ir = {}
    with tempfile.TemporaryDirectory() as tmp:
        paths = write_programs(tmp, 100000)
        for _ in range(args.runs):
            for (name, kind, _), path in zip(PROGRAMS, paths):
                ok, wall, _, why = run(argv_of(kind, path, args.zuv, args.python), tmp)
                if not ok:
                    sys.exit("%s failed: %s" % (name, why))
                walls[name].append(wall)
        if not no_ir:
            small = os.path.join(tmp, "small")
            os.makedirs(small)
            for (name, kind, _), path in zip(PROGRAMS, write_programs(small, 2000)):
                ir[name] = instructions(argv_of(kind, path, args.zuv, args.python))
    print("%-14s %10s %16s" % ("program", "median s", "instr (N=2000)"))
    for name, _, _ in PROGRAMS:
        print("%-14s %10.3f %16s" % (name, statistics.median(walls[name]),
                                     "{:,}".format(ir[name]) if ir.get(name) else "-"))
    zt, pt = statistics.median(walls["zuv trace"]), statistics.median(walls["py trace"])
    print("zuv trace / py trace: time %.2f%s" % (
        zt / pt, ", instructions %.2f" % (ir["zuv trace"] / ir["py trace"])
        if ir.get("py trace") else ""))


if __name__ == "__main__":
    main()
