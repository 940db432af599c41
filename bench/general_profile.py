#!/usr/bin/env python3
"""Where Zuv's instructions go on the rows of bench/general_ops.py and the
programs of bench/general_path.py: callgrind's exclusive instructions per
function, summed over the places each function's code was inlined from.

For a row, the figures are per iteration: the profile of the row's N1
program taken from that of its N2 program, divided by the iterations
between them, so that start-up and the first call drop out. For a program,
the figures are those of one whole run, with their share of the total.

Give it a build with symbols (the release flags plus -g keep the same code):
  cmake -S . -B /tmp/zuv-prof -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g
  cmake --build /tmp/zuv-prof --target zuv

Usage: bench/general_profile.py --zuv PATH [--top N] [--only TEXT] [--jobs N]
                                [ops | programs | NAME ...]
"""

import argparse
import collections
import concurrent.futures
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import general_ops  # noqa: E402
import general_path  # noqa: E402

LINE = re.compile(r"^\s*([\d,]+)\s+\(\s*[\d.]+%\)\s+(.*)$")


def short(name):
    """A function's name without its file, object, arguments and namespaces."""
    name = re.sub(r" \[[^\]]*\]$", "", name)
    if ":" in name and not name.startswith("zuv::"):
        head, _, rest = name.partition(":")
        if "/" in head or head.startswith("???") or "." in head:
            name = rest
    name = name.replace("(anonymous namespace)::", "").replace("zuv::", "")
    name = re.sub(r"'\d+$", "", name)
    # drop the argument list (the last balanced parenthesis group)
    depth, cut = 0, None
    for i in range(len(name) - 1, -1, -1):
        if name[i] == ")":
            depth += 1
        elif name[i] == "(":
            depth -= 1
            if depth == 0:
                cut = i
                break
    if cut is not None and not name.startswith("("):
        tail = name[name.rfind(")") + 1:]
        name = name[:cut] + tail
    return name.strip()


def exclusive(argv, env, cwd=None, inclusive=False):
    """{function: exclusive instructions} and the total of one run; with
    inclusive, each function's inclusive instructions instead (a recursive
    function's count its cycles more than once: read those with care)."""
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "cg.out")
        p = subprocess.run(["valgrind", "--tool=callgrind", "--dump-instr=no",
                            "--callgrind-out-file=" + out] + argv,
                           env=env, cwd=cwd, capture_output=True, text=True)
        if p.returncode != 0:
            sys.exit("callgrind failed on %s:\n%s" % (argv, p.stderr[-2000:]))
        ann = subprocess.run(["callgrind_annotate", "--threshold=100", "--auto=no",
                              "--inclusive=" + ("yes" if inclusive else "no"), out],
                             capture_output=True, text=True).stdout
    costs = collections.Counter()
    total = 0
    for line in ann.splitlines():
        m = LINE.match(line)
        if not m:
            continue
        ir = int(m.group(1).replace(",", ""))
        if m.group(2).strip() == "PROGRAM TOTALS":
            total = ir
            continue
        name = short(m.group(2))
        # exclusive: the sum over the places the code was inlined from and
        # over recursion levels; inclusive: the outermost level's
        costs[name] = max(costs[name], ir) if inclusive else costs[name] + ir
    return costs, total


def show(title, costs, per, total, top):
    print(title)
    shown = 0
    for name, ir in costs.most_common():
        if shown >= top or ir / per < 0.5:
            break
        print("  %9.1f %5.1f%%  %s" % (ir / per, 100.0 * ir / total if total else 0, name[:150]))
        shown += 1
    print(flush=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--zuv", required=True, help="a zuv built with symbols")
    ap.add_argument("--top", type=int, default=15)
    ap.add_argument("--only", help="the rows whose name holds this text")
    ap.add_argument("--jobs", type=int, default=4)
    ap.add_argument("--inclusive", action="store_true",
                    help="inclusive instructions in place of exclusive ones")
    ap.add_argument("what", nargs="*", default=["ops"])
    args = ap.parse_args()
    zuv = os.path.abspath(args.zuv)
    env = {k: v for k, v in os.environ.items() if not k.startswith("ZUV_")}
    pool = concurrent.futures.ThreadPoolExecutor(max(1, args.jobs))

    if args.what == ["ops"]:
        with tempfile.TemporaryDirectory() as tmp:
            jobs = []
            for i, (name, zbody, _, per) in enumerate(general_ops.rows()):
                if args.only and args.only not in name:
                    continue
                div = per if per >= 10 else 1
                runs = []
                for n in (general_ops.N1 // div, general_ops.N2 // div):
                    path = os.path.join(tmp, "r%02d_%d.zuv" % (i, n))
                    with open(path, "w") as f:
                        f.write(general_ops.zuv_program(zbody, n))
                    runs.append(pool.submit(exclusive, [zuv, path], env, None, args.inclusive))
                units = (general_ops.N2 // div - general_ops.N1 // div) * per
                jobs.append((name, runs, units))
            for name, (lo, hi), units in jobs:
                (clo, tlo), (chi, thi) = lo.result(), hi.result()
                diff = collections.Counter(chi)
                diff.subtract(clo)
                show("%s: %.0f instructions per iteration" % (name, (thi - tlo) / units),
                     diff, units, thi - tlo, args.top)
        return 0

    names = general_path.PROGRAMS if args.what == ["programs"] else args.what
    jobs = [(name, pool.submit(exclusive, [zuv, name + ".zuv"], env, general_path.PROGRAMS_DIR,
                                     args.inclusive))
            for name in names]
    for name, job in jobs:
        costs, total = job.result()
        show("%s: %.1f million instructions" % (name, total / 1e6), costs, 1, total, args.top)
    return 0


if __name__ == "__main__":
    sys.exit(main())
