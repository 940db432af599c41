#!/usr/bin/env python3
"""Medians of the phases a bench script times itself.

Some benches time parts of their work inside the script (for example data
generation apart from the sort), printing lines "PHASE: MS ms". This runs
NAME.zuv, NAME.py and NAME.lua several times each and tables the median of
every phase, with Zuv's ratios to Python and Lua.

Usage: bench/phases.py [--runs N] [--zuv PATH] [--python PATH] [--lua PATH] NAME ...
"""

import argparse
import os
import re
import statistics
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCRIPTS = os.path.join(ROOT, "bench", "scripts")
PHASE = re.compile(r"^\s*([\w-]+):\s*([0-9.]+)\s*ms\s*$")


def phases(argv, runs):
    seen = {}
    for _ in range(runs):
        proc = subprocess.run(argv, cwd=SCRIPTS, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True)
        if proc.returncode != 0:
            raise SystemExit("%s failed: %s" % (" ".join(argv), proc.stderr[-2000:]))
        for line in proc.stdout.splitlines():
            m = PHASE.match(line)
            if m:
                seen.setdefault(m.group(1), []).append(float(m.group(2)))
    return {k: statistics.median(v) for k, v in seen.items()}


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--zuv", default=os.path.join(ROOT, "build", "zuv"))
    ap.add_argument("--python", default="/usr/bin/python3")
    ap.add_argument("--lua", default="/usr/bin/lua5.4")
    ap.add_argument("names", nargs="+")
    args = ap.parse_args()
    runs = max(1, args.runs)
    print("%-24s %10s %10s %10s %8s %8s" % ("phase", "zuv ms", "py ms", "lua ms", "zuv/py", "zuv/lua"))
    for name in args.names:
        z = phases([os.path.abspath(args.zuv), name + ".zuv"], runs)
        p = phases([args.python, name + ".py"], runs)
        l = phases([args.lua, name + ".lua"], runs)
        for phase, zt in z.items():
            pt, lt = p.get(phase), l.get(phase)

            def cell(v, spec):
                return spec % v if v is not None else "-"

            print("%-24s %10.1f %10s %10s %8s %8s" % (
                name + "/" + phase, zt, cell(pt, "%.1f"), cell(lt, "%.1f"),
                cell(pt and zt / pt, "%.2f"), cell(lt and zt / lt, "%.2f")))
    return 0


if __name__ == "__main__":
    sys.exit(main())
