#!/usr/bin/env python3
"""Library-heavy jobs beside CPython: time and instructions.

Each job in bench/library/ is written twice (NAME.zuv, NAME.py) doing the same
work; the Python side uses CPython's C modules where a user would (json, csv,
re, math, trace):

  report      format 500k lines with pad, rejoin, form
  wordfreq    split a generated text, count words in a map
  json_rt     load-json + to-json of a 20 MB document
  csv_rt      load-csv + to-csv of a 20 MB file
  mathh       10^6 x (sqrt x + sin x + atan2 x 1.0)
  trace_loop  trace of a 10^5-step loop (different text, compare time only)
  parse       count thru "abc" with a paren in 24 MB

Times: the runs alternate (Zuv, CPython, Zuv, ...); the table gives the median
CPU time (user + system) of each and their ratio. Instructions (--callgrind):
callgrind's count for the whole process, on the job shrunk to a size that
valgrind runs in seconds (SMALL below), for both. --base adds a second Zuv
binary (the build before a change) to both tables.

gen_data.py writes the codec jobs' files (/tmp/zuv-bench-data, and a
twentieth of them in /tmp/zuv-bench-data-small) when they are missing.

Figures of the branch that made the native path calls and rejoin, pad and
to-integer cheaper, beside the build before it (a busy machine: the
instructions are the steady figures):

  job      CPU s: zuv  before  CPython   instructions (M): zuv  before  CPython
  report          7.31  13.83     2.57                       646     922      497
  mathh           0.51   0.58     0.44                       184     200      148

Figures of the branch that copied JSON strings in runs, read JSON input
through one address per scan and decoded ASCII input eight bytes at a time,
beside the build before it (8 cores shared with three builds, load 7 to 16;
medians of 5 runs, of 9 for json_rt, parse and mathh):

  job         CPU s: zuv  before  CPython  zuv/py   instructions (M): zuv  before  CPython
  report             1.34    1.30     1.21    1.11                      556     556      499
  wordfreq           2.45    2.43     1.83    1.33                     1140    1140      747
  json_rt            1.75    1.93     1.35    1.30                      209     298      230
  csv_rt             1.01    0.91     1.96    0.52                      176     188      242
  mathh              0.27    0.25     0.33    0.83                      153     153      150
  trace_loop         1.08    1.11     1.09    0.99                      455     455      226
  parse              0.31    0.32     0.20    1.60                      178     178      143

At the full size (17 MB) json_rt took 5,218 million instructions before and
CPython 3,619. Under heavier load (20 to 44) the same json_rt runs gave
2.00 / 2.73 / 2.61 s: the times swing with the load, the instructions hold.
parse's gap in time is mostly start-up and building the 24 MB text (about
0.13 s of zuv's 0.31; bench/parse_text.py takes both off and has zuv's thru
at 0.69x re's time and 1.04x its instructions).

Usage: bench/library_jobs.py [--runs N] [--zuv PATH] [--base PATH]
                             [--python PATH] [--callgrind] [--no-time] [JOB ...]
"""

import argparse
import os
import re
import resource
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
JOBS_DIR = os.path.join(ROOT, "bench", "library")
JOBS = ["report", "wordfreq", "json_rt", "csv_rt", "mathh", "trace_loop", "parse"]
DATA = "/tmp/zuv-bench-data"
SMALL_DATA = DATA + "-small"

# The replacements that shrink a job for callgrind: (pattern, replacement)
# applied to both programs' text.
SMALL = {
    "report": [(r"\b500000\b", "20000")],
    "wordfreq": [(r"\b2000000\b", "100000")],
    "json_rt": [(re.escape(DATA) + "/", SMALL_DATA + "/")],
    "csv_rt": [(re.escape(DATA) + "/", SMALL_DATA + "/")],
    "mathh": [(r"\b1000000\b", "40000"), (r"\b1000001\b", "40001")],
    "trace_loop": [(r"\b100000\b", "5000"), (r"\b100001\b", "5001")],
    "parse": [(r"\b2000000\b", "100000")],
}


