#!/usr/bin/env python3
"""The cost of a plain native or action call, and of a three-argument function call.

For each call below, callgrind counts the instructions of a loop running it
10,000 times more than a loop running it 1,000 times, less the same for a
loop whose body is one literal: what is left is the call, its argument
fetches and its entry's own work, per call. Plans off is the way library
code (the helpers) runs; plans on is user code's.

With --base, a second Zuv binary (the build before a change) gets a column
of its own.

Figures of the branch that gave natives and actions argument descriptors
and quiet arguments, beside the build before it ("base"), instructions per
call over a loop whose body is one literal:

  call              plans off base   plans off zuv   plans on base    plans on zuv
  pick b 1                     389             360             354             354
  pick b x                     468             402             391             391
  pick b x - 1                 582             581             426             426
  pick b (1)                   538             521             420             420
  first b                      865             836             841             812
  length? s                    304             297             222             222
  find b 3                     902             873             867             867
  select b 2                   778             749             743             743
  copy s                       510             503             428             428
  skip b 1                     370             341             335             335
  at s 2                       379             350             344             344
  poke b 1 1                   490             437             453             453
  min x 4                      441             407             406             406
  not x                        267             263             183             183
  type? s                      270             266             186             186
  to-integer t                 602             602             572             572
  repeat i 1 [0]              1277             888            1413            1024
  foreach w [1] [0]            1420            1035            1556            1171
  f3 1 2 3                     688             688             553             553

Wall clock (plans off, median of 10^6 calls, load average 22 on 8 cores, so
rough): pick b x 0.102 s before and after, repeat i 1 [0] 0.237 s before,
0.188 s after.

"first b" and "to-integer t" are library functions: "first" calls natives
in its body, which runs as library code (plans off) either way. The plans-on
column of a plain native call is the planned path (plans/runner.cpp), which
this branch left alone; f3 is the three-argument function call of
bench/plans.py (call3), unchanged.

--time N adds the median of N wall-clock runs of 10^6 calls (plans off) per
binary; on a busy machine the instructions are the steady figures.

Usage: bench/native_calls.py [--zuv PATH] [--base PATH] [--time N] [CALL ...]
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

SETUP = ('b: [1 2 3 4 5] s: "abcdef" t: "12" x: 3\n'
         "f3: func [a b c] [a + b + c]\n")

# Natives and actions of one to three arguments; literal, word, paren and
# expression arguments; natives with a quoted argument; and the function call
# bench/plans.py times (call3).
CALLS = [
    "pick b 1",
    "pick b x",
    "pick b x - 1",
    "pick b (1)",
    "first b",
    "length? s",
    "find b 3",
    "select b 2",
    "copy s",
    "skip b 1",
    "at s 2",
    "poke b 1 1",
    "min x 4",
    "not x",
    "type? s",
    "to-integer t",
    "repeat i 1 [0]",
    "foreach w [1] [0]",
    "f3 1 2 3",
]
LOW, HIGH = 1000, 11000
EMPTY = "0"


def instructions(exe, body, count, env):
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "call.zuv")
        with open(path, "w") as f:
            f.write("Zuv []\n%sloop %d [%s]\n" % (SETUP, count, body))
        out = os.path.join(tmp, "cg.out")
        p = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out,
                            exe, path], env=env, capture_output=True, text=True)
        m = re.search(r"refs:\s+([\d,]+)", p.stderr)
        if m is None:
            sys.exit("callgrind failed on %s:\n%s" % (body, p.stderr[-2000:]))
        return int(m.group(1).replace(",", ""))


def seconds(exe, body, env, runs):
    """Median wall-clock seconds of a loop running body 10^6 times."""
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "call.zuv")
        with open(path, "w") as f:
            f.write("Zuv []\n%sloop 1000000 [%s]\n" % (SETUP, body))
        times = []
        for _ in range(runs):
            start = time.perf_counter()
            subprocess.run([exe, path], env=env, check=True, stdout=subprocess.DEVNULL)
            times.append(time.perf_counter() - start)
        return statistics.median(times)


def per_call(exe, body, env):
    def per(text):
        return (instructions(exe, text, HIGH, env) - instructions(exe, text, LOW, env)) / (
            HIGH - LOW)
    return per(body) - per(EMPTY)


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--zuv", default=os.path.join(ROOT, "build", "zuv"))
    ap.add_argument("--base", help="a second binary to compare with")
    ap.add_argument("--time", type=int, metavar="RUNS", default=0,
                    help="also the median wall-clock seconds of 10^6 calls (plans off)")
    ap.add_argument("calls", nargs="*", help="calls to measure (default: the table above)")
    args = ap.parse_args()
    base_env = {k: v for k, v in os.environ.items() if not k.startswith("ZUV_")}
    modes = [("plans off", dict(base_env, ZUV_PLANS="0")),
             ("plans on", dict(base_env, ZUV_PLANS="1"))]
    binaries = [("zuv", args.zuv)]
    if args.base:
        binaries.insert(0, ("base", args.base))

    heads = ["%s %s" % (m, b) for m, _ in modes for b, _ in binaries]
    if args.time:
        heads += ["s %s" % b for b, _ in binaries]
    print("%-16s" % "call" + "".join("%16s" % h for h in heads))
    for call in args.calls or CALLS:
        row = ["%16.0f" % per_call(exe, call, env) for _, env in modes for _, exe in binaries]
        if args.time:
            row += ["%16.3f" % seconds(exe, call, modes[0][1], args.time) for _, exe in binaries]
        print("%-16s" % call + "".join(row), flush=True)


if __name__ == "__main__":
    main()
