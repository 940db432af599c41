#!/usr/bin/env python3
"""Float text conversion: Zuv's formatter and reader beside CPython's.

Times repr() and float() over the same million doubles that
bench/micro/float_text_bench.cpp converts (same splitmix64 sequence, same
seed), runs that benchmark, and prints both with Zuv's time as a ratio of
CPython's (below 1.0: Zuv is faster).

Usage: bench/float_text.py [--bench PATH]   (default: build/zuv_bench)
"""

import argparse
import json
import os
import struct
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COUNT = 1000000
MASK = (1 << 64) - 1


def numbers(short_decimals):
    state = 42
    out = []
    while len(out) < COUNT:
        state = (state + 0x9E3779B97F4A7C15) & MASK
        z = state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
        r = z ^ (z >> 31)
        if short_decimals:
            out.append((r % 2000001 - 1000000) / 1000.0)
        else:
            if (r >> 52) & 0x7FF == 0x7FF:
                continue
            out.append(struct.unpack("<d", struct.pack("<Q", r))[0])
    return out


def best(fn, runs=5):
    times = []
    for _ in range(runs):
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
    return min(times) * 1000.0


def python_times():
    result = {}
    for kind, short in (("bits", False), ("short", True)):
        values = numbers(short)
        texts = list(map(repr, values))
        result["format_" + kind] = best(lambda: list(map(repr, values)))
        result["scan_" + kind] = best(lambda: list(map(float, texts)))
    return result


def zuv_times(bench):
    out = subprocess.run([bench, "--benchmark_filter=FloatText", "--benchmark_format=json"],
                         check=True, capture_output=True, text=True).stdout
    result = {}
    for b in json.loads(out)["benchmarks"]:
        name = b["name"].replace("FloatText_", "")
        result[name] = b["real_time"]  # milliseconds (the benchmarks' unit)
    return result


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bench", default=os.path.join(ROOT, "build", "zuv_bench"))
    args = parser.parse_args()
    if not os.access(args.bench, os.X_OK):
        sys.exit("no benchmark binary at %s (build the zuv_bench target)" % args.bench)
    zuv = zuv_times(args.bench)
    py = python_times()
    print("%-14s %12s %12s %8s" % ("1e6 doubles", "Zuv ms", "CPython ms", "ratio"))
    for name in ("format_bits", "format_short", "scan_bits", "scan_short"):
        print("%-14s %12.1f %12.1f %8.2f" % (name, zuv[name], py[name], zuv[name] / py[name]))


if __name__ == "__main__":
    main()
