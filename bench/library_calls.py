#!/usr/bin/env python3
"""Calls of library functions that run as Zuv code (not the compiled
helpers): callgrind instructions per call, plans off and on.

Each helper is called from a user function, `f: func [x] [HELPER]`, x a
block of five integers; the figure is the cost of one `f b` in a loop (the
program run with 11,000 calls less the one with 1,000, over 10,000), so
start-up, the first calls and the plans' builds drop out. The last line
is the median CPU time of `mixed` run 300,000 times. `mixed` is a loop
of several such calls at top level. --base adds the plans-on column of
another binary (the build before a change).

Figures (instructions per call of f, callgrind; "before" is the build
before library plans, plans on; then this build, plans off and on: library
bodies, the blocks they loop over and the calls into them planned):

  helper              before   plans off   plans on
  first x               1290        1347       1238
  last x                1647        1704       1465
  second x              1290        1347       1238
  empty? x              1879        1936       1483
  mod 17 5              4090        4051       3281
  sum x                 8040        8065       7125
  extract x 2          16760       16579      16152
  repend copy [] x      7848        7713       7849
  attempt [1]           4922        4789       4642
  collect [keep 1]     20455       20226      19944
  also x 1              1661        1658       1677
  to-word "a"           1905        1925       1913
  mixed (top level)    16311       17498      13968
  mixed, CPU s          0.45        0.46       0.40  (300,000 rounds, median
                                                     of 5, a loaded machine)

also and to-word (a body of one expression with a generic node) get no
plan: planned, they cost 1747 and 1944. The price for user code
(bench/plans.py, plans on, before and after): fib 506 and 512 instructions
a call, the three-argument call 720 and 723; a nested block's run reads
the cell its positions go to through the run (a load, and a spill in the
recursive call). The library jobs barely move, their helpers being compiled:
report (shrunk) 551 M instructions before, 553 M after.

Usage: bench/library_calls.py [--zuv PATH] [--base PATH]
"""

import argparse
import os
import resource
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

HELPERS = [
    "first x", "last x", "second x", "empty? x", "mod 17 5", "sum x", "extract x 2",
    "repend copy [] x", "attempt [1]", "collect [keep 1]", "also x 1", "to-word \"a\"",
]

MIXED = ("s: 0 loop %d [s: s + first b s: s + last b if empty? b [s: s + 1] "
         "s: s + mod s 7 s: s + sum b]\n")


def program(body, calls):
    return "Zuv []\nb: [1 2 3 4 5]\nf: func [x] [%s]\nloop %d [f b]\n" % (body, calls)


def instructions(zuv, source, plans):
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "p.zuv")
        with open(path, "w", encoding="utf-8") as f:
            f.write(source)
        env = dict(os.environ, ZUV_PLANS=plans)
        done = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
                               zuv, path], env=env, capture_output=True, text=True)
        for line in done.stderr.splitlines():
            if "refs:" in line:
                return int(line.split()[-1].replace(",", ""))
    sys.exit("callgrind of %s failed:\n%s" % (zuv, done.stderr))


def cpu_seconds(zuv, source, plans, runs):
    """Median CPU time (user + system) of the program's runs."""
    times = []
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "p.zuv")
        with open(path, "w", encoding="utf-8") as f:
            f.write(source)
        for _ in range(runs):
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            subprocess.run([zuv, path], env=dict(os.environ, ZUV_PLANS=plans),
                           stdout=subprocess.DEVNULL, check=True)
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            times.append(after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime)
    return statistics.median(times)


def per_call(zuv, make, plans):
    return (instructions(zuv, make(11000), plans) - instructions(zuv, make(1000), plans)) // 10000


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--zuv", default=os.path.join(ROOT, "build", "zuv"))
    ap.add_argument("--base", help="another binary: its plans-on figures beside")
    ap.add_argument("--runs", type=int, default=5, help="timed runs of mixed, for its median")
    args = ap.parse_args()
    head = "%-20s %10s %10s" % ("helper", "plans off", "plans on")
    if args.base:
        head += " %10s" % "base on"
    print(head)
    rows = [(h, lambda n, h=h: program(h, n)) for h in HELPERS]
    rows.append(("mixed (top level)", lambda n: "Zuv []\nb: [1 2 3 4 5]\n" + MIXED % n))
    for name, make in rows:
        line = "%-20s %10d %10d" % (name, per_call(args.zuv, make, "0"),
                                    per_call(args.zuv, make, "1"))
        if args.base:
            line += " %10d" % per_call(args.base, make, "1")
        print(line, flush=True)
    mixed = "Zuv []\nb: [1 2 3 4 5]\n" + MIXED % 300000
    line = "%-20s %10.2f %10.2f" % ("mixed, 3e5, CPU s", cpu_seconds(args.zuv, mixed, "0", args.runs),
                                    cpu_seconds(args.zuv, mixed, "1", args.runs))
    if args.base:
        line += " %10.2f" % cpu_seconds(args.base, mixed, "1", args.runs)
    print(line)


if __name__ == "__main__":
    main()
