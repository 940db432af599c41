#!/usr/bin/env python3
"""Start-up to exit, side by side: Zuv from its boot image, Zuv from the
library's sources, and `python3 -c pass`.

The two Zuv binaries run bench/scripts/quit.zuv (a header and `quit`). The
source-boot binary is a build configured with -DZUV_BOOT_IMAGE=OFF
(`cmake -S . -B build-src -DZUV_BOOT_IMAGE=OFF && cmake --build build-src
--target zuv`). Runs alternate (image, source, python, image, ...), and the
table gives median wall time and peak RSS.

Usage: bench/startup.py [--runs N] [--zuv PATH] [--zuv-source PATH] [--python PATH]
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run import ROOT, SCRIPTS, Runner, interleaved  # noqa: E402


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--runs", type=int, default=41)
    ap.add_argument("--zuv", default=os.path.join(ROOT, "build", "zuv"))
    ap.add_argument("--zuv-source", default=os.path.join(ROOT, "build-src", "zuv"))
    ap.add_argument("--python", default="/usr/bin/python3")
    args = ap.parse_args()
    zuv = os.path.abspath(args.zuv)
    measure = os.path.join(os.path.dirname(zuv), "zuv_measure")
    runner = Runner(measure if os.access(measure, os.X_OK) else None, 30)
    source = os.path.abspath(args.zuv_source)
    rows = [
        ("zuv, boot image", [zuv, "quit.zuv"]),
        ("zuv, source boot", [source if os.access(source, os.X_OK) else None, "quit.zuv"]),
        ("python3 -c pass", [args.python, "-c", "pass"]),
    ]
    results = interleaved(runner, [argv for _, argv in rows], SCRIPTS, max(1, args.runs))
    print("%-20s %10s %10s" % ("start-up to exit", "ms", "peak KiB"))
    for (label, _), (result, why) in zip(rows, results):
        if result is None:
            print("%-20s %s" % (label, why))
            continue
        wall, rss = result
        print("%-20s %10.2f %10d" % (label, wall, rss))
    return 0


if __name__ == "__main__":
    sys.exit(main())