def program(job, kind, small):
    with open(os.path.join(JOBS_DIR, job + "." + kind), encoding="utf-8") as f:
        text = f.read()
    if small:
        for pattern, replacement in SMALL[job]:
            text = re.sub(pattern, replacement, text)
    return text


def make_data(python):
    gen = os.path.join(JOBS_DIR, "gen_data.py")
    for folder, scale in ((DATA, "1"), (SMALL_DATA, "20")):
        if not os.path.exists(os.path.join(folder, "big.csv")):
            subprocess.run([python, gen, folder, scale], check=True)


def cpu_run(argv, cwd):
    """CPU seconds of one run (its output thrown away)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    done = subprocess.run(argv, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if done.returncode != 0:
        sys.exit("%s failed: %s" % (" ".join(argv), done.stderr.decode(errors="replace")[-400:]))
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def instructions(argv, cwd):
    done = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"] + argv,
                          cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    m = re.search(r"Collected : (\d+)", done.stderr.decode(errors="replace"))
    if done.returncode != 0 or not m:
        sys.exit("callgrind of %s failed" % " ".join(argv))
    return int(m.group(1))


def write_programs(tmp, job, small):
    paths = {}
    for kind in ("zuv", "py"):
        path = os.path.join(tmp, "%s%s.%s" % (job, "-small" if small else "", kind))
        with open(path, "w", encoding="utf-8") as f:
            f.write(program(job, kind, small))
        paths[kind] = path
    return paths


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--zuv", default=os.path.join(ROOT, "build", "zuv"))
    ap.add_argument("--base", help="a second zuv binary: the figures before a change")
    ap.add_argument("--python", default="/usr/bin/python3")
    ap.add_argument("--callgrind", action="store_true", help="count instructions as well")
    ap.add_argument("--no-time", action="store_true", help="skip the timed runs")
    ap.add_argument("jobs", nargs="*", default=JOBS)
    args = ap.parse_args()
    make_data(args.python)
    zuvs = [("zuv", args.zuv)] + ([("base", args.base)] if args.base else [])
    with tempfile.TemporaryDirectory() as tmp:
        if not args.no_time:
            head = "%-11s" % "job" + "".join("%10s" % n for n, _ in zuvs) + "%10s" % "python"
            print("CPU seconds, median of %d alternating runs" % args.runs)
            print(head + "".join("%12s" % (n + "/py") for n, _ in zuvs))
            for job in args.jobs:
                paths = write_programs(tmp, job, False)
                times = {n: [] for n, _ in zuvs + [("python", args.python)]}
                for _ in range(args.runs):
                    for name, exe in zuvs:
                        times[name].append(cpu_run([exe, paths["zuv"]], tmp))
                    times["python"].append(cpu_run([args.python, paths["py"]], tmp))
                med = {n: statistics.median(t) for n, t in times.items()}
                line = "%-11s" % job + "".join("%10.2f" % med[n] for n, _ in zuvs)
                line += "%10.2f" % med["python"]
                line += "".join("%12.2f" % (med[n] / med["python"]) for n, _ in zuvs)
                print(line, flush=True)
        if args.callgrind:
            print("\ninstructions (millions), each job shrunk (see SMALL)")
            print("%-11s" % "job" + "".join("%10s" % n for n, _ in zuvs) + "%10s" % "python" +
                  "".join("%12s" % (n + "/py") for n, _ in zuvs))
            for job in args.jobs:
                paths = write_programs(tmp, job, True)
                counts = {name: instructions([exe, paths["zuv"]], tmp) for name, exe in zuvs}
                counts["python"] = instructions([args.python, paths["py"]], tmp)
                line = "%-11s" % job + "".join("%10.0f" % (counts[n] / 1e6) for n, _ in zuvs)
                line += "%10.0f" % (counts["python"] / 1e6)
                line += "".join("%12.2f" % (counts[n] / counts["python"]) for n, _ in zuvs)
                print(line, flush=True)


if __name__ == "__main__":
    main()
