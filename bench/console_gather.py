#!/usr/bin/env python3
"""Piped console input gathered over many lines: one open block of N lines
beside the same text in 100 lines.

The console checks what it has gathered after every line it reads; the time
for the block in N lines should stay close to the time for the same text in
100 (long) lines. Two texts: a flat block of short lines of integers, and
records of mixed values (strings, a nested block, issues, times). The table
gives the median wall time of several runs of each and the ratio; with
--instructions also the instruction counts under callgrind (valgrind).

Usage: bench/console_gather.py [--lines N] [--runs N] [--zuv PATH] [--instructions]
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile

from console import timed  # median wall time of piped runs

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def flat(i):
    return "    " + " ".join(str(i * 15 + k) for k in range(15))


def record(i):
    return '    "item-%05d" %d %d.%d #tag-%d %d:%02d [%d %d] "note %d"' % (
        i, i * 7 % 1000, i % 97, i % 10, i % 13, i % 24, i % 60, i % 5, i % 9, i)


def program(rows, per_line):
    """The block `x` holding the rows, per_line rows to a line, then a line
    that prints its length."""
    lines = [" ".join(rows[k:k + per_line]) for k in range(0, len(rows), per_line)]
    return "x: [\n" + "\n".join(lines) + "\n]\nprint length? x\n"


def instructions(argv, path):
    with open(path, "rb") as stdin, tempfile.TemporaryDirectory() as tmp:
        done = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + os.path.join(tmp, "cg")]
                              + argv, stdin=stdin, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    found = re.search(rb"Collected : (\d+)", done.stderr)
    return int(found.group(1)) if found else 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--lines", type=int, default=10000)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--zuv", default=os.path.join(ROOT, "build", "zuv"))
    ap.add_argument("--instructions", action="store_true", help="also count instructions (callgrind)")
    a = ap.parse_args()
    n = a.lines
    header = "%-34s %10s %10s %7s" % ("open block, %d lines vs 100" % n, "N lines s", "100 s", "ratio")
    if a.instructions:
        header += " %14s %14s %7s" % ("N lines Ir", "100 Ir", "ratio")
    print(header)
    with tempfile.TemporaryDirectory() as tmp:
        for name, make in (("flat integers", flat), ("mixed records", record)):
            rows = [make(i) for i in range(n)]
            size = sum(len(r) + 1 for r in rows)
            many = os.path.join(tmp, name + ".many")
            few = os.path.join(tmp, name + ".few")
            with open(many, "w") as f:
                f.write(program(rows, 1))
            with open(few, "w") as f:
                f.write(program(rows, max(1, n // 100)))
            t_many = timed([a.zuv], many, a.runs)
            t_few = timed([a.zuv], few, a.runs)
            line = "%-34s %10.3f %10.3f %7.2f" % ("%s (%d KB)" % (name, size // 1024), t_many, t_few,
                                                 t_many / t_few)
            if a.instructions:
                i_many = instructions([a.zuv], many)
                i_few = instructions([a.zuv], few)
                line += " %14d %14d %7.2f" % (i_many, i_few, i_many / i_few if i_few else 0)
            print(line)


if __name__ == "__main__":
    main()
