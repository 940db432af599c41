#!/usr/bin/env python3
"""call/output of a large output beside CPython's subprocess, in one run.

Each program runs `head -c SIZE /dev/zero | tr '\\0' a` through the shell and
captures what it writes, then checks the length:

  zuv binary!      call/output CMD b        (b: copy #{})
  zuv string!      call/output CMD s        (s: copy "")
  py bytes         subprocess.run(CMD, shell=True, capture_output=True).stdout
  py str           the same, .decode()

Runs alternate; the table gives the median wall time and median peak memory
of each, and, with --instructions, the instructions of one run under callgrind
(the capturing process only: the shell and its children are not followed).
zuv gathers the output in mapped memory and moves it onto the target a
slice at a time, giving each slice's pages back: it is held about once,
for a binary! and a string! alike.

Usage: bench/call_capture.py [--runs N] [--size BYTES] [--zuv PATH] [--python PATH] [--instructions]
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "bench"))
from run import Runner, interleaved  # noqa: E402

CMD = "head -c @SIZE@ /dev/zero | tr '\\\\0' a"
ZUV_BINARY = ('Zuv []\nb: copy #{}\ncall/output {' + CMD + '} b\n'
              'if @SIZE@ <> length? b [print "short" quit/return 1]\n')
ZUV_STRING = ('Zuv []\ns: copy ""\ncall/output {' + CMD + '} s\n'
              'if @SIZE@ <> length? s [print "short" quit/return 1]\n')
PY_BYTES = ('import subprocess, sys\n'
            'out = subprocess.run(r"""' + CMD + '""", shell=True, capture_output=True).stdout\n'
            'if len(out) != @SIZE@: sys.exit("short")\n')
PY_STR = ('import subprocess, sys\n'
          'out = subprocess.run(r"""' + CMD + '""", shell=True, capture_output=True).stdout.decode()\n'
          'if len(out) != @SIZE@: sys.exit("short")\n')


def instructions(argv, cwd):
    """Instructions of a whole run under callgrind, 0 when valgrind fails."""
    with tempfile.TemporaryDirectory() as tmp:
        done = subprocess.run(["valgrind", "--tool=callgrind",
                               "--callgrind-out-file=" + os.path.join(tmp, "cg")] + argv,
                              cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE)
    found = re.search(rb"Collected : (\d+)", done.stderr)
    return int(found.group(1)) if found else 0


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--size", type=int, default=200 * 1000 * 1000)
    ap.add_argument("--zuv", default=os.path.join(ROOT, "build", "zuv"))
    ap.add_argument("--python", default="/usr/bin/python3")
    ap.add_argument("--instructions", action="store_true")
    args = ap.parse_args()

    programs = [("zuv binary!", args.zuv, ZUV_BINARY, "zuv"), ("zuv string!", args.zuv, ZUV_STRING, "zuv"),
                ("py bytes", args.python, PY_BYTES, "py"), ("py str", args.python, PY_STR, "py")]
    with tempfile.TemporaryDirectory() as tmp:
        argvs = {}
        for i, (name, binary, code, suffix) in enumerate(programs):
            path = os.path.join(tmp, "p%d.%s" % (i, suffix))
            with open(path, "w") as f:
                f.write(code.replace("@SIZE@", str(args.size)))
            argvs[name] = [binary, path]
        measure = os.path.join(os.path.dirname(os.path.abspath(args.zuv)), "zuv_measure")
        run = Runner(measure if os.path.exists(measure) else None, 300)
        names = [name for name, _, _, _ in programs]
        results = interleaved(run, [argvs[name] for name in names], tmp, args.runs)
        counts = {name: instructions(argvs[name], tmp) for name in names} if args.instructions else {}

    print("%-14s %10s %10s %12s" % ("%d MB" % (args.size // 1000000), "median s", "peak MiB",
                                    "instructions" if counts else ""))
    for name, (medians, why) in zip(names, results):
        if medians is None:
            sys.exit("%s failed: %s" % (name, why))
        ir = "%12d" % counts[name] if counts else ""
        print("%-14s %10.3f %10.1f %s" % (name, medians[0] / 1000.0, medians[1] / 1024, ir))


if __name__ == "__main__":
    main()
