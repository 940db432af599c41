#!/usr/bin/env python3
"""Compare Zuv against Python and Lua on the same programs.

Every bench/scripts/NAME.zuv that has siblings NAME.py and NAME.lua is run
with each of the three interpreters, several times; the table reports the
median wall time and the peak resident memory of each, and Zuv's ratio to the
other two. Zuv's start-up time (a script holding only its header) is reported
on its own, since it is a fixed cost inside every other figure. A
NAME.gen.py beside the scripts writes NAME's inputs before the runs. The
three programs' runs alternate, each after a sync of the file system.

Usage: bench/run.py [--runs N] [--zuv PATH] [--python PATH] [--lua PATH] [NAME ...]
"""

import argparse
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCRIPTS = os.path.join(ROOT, "bench", "scripts")


class Runner:
    """Runs a program once: (ok, wall seconds, peak RSS in KiB, why not ok)."""

    def __init__(self, measure, timeout):
        self.measure = measure
        self.timeout = timeout

    def __call__(self, argv, cwd):
        if self.measure:
            return self._with_helper(argv, cwd)
        return self._direct(argv, cwd)

    def _with_helper(self, argv, cwd):
        cmd = [self.measure, str(int(self.timeout + 0.999))] + argv
        proc = subprocess.run(cmd, cwd=cwd, stdin=subprocess.DEVNULL,
                              capture_output=True)
        try:
            code, wall_ns, rss = (int(x) for x in proc.stdout.split())
        except ValueError:
            return False, 0.0, 0, "measure helper failed: %r" % proc.stderr[-500:]
        wall = wall_ns / 1e9
        if code != 0:
            return False, wall, rss, self._why(code, wall, proc.stderr)
        return True, wall, rss, ""

    def _direct(self, argv, cwd):
        # Without the helper the peak RSS includes this Python process's own,
        # inherited through fork; main() warns about it.
        with tempfile.TemporaryFile() as err:
            start = time.perf_counter()
            try:
                proc = subprocess.Popen(argv, cwd=cwd, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=err,
                                        start_new_session=True)
            except OSError as e:
                return False, 0.0, 0, str(e)
            timer = threading.Timer(self.timeout, os.killpg, (proc.pid, signal.SIGKILL))
            timer.start()
            _, status, usage = os.wait4(proc.pid, 0)
            wall = time.perf_counter() - start
            timer.cancel()
            proc.returncode = code = os.waitstatus_to_exitcode(status)
            if code != 0:
                err.seek(0)
                return False, wall, usage.ru_maxrss, self._why(code, wall, err.read())
            return True, wall, usage.ru_maxrss, ""

    def _why(self, code, wall, stderr):
        if wall >= self.timeout:
            return "timed out after %g s" % self.timeout
        message = stderr[-2000:].decode("utf-8", "replace").strip()
        return "exit status %d: %s" % (code, message)


def settle():
    """Flushes dirty pages, so that writeback of files one run wrote is not
    billed to the next run (the file benchmarks write 100 MB each)."""
    if hasattr(os, "sync"):
        os.sync()


def series(runner, argv, cwd, runs):
    """Median wall time (ms) and median peak RSS (KiB) over runs, or an error."""
    return interleaved(runner, [argv], cwd, runs)[0]


def interleaved(runner, argvs, cwd, runs):
    """series() for several programs whose runs alternate (a b c a b c ...),
    so that a slow drift of the machine touches each of them alike. One
    (result, why) per program; None stands for a program not found."""
    times = [[] for _ in argvs]
    peaks = [[] for _ in argvs]
    why = ["" if argv[0] else "interpreter not found" for argv in argvs]
    for _ in range(runs):
        for i, argv in enumerate(argvs):
            if why[i]:
                continue
            settle()
            ok, wall, rss, reason = runner(argv, cwd)
            if not ok:
                why[i] = reason
                continue
            times[i].append(wall * 1000.0)
            peaks[i].append(rss)
    return [(None, why[i]) if why[i] else
            ((statistics.median(times[i]), statistics.median(peaks[i])), "")
            for i in range(len(argvs))]


def ratio(a, b):
    if a is None or b is None or b[0] == 0:
        return None, None
    return a[0] / b[0], a[1] / b[1] if b[1] else None


def fmt(value, spec, width):
    return (spec % value if value is not None else "-").rjust(width)


