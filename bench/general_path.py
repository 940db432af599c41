#!/usr/bin/env python3
"""Programs written afresh, as a newcomer writes them, beside their CPython
twins: callgrind instructions of the whole process, CPU time medians and
peak RSS, and Zuv's ratios to CPython.

The programs are bench/general/NAME.zuv and NAME.py, each pair printing the
same bytes (checked on every run; a difference stops the table):

  dijkstra   shortest paths over 40,000 nodes held in maps, a binary heap
             of maps kept with pick and poke
  records    80,000 records in maps sorted twice by several keys (Zuv:
             sort/compare with a function; Python: key tuples), a group-by
  bytecode   a stack machine of 13 instructions dispatched by switch (an
             if/elif chain in Python) counting primes: 4.7 million steps
  matmul     two products of 170x170 matrices held as blocks of floats,
             a/:i/:k paths in the inner loop
  life       100 generations of Conway's life on a 96x96 wrapping grid
  scheduler  round-robin turns over 75,000 tasks, objects of four kinds
             each with its own step and result methods
  hof        map, filter and fold written with function values, closures
             made with compose, natives passed as functions

Each is written the way the language reads, not tuned to any fast path.
The instructions are those of one run at full size (several minutes under
callgrind for all of them; --jobs runs them side by side).

Usage: bench/general_path.py [--runs N] [--no-instructions] [--jobs N]
                             [--zuv PATH] [--python PATH] [NAME ...]

Figures (main at 355169f; CPython is Debian's /usr/bin/python3 3.11.2;
--runs 3 on a loaded 8-CPU machine: the instruction counts are the figures
that count, the times are medians of noisy runs):

  program      zuv s    py s  zuv/py  zuv MiB   py MiB  mem/py    zuv Mi     py Mi  ins/py
  dijkstra      2.27    1.00    2.28     98.6     71.3    1.38   10833.1    3322.2    3.26
  records       3.57    0.69    5.21     51.3     48.5    1.06   20207.7    2150.2    9.40
  bytecode      2.04    1.01    2.02      9.7      8.4    1.16   17711.6   10818.4    1.64
  matmul        2.91    0.62    4.72     11.5     12.6    0.91   26245.6    5379.1    4.88
  life          2.65    0.47    5.62     16.7      8.3    2.00   26881.7    6554.0    4.10
  scheduler     3.39    0.86    3.94    267.5     28.6    9.35    9945.5    4944.6    2.01
  hof           1.81    0.97    1.88     16.1      8.4    1.92   17567.3   10214.8    1.72
"""

import argparse
import concurrent.futures
import os
import re
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROGRAMS_DIR = os.path.join(ROOT, "bench", "general")
PROGRAMS = ["dijkstra", "records", "bytecode", "matmul", "life", "scheduler", "hof"]


def output_of(argv):
    p = subprocess.run(argv, cwd=PROGRAMS_DIR, stdin=subprocess.DEVNULL, capture_output=True)
    if p.returncode != 0:
        sys.exit("%s failed:\n%s" % (" ".join(argv), p.stderr.decode(errors="replace")[-2000:]))
    return p.stdout


def measure_beside(zuv):
    """The zuv_measure built beside zuv, None when there is none."""
    measure = os.path.join(os.path.dirname(zuv), "zuv_measure")
    return measure if os.access(measure, os.X_OK) else None


