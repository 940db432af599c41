#!/usr/bin/env python3
"""The same function written in the forms users write, so that a regression
in any one form shows: callgrind instructions per call of fib with plans off
and on, beside CPython's for the same shape (Debian's /usr/bin/python3), and
the ratio to CPython. Then loops (a top-level while, and the same loop in a
function called once): instructions per iteration. Each figure is the
difference of two runs of different sizes, so start-up drops out.

Usage: bench/fib_forms.py [--zuv PATH] [--python PATH] [--only NAME]

Figures (plans on, instructions per call or iteration, and the ratio to
CPython), one table for each change, before and after it.

Paths: before, paths left to the interpreter by the plans; after, path
reads, set-paths, calls of a field's function and chains of numbers
planned.

  form                                  before  ratio    after  ratio
  either, call in parens left              506   0.96      510   0.97
  either, both calls in parens             558   1.06      562   1.07
  if ... [return n]                        610   1.18      622   1.21
  prefix add                               579   1.10      582   1.11
  function with locals                     985   1.44     1004   1.47
  refinement (path call)                  1276   1.71     1279   1.72
  object path call                        1883   3.27      776   1.36
  called from a loop                       506   0.97      510   0.97
  top-level while                         1022   0.67      876   0.58
  while in a function called once         1004   1.18      863   1.01
  repeat at top level                      346   0.39      357   0.40
  foreach over a block                     437   0.58      448   0.53

Path calls: before, the refined call left to the interpreter and the field
call run as any other function's; after, refined calls planned (K_REFCALL)
and a field call of the planned function run as a recursive call, its
walk's cells stored in place and the word after it probed, both reached
past plan_other's entry.

  form                                  before  ratio    after  ratio
  refinement (path call)                  1284   1.73      696   0.93
  object path call                         779   1.35      611   1.06

Short ways: before, a planned return in a branch left an exit pending, a
paren of one call walked its block's shape, natives called by name went
through the arguments' general walk, and every set-word looked its context
up; after, a branch of `return leaf` ends the body straight, a paren of one
call runs its call's node, a native of two arguments that stands for a fast
operation computes integers in place, and set-words of locals store into
the frame (a run of literals with nothing pushed).

  form                                  before  ratio    after  ratio
  either, call in parens left              515   0.99      510   0.97
  either, both calls in parens             568   1.08      549   1.05
  if ... [return n]                        630   1.22      543   1.05
  prefix add                               584   1.12      522   0.99
  function with locals                    1016   1.49      724   1.06
  refinement (path call)                  1284   1.74     1293   1.74
  object path call                         779   1.36      779   1.35
  called from a loop                       515   0.97      510   0.97
  top-level while                          878   0.60      773   0.52
  while in a function called once          865   1.02      728   0.85
  repeat at top level                      358   0.41      302   0.35
  foreach over a block                     449   0.55      393   0.52

Nested blocks and statements: before, a planned paren or branch held the
position it would give back as a link of the collector's chain (a
destructor on the hot path), a paren of one call as an operator's right
operand ran out of line, and the block loop reached a statement's kind
through a chain of tests; after, a position in the code the block stands
in is kept in registers (a foreign one is still held, out of line), that
paren runs in line, and the loop jumps on the kind after testing for a
set-word.

  form                                  before  ratio    after  ratio
  either, call in parens left              525   1.00      514   0.97
  either, both calls in parens             570   1.09      548   1.04
  if ... [return n]                        553   1.07      536   1.04
  prefix add                               536   1.02      532   1.01
  function with locals                     736   1.07      716   1.04
  refinement (path call)                   712   0.96      704   0.95
  object path call                         627   1.09      619   1.07
  called from a loop                       525   1.00      514   0.98
  top-level while                          781   0.47      758   0.48
  while in a function called once          731   0.86      716   0.84
  repeat at top level                      320   0.32      306   0.34
  foreach over a block                     411   0.54      397   0.52

Field calls as built: before, a field call looked its head word and its
field up through their contexts and bound the element at every run, and a
paren of a path call ran its block; after, the path's cells, the object
and the field are compared with the builder's snapshots where their values
live, an operator's right operand that is a field call is dispatched
straight, and a chain's left paren of a path call runs that call straight.

  form                                  before  ratio    after  ratio
  either, call in parens left              514   0.98      514   0.98
  either, both calls in parens             548   1.05      548   1.05
  if ... [return n]                        546   1.06      546   1.05
  prefix add                               532   1.01      532   1.01
  function with locals                     734   1.07      734   1.07
  refinement (path call)                   704   0.95      698   0.94
  object path call                         618   1.08      592   1.03
  called from a loop                       514   0.99      514   0.98
  top-level while                          781   0.53      781   0.45
  while in a function called once          731   0.86      731   0.86
  repeat at top level                      320   0.35      320   0.33
  foreach over a block                     411   0.48      411   0.46

Literal leads: before, a body that gives its locals literals before its
one expression ran the block loop, and a planned call pushed its locals
with a room test each; after, such a body runs apart on a plain recursive
call (plan_lead_body) and the locals take one room test.

  form                                  before  ratio    after  ratio
  either, call in parens left              514   0.97      512   0.98
  either, both calls in parens             548   1.04      546   1.03
  if ... [return n]                        546   1.06      546   1.05
  prefix add                               532   1.01      530   1.01
  function with locals                     734   1.07      708   1.03
  refinement (path call)                   704   0.95      704   0.95
  object path call                         618   1.07      618   1.08
  called from a loop                       514   0.98      512   0.97
  top-level while                          781   0.53      781   0.52
  while in a function called once          731   0.86      731   0.86
  repeat at top level                      320   0.36      320   0.36
  foreach over a block                     411   0.42      411   0.53

All three together (main after the merges; CPython's column moves by about
five instructions from run to run):

  form                                  plans on    CPython    on/Py
  either, call in parens left                512        523     0.98
  either, both calls in parens               546        527     1.04
  if ... [return n]                          538        518     1.04
  prefix add                                 530        527     1.01
  function with locals                       702        684     1.03
  refinement (path call)                     698        746     0.94
  object path call                           592        572     1.04
  called from a loop                         512        527     0.97
  top-level while                            765       1490     0.51
  while in a function called once            721        852     0.85
  repeat at top level                        310        932     0.33
  foreach over a block                       401        772     0.52

Positions given back by calls: before, a planned recursive or plain call
held the position it gives back as a link of the collector's chain; after,
it keeps it in registers while it names the caller's code (and a planned
branch's or paren's is copied as two words).

  form                                  before  ratio    after  ratio
  either, call in parens left             534   1.02      529   1.01
  either, both calls in parens            567   1.08      562   1.07
  if ... [return n]                       559   1.08      553   1.06
  prefix add                              550   1.05      544   1.04
  function with locals                    714   1.04      704   1.03
  refinement (path call)                  721   0.97      716   0.96
  object path call                        618   1.08      611   1.07
  called from a loop                      534   1.02      529   1.02
  top-level while                         758   0.51      758   0.51
  while in a function called once         713   0.84      713   0.84
  repeat at top level                     313   0.35      313   0.35
  foreach over a block                    404   0.53      404   0.53
"""

