#!/usr/bin/env python3
"""Piped console input: Zuv's console beside `python3 -i` on the same lines.

Both read N lines of small expressions from a pipe (a file on standard
input), evaluate each and print its result; the table gives the median wall
time of several runs and Zuv's ratio to Python.

Usage: bench/console.py [--lines N] [--runs N] [--zuv PATH] [--python PATH]
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def lines(n):
    """Small expressions that mean the same in both languages."""
    forms = ["{i} + 1", "{i} * 2", "x: {i}", "x + {i}", "length? [1 2 3]", "{i} - 3 * 2"]
    py = ["{i} + 1", "{i} * 2", "x = {i}", "x + {i}", "len([1, 2, 3])", "({i} - 3) * 2"]
    zuv_text, py_text = [], []
    for i in range(n):
        k = i % len(forms)
        zuv_text.append(forms[k].format(i=i))
        py_text.append(py[k].format(i=i))
    return "\n".join(zuv_text) + "\n", "\n".join(py_text) + "\n"


def timed(argv, path, runs):
    times = []
    for _ in range(runs):
        with open(path, "rb") as stdin:
            start = time.perf_counter()
            done = subprocess.run(argv, stdin=stdin, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            times.append(time.perf_counter() - start)
        if done.returncode != 0:
            sys.exit("%s ended with status %d" % (argv[0], done.returncode))
    return statistics.median(times)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--lines", type=int, default=100000)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--zuv", default=os.path.join(ROOT, "build", "zuv"))
    ap.add_argument("--python", default="python3")
    a = ap.parse_args()
    zuv_text, py_text = lines(a.lines)
    with tempfile.TemporaryDirectory() as tmp:
        zuv_in = os.path.join(tmp, "in.zuv-lines")
        py_in = os.path.join(tmp, "in.py-lines")
        with open(zuv_in, "w") as f:
            f.write(zuv_text)
        with open(py_in, "w") as f:
            f.write(py_text)
        z = timed([a.zuv], zuv_in, a.runs)
        p = timed([a.python, "-i", "-q"], py_in, a.runs)
    print("%-28s %10s %10s %8s" % ("piped console, %d lines" % a.lines, "zuv s", "python s", "ratio"))
    print("%-28s %10.3f %10.3f %8.2f" % ("", z, p, z / p))


if __name__ == "__main__":
    main()
