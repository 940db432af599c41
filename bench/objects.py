#!/usr/bin/env python3
"""Object-heavy programs side by side with CPython and Lua: CPU time, peak
memory and callgrind instructions.

The programs are bench/scripts/NAME.{zuv,py,lua} for NAME in PROGRAMS: nbody
(field reads and writes through paths on five bodies made from one spec
block), bintrees (make and walk binary trees of objects made from a
prototype), objects_make (a million two-field objects kept at once) and
objects_walk (a thousand objects of one spec, fields read and written in a
loop). Each is run --runs times, the three interpreters alternating; the
table shows the median CPU time (user + system) and the largest peak RSS of
each, and Zuv's ratios to the other two. With --instructions each program
also runs once under callgrind at a reduced size (SMALLER below) and the
instruction counts of the whole process are shown.

Usage: bench/objects.py [--runs N] [--instructions] [--zuv PATH] [NAME ...]

Figures (--runs 3 --instructions, a loaded 8-CPU machine: the instruction
counts are the figures that count, the times are medians of noisy runs;
CPython is /usr/bin/python3). Earlier round: before, paths left to the
interpreter by the plans; after, path reads, set-paths and chains of numbers
planned.

  program        zuv s  py s  zuv/py  zuv MiB  py MiB  zuv Mi   py Mi  ins/py
  before
  nbody           4.35  1.33    3.26      9.4     8.4   657.9   192.3    3.42
  bintrees        3.97  2.48    1.60     27.0    20.1  3575.9  1804.7    1.98
  objects_make    1.63  2.43    0.67    120.5   168.9   638.0   573.1    1.11
  objects_walk    0.16  0.13    1.19      9.5     8.1   207.2   109.7    1.89
  after
  nbody           1.96  1.22    1.61      9.5     8.5   326.0   192.3    1.70
  bintrees        4.42  2.89    1.53     27.1    20.0  3286.3  1804.5    1.82
  objects_make    2.32  2.78    0.83    120.6   168.9   564.1   547.5    1.03
  objects_walk    0.19  0.23    0.83      9.4     8.2   116.0   116.6    1.00

This round: before, as the round began; after, routines (none? and the
other type tests) planned as natives, make proto [] with an empty spec
neither bound nor run, division a fast operation, square-root of a leaf in
chains of numbers computed with nothing run, field marks set inline, pick
of a block by an integer in place.

  program        zuv s  py s  zuv/py  zuv MiB  py MiB  zuv Mi   py Mi  ins/py
  before
  nbody           1.95  1.50    1.30      9.7     8.5   319.3   192.3    1.66
  bintrees        4.38  2.47    1.78     27.4    20.0  3294.9  1805.6    1.82
  objects_make    1.28  2.29    0.56    120.7   168.8   566.7   552.7    1.03
  objects_walk    0.11  0.10    1.07      9.6     8.1   116.5   109.7    1.06
  after
  nbody           1.48  1.36    1.09      9.7     8.5   291.5   192.3    1.52
  bintrees        1.97  1.34    1.47     27.4    20.0  2187.5  1804.7    1.21
  objects_make    1.08  2.00    0.54    120.8   168.9   565.0   549.3    1.03
  objects_walk    0.10  0.09    1.13      9.8     8.1   113.6   116.6    0.98

The time ratios swing with the machine's load (nbody 1.09 to 1.41,
bintrees 1.18 to 1.47 over five runs of the round's last builds); the
instruction ratios do not.
"""

import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile

from run import SCRIPTS, ROOT, find_tool

PROGRAMS = ["nbody", "bintrees", "objects_make", "objects_walk"]

# Under callgrind the programs run at a reduced size: (pattern, replacement)
# applied to the source of every language.
SMALLER = {
    "nbody": [(r"\b300000\b", "3000")],
    "bintrees": [(r"(max[-_]depth\s*[:=]\s*)15", r"\g<1>12")],
    "objects_make": [(r"\b1000000\b", "100000"), (r"\b1000001\b", "100001")],
    "objects_walk": [(r"(loop |range\(|for _ = 1, )1000\b", r"\g<1>100")],
}


