#!/usr/bin/env python3
"""Function-body plans side by side: Zuv with plans off and on, and CPython.

Prints, for fib and for three-argument calls, callgrind instruction counts per
call (the same program with a tiny count taken off, so start-up drops out)
beside wall-clock medians of the full-size runs; then the per-operation costs
inside a function body (a body holding the operation 50 times against one
holding its parts only, each called 2,000 times less 1,000 times, so that
loading the body, its first run and its plan's build drop out) beside the
budgets the plans aim at; then start-up instructions with plans off and on.

Usage: bench/plans.py [--runs N] [--zuv PATH] [--python PATH] [--no-time]
"""

import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

FIB_ZUV = "Zuv []\nfib: func [n] [either n < 2 [n] [(fib n - 1) + fib n - 2]]\nfib %d\n"
FIB_PY = ("def fib(n):\n    return n if n < 2 else fib(n - 1) + fib(n - 2)\n"
          "fib(%d)\n")
CALL3_ZUV = "Zuv []\nf: func [a b c] [a + b + c]\nloop %d [f 1 2 3]\n"
CALL3_PY = "def f(a, b, c):\n    return a + b + c\nfor _ in range(%d):\n    f(1, 2, 3)\n"


def fib_calls(n):
    a, b = 1, 1
    for _ in range(n):
        a, b = b, a + b + 1
    return a


# Operation, its body (x a local holding 1, t true, h a one-argument
# function returning its argument), the body of its parts, budget.
OPS = [
    ("word push", "x", "", 24),
    ("word op literal", "x + 1", "x", 55),
    ("paren", "(x)", "x", 36),
    ("either", "either t [x] [x]", "x", 120),
    ("call", "h x", "x x", 110),
    ("+ with its frame", "x + (x)", "x (x)", 85),
]
OP_REPEAT = 50
OP_CALLS = 2000


def op_program(body, calls):
    return ("Zuv []\nh: func [a] [a]\nt: true\n"
            "g: func [x] [%s]\nloop %d [g 1]\n" % ((" " + body) * OP_REPEAT, calls))


def instructions(argv, env):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "cg.out")
        p = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out] + argv,
                           env=env, capture_output=True, text=True)
        m = re.search(r"refs:\s+([\d,]+)", p.stderr)
        if m is None:
            sys.exit("callgrind failed on %s:\n%s" % (argv, p.stderr[-2000:]))
        return int(m.group(1).replace(",", ""))


def wall(argv, env, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(argv, env=env, check=True, stdout=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--zuv", default=os.path.join(ROOT, "build", "zuv"))
    ap.add_argument("--python", default="/usr/bin/python3")
    ap.add_argument("--no-time", action="store_true", help="callgrind figures only")
    args = ap.parse_args()
    base = {k: v for k, v in os.environ.items() if not k.startswith("ZUV_")}
    modes = [("zuv plans off", dict(base, ZUV_PLANS="0")),
             ("zuv plans on", dict(base, ZUV_PLANS="1"))]

    with tempfile.TemporaryDirectory() as tmp:
        def write(name, text):
            path = os.path.join(tmp, name)
            with open(path, "w") as f:
                f.write(text)
            return path

        print("%-16s %-16s %14s %12s" % ("program", "run by", "instr/call", "median s"))
        for label, zuv_text, py_text, small, big, ibig, calls in [
            ("fib 30", FIB_ZUV, FIB_PY, 1, 30, 25, fib_calls),
            ("call3 5e6", CALL3_ZUV, CALL3_PY, 1, 5000000, 500000, lambda n: n),
        ]:
            runners = [(m, env, args.zuv, zuv_text, ".zuv") for m, env in modes]
            runners.append(("python3", base, args.python, py_text, ".py"))
            # Wall-clock runs alternate between the runners: a busy machine
            # then slows all of them alike.
            times = {name: [] for name, _, _, _, _ in runners}
            for i in range(0 if args.no_time else args.runs):
                for name, env, exe, text, ext in runners:
                    path = write("full%d%s" % (i, ext), text % big)
                    times[name].append(wall([exe, path], env, 1))
            for name, env, exe, text, ext in runners:
                lo = write("lo" + ext, text % small)
                hi = write("hi" + ext, text % ibig)
                per = (instructions([exe, hi], env) - instructions([exe, lo], env)) / (
                    calls(ibig) - calls(small))
                secs = statistics.median(times[name]) if times[name] else float("nan")
                print("%-16s %-16s %14.0f %12.3f" % (label, name, per, secs))

        print()
        print("%-18s %10s %10s %8s" % ("operation", "plans off", "plans on", "budget"))
        for name, body, parts, budget in OPS:
            row = []
            for _, env in modes:
                cost = 0
                for text, sign in ((body, 1), (parts, -1)):
                    for calls, half in ((OP_CALLS, 1), (OP_CALLS // 2, -1)):
                        path = write("op.zuv", op_program(text, calls))
                        cost += sign * half * instructions([args.zuv, path], env)
                row.append(cost / (OP_REPEAT * (OP_CALLS - OP_CALLS // 2)))
            print("%-18s %10.0f %10.0f %8d" % (name, row[0], row[1], budget))

        print()
        empty = write("empty.zuv", "Zuv []\n")
        counts = [instructions([args.zuv, empty], env) for _, env in modes]
        print("start-up instructions: plans off %d, plans on %d (%+.2f%%)" % (
            counts[0], counts[1], 100.0 * (counts[1] - counts[0]) / counts[0]))


if __name__ == "__main__":
    main()