def find_tool(preferred, name):
    for candidate in (preferred, shutil.which(name)):
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    return None


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--runs", type=int, default=5, help="runs per program (default 5)")
    ap.add_argument("--zuv", default=os.path.join(ROOT, "build", "zuv"))
    # The system interpreter, not a version-manager shim whose own start-up
    # would be billed to Python.
    ap.add_argument("--python", default=find_tool("/usr/bin/python3", "python3"))
    ap.add_argument("--lua", default=find_tool("/usr/bin/lua5.4", "lua5.4"))
    ap.add_argument("--measure", default=None,
                    help="zuv_measure helper (default: next to the zuv binary)")
    ap.add_argument("--timeout", type=float, default=300.0, help="seconds per run")
    ap.add_argument("names", nargs="*", help="only these benchmarks")
    args = ap.parse_args()
    runs = max(1, args.runs)
    zuv = os.path.abspath(args.zuv)

    print("zuv:    %s" % zuv)
    print("python: %s" % (args.python or "not found"))
    print("lua:    %s" % (args.lua or "not found"))
    measure = os.path.abspath(args.measure or os.path.join(os.path.dirname(zuv), "zuv_measure"))
    if not os.access(measure, os.X_OK):
        measure = None
    runner = Runner(measure, args.timeout)
    print("runs:   %d (medians shown)" % runs)
    if measure is None:
        print("note:   zuv_measure not found; peak memory includes this runner's own"
              " (~10+ MiB)")
    print()

    if not os.access(zuv, os.X_OK):
        print("zuv binary not found; build it first (make build)")
        return 1

    with tempfile.TemporaryDirectory(prefix="zuv-bench-") as tmp:
        empty = os.path.join(tmp, "empty.zuv")
        with open(empty, "w") as f:
            f.write("Zuv []\n")
        startup, why = series(runner, [zuv, empty], tmp, max(runs, 20))
        if startup:
            print("zuv start-up: %.2f ms, peak RSS %.1f MiB\n"
                  % (startup[0], startup[1] / 1024.0))
        else:
            print("zuv start-up: zuv failed (%s)\n" % why)

    names = []
    if os.path.isdir(SCRIPTS):
        for entry in sorted(os.listdir(SCRIPTS)):
            stem, ext = os.path.splitext(entry)
            if ext == ".zuv" and all(os.path.exists(os.path.join(SCRIPTS, stem + e))
                                     for e in (".py", ".lua")):
                names.append(stem)
    if args.names:
        unknown = sorted(set(args.names) - set(names))
        if unknown:
            print("unknown benchmark(s): %s" % ", ".join(unknown))
            return 1
        names = [n for n in names if n in args.names]
    if not names:
        print("no scripts in bench/scripts (each needs NAME.zuv, NAME.py and NAME.lua)")
        return 0

    # Inputs too big to keep in the repository come from NAME.gen.py, run here
    # once and untimed; the generators skip files that already exist.
    for name in names:
        gen = os.path.join(SCRIPTS, name + ".gen.py")
        if os.path.exists(gen):
            subprocess.run([args.python or sys.executable, gen], cwd=SCRIPTS, check=True)

    header = ("%-20s %10s %10s %10s %8s %8s %9s %9s %9s %8s %8s"
              % ("benchmark", "zuv ms", "py ms", "lua ms", "zuv/py", "zuv/lua",
                 "zuv MiB", "py MiB", "lua MiB", "mem/py", "mem/lua"))
    print(header)
    print("-" * len(header))
    failures = []
    for name in names:
        (z, zwhy), (p, pwhy), (l, lwhy) = interleaved(
            runner, [[zuv, name + ".zuv"], [args.python, name + ".py"],
                     [args.lua, name + ".lua"]], SCRIPTS, runs)
        for who, res, why in (("zuv", z, zwhy), ("python", p, pwhy), ("lua", l, lwhy)):
            if res is None:
                failures.append("%s/%s: %s" % (name, who, why))
        zp_t, zp_m = ratio(z, p)
        zl_t, zl_m = ratio(z, l)
        if z is None:
            cells = ["zuv failed".rjust(10)]
        else:
            cells = [fmt(z[0], "%.1f", 10)]
        cells += [fmt(p and p[0], "%.1f", 10), fmt(l and l[0], "%.1f", 10),
                  fmt(zp_t, "%.2f", 8), fmt(zl_t, "%.2f", 8),
                  fmt(z and z[1] / 1024.0, "%.1f", 9), fmt(p and p[1] / 1024.0, "%.1f", 9),
                  fmt(l and l[1] / 1024.0, "%.1f", 9),
                  fmt(zp_m, "%.2f", 8), fmt(zl_m, "%.2f", 8)]
        print("%-20s %s" % (name, " ".join(cells)), flush=True)
    if failures:
        print("\nfailures:")
        for line in failures:
            print("  " + line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