def cpu_run(measure, argv, timeout):
    """(cpu seconds, peak RSS KiB) of one run, through zuv_measure when there
    is one (the CPU time wait4 reports for it includes its child's)."""
    cmd = [measure, str(timeout)] + argv if measure else argv
    with tempfile.TemporaryFile() as err:
        proc = subprocess.Popen(cmd, cwd=SCRIPTS, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE if measure else subprocess.DEVNULL,
                                stderr=err)
        out = proc.stdout.read() if measure else b""
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = code = os.waitstatus_to_exitcode(status)
        if code != 0 or (measure and int(out.split()[0]) != 0):
            err.seek(0)
            sys.exit("%s failed: %s" % (" ".join(argv), err.read().decode(errors="replace")[-500:]))
    rss = int(out.split()[2]) if measure else usage.ru_maxrss
    return usage.ru_utime + usage.ru_stime, rss


def instructions(argv, source, name, tmp):
    """Callgrind's instruction count of the program at its reduced size."""
    text = open(source, encoding="utf-8").read()
    for pattern, replacement in SMALLER.get(name, []):
        text = re.sub(pattern, replacement, text)
    small = os.path.join(tmp, os.path.basename(source))
    with open(small, "w", encoding="utf-8") as f:
        f.write(text)
    proc = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"]
                          + argv + [small], cwd=SCRIPTS, capture_output=True, text=True)
    found = re.search(r"refs:\s+([\d,]+)", proc.stderr)
    return int(found.group(1).replace(",", "")) if found else None


def ratio(a, b):
    return "%8.2f" % (a / b) if a and b else "%8s" % "-"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--instructions", action="store_true")
    ap.add_argument("--zuv", default=os.path.join(ROOT, "build", "zuv"))
    ap.add_argument("--python", default=find_tool("/usr/bin/python3", "python3"))
    ap.add_argument("--lua", default=find_tool("/usr/bin/lua5.4", "lua5.4"))
    ap.add_argument("names", nargs="*")
    args = ap.parse_args()
    zuv = os.path.abspath(args.zuv)
    measure = os.path.join(os.path.dirname(zuv), "zuv_measure")
    measure = measure if os.access(measure, os.X_OK) else None
    names = args.names or PROGRAMS
    langs = [("zuv", zuv, ".zuv"), ("py", args.python, ".py"), ("lua", args.lua, ".lua")]
    print("zuv: %s\npython: %s\nlua: %s\n" % (zuv, args.python, args.lua))
    head = "%-14s" % "program" + "".join("%9s" % h for h in (
        "zuv s", "py s", "lua s", "zuv/py", "zuv/lua", "zuv MiB", "py MiB", "lua MiB",
        "mem/py", "mem/lua"))
    if args.instructions:
        head += "".join("%12s" % h for h in ("zuv Mi", "py Mi", "lua Mi")) + "%8s" % "ins/py"
    print(head)
    for name in names:
        cpu = {lang: [] for lang, _, _ in langs}
        rss = {lang: 0 for lang, _, _ in langs}
        for _ in range(max(1, args.runs)):
            for lang, exe, ext in langs:
                c, r = cpu_run(measure, [exe, name + ext], 600)
                cpu[lang].append(c)
                rss[lang] = max(rss[lang], r)
        t = {lang: statistics.median(v) for lang, v in cpu.items()}
        m = {lang: v / 1024 for lang, v in rss.items()}
        line = "%-14s" % name + "".join("%9.2f" % t[k] for k in ("zuv", "py", "lua"))
        line += ratio(t["zuv"], t["py"]) + " " + ratio(t["zuv"], t["lua"])
        line += "".join("%9.1f" % m[k] for k in ("zuv", "py", "lua"))
        line += ratio(m["zuv"], m["py"]) + " " + ratio(m["zuv"], m["lua"])
        if args.instructions:
            with tempfile.TemporaryDirectory() as tmp:
                ins = {lang: instructions([exe], os.path.join(SCRIPTS, name + ext), name, tmp)
                       for lang, exe, ext in langs}
            line += "".join("%12.1f" % (ins[k] / 1e6) if ins[k] else "%12s" % "-"
                            for k in ("zuv", "py", "lua"))
            line += ratio(ins["zuv"], ins["py"])
        print(line, flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
