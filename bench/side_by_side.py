"""Timing several small programs against each other, alternating, for the
one-run comparisons (bench/codecs.py, bench/images.py).

A program is (name, kind, code): kind "zuv" or "py"; @DATA@ in the code
stands for bench/data, @TMP@ for a scratch folder of the run.
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile

from run import Runner

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, "bench", "data")


def arguments(doc):
    """The options every such benchmark takes; makes bench/data as well."""
    ap = argparse.ArgumentParser(description=doc, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--zuv", default=os.path.join(ROOT, "build", "zuv"))
    ap.add_argument("--python", default="/usr/bin/python3")
    os.makedirs(DATA, exist_ok=True)
    return ap.parse_args()


def time_programs(programs, zuv, python, runs, sync=False):
    """Runs each program runs times, in turn; prints the table and returns
    the median wall time of each by name."""
    measure = os.path.join(os.path.dirname(os.path.abspath(zuv)), "zuv_measure")
    run = Runner(measure if os.path.exists(measure) else None, 600)
    results = {name: [] for name, _, _ in programs}
    with tempfile.TemporaryDirectory() as tmp:
        argvs = {}
        for i, (name, kind, code) in enumerate(programs):
            path = os.path.join(tmp, "p%d.%s" % (i, "zuv" if kind == "zuv" else "py"))
            with open(path, "w", encoding="utf-8") as f:
                f.write(code.replace("@DATA@", DATA).replace("@TMP@", tmp))
            argvs[name] = [zuv if kind == "zuv" else python, path]
        for _ in range(runs):
            for name, _, _ in programs:
                if sync:
                    subprocess.run(["sync"])
                ok, wall, rss, why = run(argvs[name], DATA)
                if not ok:
                    sys.exit("%s failed: %s" % (name, why))
                results[name].append((wall, rss))
    width = max(len(name) for name, _, _ in programs) + 2
    print("%-*s %10s %10s" % (width, "program", "median s", "peak MiB"))
    med = {}
    for name, _, _ in programs:
        med[name] = statistics.median(w for w, _ in results[name])
        print("%-*s %10.3f %10.1f" % (width, name, med[name], max(r for _, r in results[name]) / 1024))
    return med