import argparse
import os
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from plans import fib_calls, instructions  # noqa: E402

PY_FIB = ("def fib(n):\n    return n if n < 2 else fib(n - 1) + fib(n - 2)\n"
          "fib(%d)\n")
PY_IF = ("def fib(n):\n    if n < 2:\n        return n\n    return fib(n - 1) + fib(n - 2)\n"
         "fib(%d)\n")
PY_LOCALS = ("def fib(n):\n    a = 0\n    b = 0\n    if n < 2:\n        return n\n"
             "    a = fib(n - 1)\n    b = fib(n - 2)\n    return a + b\nfib(%d)\n")
PY_METHOD = ("class M:\n    def fib(self, n):\n"
             "        return n if n < 2 else m.fib(n - 1) + m.fib(n - 2)\n"
             "m = M()\nm.fib(%d)\n")
PY_KEYWORD = ("def fib(n, quiet=False):\n"
              "    return n if n < 2 else fib(n - 1, quiet=True) + fib(n - 2, quiet=True)\n"
              "fib(%d)\n")

# name, Zuv program (%d the argument), the CPython program of the same shape.
FORMS = [
    ("either, call in parens left",
     "fib: func [n] [either n < 2 [n] [(fib n - 1) + fib n - 2]]\nfib %d\n", PY_FIB),
    ("either, both calls in parens",
     "fib: func [n] [either n < 2 [n] [(fib n - 1) + (fib n - 2)]]\nfib %d\n", PY_FIB),
    ("if ... [return n]",
     "fib: func [n] [if n < 2 [return n] (fib n - 1) + fib n - 2]\nfib %d\n", PY_IF),
    ("prefix add",
     "fib: func [n] [either n < 2 [n] [add fib n - 1 fib n - 2]]\nfib %d\n", PY_FIB),
    ("function with locals",
     "fib: function [n] [a: 0 b: 0 either n < 2 [n] [a: fib n - 1 b: fib n - 2 a + b]]\n"
     "fib %d\n", PY_LOCALS),
    ("refinement (path call)",
     "fib: func [n /quiet] [either n < 2 [n] [(fib/quiet n - 1) + fib/quiet n - 2]]\n"
     "fib %d\n", PY_KEYWORD),
    ("object path call",
     "m: context [fib: func [n] [either n < 2 [n] [(m/fib n - 1) + m/fib n - 2]]]\n"
     "m/fib %d\n", PY_METHOD),
    ("called from a loop",
     "fib: func [n] [either n < 2 [n] [(fib n - 1) + fib n - 2]]\nloop 1 [fib %d]\n", PY_FIB),
]
FIB_SMALL, FIB_BIG = 12, 20