def cpu_run(measure, argv, cwd=PROGRAMS_DIR, env=None):
    """(CPU seconds, peak RSS in KiB) of one run. Through zuv_measure the peak
    is the child's own (see bench/tools/measure.c) and wait4's CPU time for
    the helper includes its child's; without it, /usr/bin/time reports both."""
    if measure:
        with tempfile.TemporaryFile() as out:
            proc = subprocess.Popen([measure, "900"] + argv, cwd=cwd, env=env,
                                    stdin=subprocess.DEVNULL, stdout=out)
            _, status, usage = os.wait4(proc.pid, 0)
            out.seek(0)
            code, _, rss = (int(x) for x in out.read().split())
        if os.waitstatus_to_exitcode(status) != 0 or code != 0:
            sys.exit("%s failed" % " ".join(argv))
        return usage.ru_utime + usage.ru_stime, rss
    p = subprocess.run(["/usr/bin/time", "-f", "%U %S %M"] + argv, cwd=cwd, env=env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, text=True)
    if p.returncode != 0:
        sys.exit("%s failed" % " ".join(argv))
    user, system, rss = p.stderr.strip().splitlines()[-1].split()
    return float(user) + float(system), int(rss)


def instructions(argv):
    p = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"] + argv,
                       cwd=PROGRAMS_DIR, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    found = re.search(r"refs:\s+([\d,]+)", p.stderr)
    if p.returncode != 0 or not found:
        sys.exit("callgrind failed on %s:\n%s" % (" ".join(argv), p.stderr[-2000:]))
    return int(found.group(1).replace(",", ""))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--no-instructions", action="store_true")
    ap.add_argument("--jobs", type=int, default=4, help="callgrind runs side by side")
    ap.add_argument("--zuv", default=os.path.join(ROOT, "build", "zuv"))
    ap.add_argument("--python", default="/usr/bin/python3")
    ap.add_argument("names", nargs="*")
    args = ap.parse_args()
    zuv = os.path.abspath(args.zuv)
    measure = measure_beside(zuv)
    names = args.names or PROGRAMS
    for name in names:
        if name not in PROGRAMS:
            sys.exit("no program %s (known: %s)" % (name, " ".join(PROGRAMS)))
    langs = [("zuv", zuv, ".zuv"), ("py", args.python, ".py")]

    # The timed runs first, alone, then the callgrind runs side by side.
    rows = {}
    for name in names:
        outs = {lang: output_of([exe, name + ext]) for lang, exe, ext in langs}
        if outs["zuv"] != outs["py"]:
            sys.exit("%s: the outputs differ\nzuv:\n%s\npy:\n%s" % (
                name, outs["zuv"].decode(errors="replace"), outs["py"].decode(errors="replace")))
        cpu = {lang: [] for lang, _, _ in langs}
        rss = {lang: 0 for lang, _, _ in langs}
        for _ in range(max(1, args.runs)):
            for lang, exe, ext in langs:
                c, r = cpu_run(measure, [exe, name + ext])
                cpu[lang].append(c)
                rss[lang] = max(rss[lang], r)
        rows[name] = ({k: statistics.median(v) for k, v in cpu.items()},
                      {k: v / 1024 for k, v in rss.items()})
        print("%s: outputs match, timed" % name, file=sys.stderr, flush=True)
    counted = {}
    if not args.no_instructions:
        with concurrent.futures.ThreadPoolExecutor(max(1, args.jobs)) as pool:
            jobs = {(name, lang): pool.submit(instructions, [exe, name + ext])
                    for name in names for lang, exe, ext in langs}
            counted = {k: f.result() for k, f in jobs.items()}

    print("zuv: %s\npython: %s\n" % (zuv, args.python))
    head = "%-10s %7s %7s %7s %8s %8s %7s" % ("program", "zuv s", "py s", "zuv/py", "zuv MiB",
                                              "py MiB", "mem/py")
    if counted:
        head += " %9s %9s %7s" % ("zuv Mi", "py Mi", "ins/py")
    print(head)
    for name in names:
        t, m = rows[name]
        line = "%-10s %7.2f %7.2f %7.2f %8.1f %8.1f %7.2f" % (
            name, t["zuv"], t["py"], t["zuv"] / t["py"], m["zuv"], m["py"], m["zuv"] / m["py"])
        if counted:
            z, p = counted[name, "zuv"], counted[name, "py"]
            line += " %9.1f %9.1f %7.2f" % (z / 1e6, p / 1e6, z / p)
        print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