# name, Zuv program (%d the iteration count), CPython program.
LOOPS = [
    ("top-level while",
     "s: 0 i: 0\nwhile [i < %d] [s: s + (i %% 7) i: i + 1]\n",
     "s = 0\ni = 0\nwhile i < %d:\n    s += i %% 7\n    i += 1\n"),
    ("while in a function called once",
     "run: func [k /local s i] [s: 0 i: 0 while [i < k] [s: s + (i %% 7) i: i + 1] s]\n"
     "run %d\n",
     "def run(k):\n    s = 0\n    i = 0\n    while i < k:\n        s += i %% 7\n        i += 1\n"
     "    return s\nrun(%d)\n"),
    ("repeat at top level",
     "s: 0\nrepeat i %d [s: s + i]\n",
     "s = 0\nfor i in range(1, %d + 1):\n    s += i\n"),
    ("foreach over a block",
     "b: make block! 0 loop 1000 [append b 3]\ns: 0\nloop %d [foreach x b [s: s + x]]\n",
     "b = [3] * 1000\ns = 0\nfor _ in range(%d):\n    for x in b:\n        s += x\n"),
]
LOOP_SMALL, LOOP_BIG = 10000, 60000
FOREACH_SMALL, FOREACH_BIG = 10, 60


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--zuv", default=os.path.join(ROOT, "build", "zuv"))
    ap.add_argument("--python", default="/usr/bin/python3")
    ap.add_argument("--only", help="the rows whose name holds this text")
    args = ap.parse_args()
    base = {k: v for k, v in os.environ.items() if not k.startswith("ZUV_")}
    modes = [dict(base, ZUV_PLANS="0"), dict(base, ZUV_PLANS="1")]

    with tempfile.TemporaryDirectory() as tmp:
        def per_unit(exe, env, text, ext, small, big, units):
            paths = []
            for n in (small, big):
                path = os.path.join(tmp, "p%d%s" % (n, ext))
                with open(path, "w") as f:
                    f.write(("Zuv []\n" if ext == ".zuv" else "") + text % n)
                paths.append(path)
            lo, hi = (instructions([exe, p], env) for p in paths)
            return (hi - lo) / (units(big) - units(small))

        def table(title, rows, small, big, units):
            print("%-34s %10s %10s %10s %8s" % (title, "plans off", "plans on", "CPython",
                                                "on/Py"))
            for name, zuv_text, py_text in rows:
                if args.only and args.only not in name:
                    continue
                lo, hi, each = small, big, units
                if name.startswith("foreach"):
                    # 1,000 iterations of foreach's body per count
                    lo, hi, each = FOREACH_SMALL, FOREACH_BIG, lambda n: n * 1000
                figures = [per_unit(args.zuv, env, zuv_text, ".zuv", lo, hi, each)
                           for env in modes]
                py = per_unit(args.python, base, py_text, ".py", lo, hi, each)
                print("%-34s %10.0f %10.0f %10.0f %8.2f" % (name, figures[0], figures[1], py,
                                                            figures[1] / py))

        table("fib form (instructions per call)", FORMS, FIB_SMALL, FIB_BIG, fib_calls)
        print()
        table("loop (instructions per iteration)", LOOPS, LOOP_SMALL, LOOP_BIG, lambda n: n)


if __name__ == "__main__":
    main()
