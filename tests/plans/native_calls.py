#!/usr/bin/python3
"""Seeded random programs of natives that call user code and of `switch`
give the same output and status with plans off, on, verified, and on the
general path (ZUV_NO_FAST_PATHS=1, where the short ways are off).

The first set sorts with comparators of several forms (paths of maps and
objects, locals, a refinement, an early return, an error, a comparator
rebound or given a new body between sorts), runs `apply`, loops calling a
function passed as an argument, and sets fields of an object whose change
handler records them, each a few times so that plans are built.

The second set runs `switch` on values of every kind a cases block holds
(words and lit-words in either case, integers, chars of either case,
strings, floats, blocks), with cases sharing a block, repeated, or with no
block after them, /default or not, branches that return, break or raise,
and between runs changes the cases block (append, insert, change, remove,
clear, a later head), so that a table built for it must notice.

Usage: native_calls.py ZUV [COUNT [FIRST_SEED]]
"""

import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import plans_run  # noqa: E402

SHOW = ("show: func [b] [either error? set/any 'e try b "
        "[print [\"error\" e/id mold e/where mold/flat e/near]] "
        "[print mold/flat :e]]")

COMPARATORS = [
    "func [a b] [a/k < b/k]",
    "func [a b] [either a/k = b/k [a/t < b/t] [a/k < b/k]]",
    "function [a b] [x: a/k y: b/k x > y]",
    "func [a b /r] [either r [a/k > b/k] [a/k < b/k]]",
    "func [a b] [if a/k = b/k [return a/t > b/t] a/k < b/k]",
    "func [a b] [a/k + \"x\"]",
    "func [a b] [if a/t = 3 [a/nope/1] a/t < b/t]",
    "func [a b] [count: count + 1 a/t <= b/t]",
    "func [a b] [apply :lt [a/k b/k]]",
    "func [a] [true]",
]

SWITCH_VALUES = ["'a", "'A", "'b", "'c", "to lit-word! 'a", "to lit-word! 'B", "1", "2", "3", "-1",
                 "#\"a\"", "#\"A\"", "#\"b\"", "\"a\"", "\"A\"", "\"b\"", "1.0", "2.0", "[a]",
                 "'zz", "none", "0"]
CASE_ITEMS = ["a", "A", "b", "c", "'a", "'B", "1", "2", "3", "-1", "#\"a\"", "#\"A\"",
              "#\"b\"", "\"a\"", "\"B\"", "1.0", "zz", "0", "[a]"]
BRANCHES = ["[1]", "[2 + 3]", "['x]", "[]", "[return 7]", "[break]", "[1 + \"x\"]",
            "[n: n + 1 n]", "[switch 1 [1 [11]]]"]


class CallsProgram:
    def __init__(self, rng):
        self.rng = rng

    def records(self):
        r = self.rng
        kind = r.choice(["map", "object"])
        items = []
        for t in range(r.randint(0, 9)):
            k = r.randint(0, 3)
            if kind == "map":
                items.append("make map! [k: %d t: %d]" % (k, t))
            else:
                items.append("make object! [k: %d t: %d]" % (k, t))
        return "reduce [%s]" % " ".join(items)

    def source(self):
        r = self.rng
        lines = [SHOW, "count: 0", "lt: func [a b] [a < b]",
                 "keys: func [b] [collect [foreach x b [keep x/t]]]"]
        for i in range(r.randint(2, 4)):
            lines.append("cmp%d: %s" % (i, r.choice(COMPARATORS)))
        cmps = ["cmp%d" % i for i in range(len([x for x in lines if x.startswith("cmp")]))]
        lines.append("sorter: func [b c] [keys sort/compare copy b :c]")
        lines.append("each: func [b f] [out: copy [] foreach v b [append out f v] out]")
        lines.append("twice: func [f x] [f f x]")
        lines.append("watched: make object! [a: 1 b: 2 log: copy [] "
                     "on-change*: func [w o n] [if w <> 'log [append log reduce [w o n]]]]")
        for _ in range(r.randint(6, 14)):
            what = r.randint(0, 7)
            c = r.choice(cmps)
            if what == 0:
                lines.append("show [sorter %s :%s]" % (self.records(), c))
            elif what == 1:
                lines.append("loop 3 [show [keys sort/compare %s :%s]]" % (self.records(), c))
            elif what == 2:
                lines.append("show [apply :%s [make map! [k: %d t: 1] make map! [k: %d t: 2]]]"
                             % (c, r.randint(0, 2), r.randint(0, 2)))
            elif what == 3:
                f = r.choice(["func [x] [x + 1]", "func [x] [x * x]", ":negate",
                              "func [x] [if x = 2 [return 0] x]", "func [x] [x + \"y\"]"])
                lines.append("loop 3 [show [each [1 2 3 4] %s]]" % f)
                lines.append("loop 3 [show [twice %s 3]]" % f)
            elif what == 4:
                lines.append("loop 3 [show [watched/a: %d watched/b: 'w%d watched/log]]"
                             % (r.randint(0, 9), r.randint(0, 9)))
            elif what == 5:
                lines.append("%s: %s" % (c, r.choice(COMPARATORS)))
            elif what == 6:
                lines.append("insert body-of :%s [count: count + 1]" % c)
            else:
                lines.append("show [count]")
        return "\n".join(lines) + "\n"


class SwitchProgram:
    def __init__(self, rng):
        self.rng = rng

    def cases(self):
        r = self.rng
        out = []
        for _ in range(r.randint(0, 14)):
            out.append(r.choice(CASE_ITEMS))
            if r.random() < 0.7:
                out.append(r.choice(BRANCHES))
        return "[%s]" % " ".join(out)

    def source(self):
        r = self.rng
        lines = [SHOW, "n: 0", "cs: %s" % self.cases()]
        lines.append("sw: func [v c] [switch v c]")
        lines.append("swd: func [v c] [switch/default v c [n: n - 1 'other]]")
        lines.append("lit: func [v] [switch v %s]" % self.cases())
        for _ in range(r.randint(8, 16)):
            what = r.randint(0, 6)
            v = r.choice(SWITCH_VALUES)
            if what == 0:
                lines.append("loop 3 [show [sw %s cs]]" % v)
            elif what == 1:
                lines.append("loop 2 [show [swd %s cs]]" % v)
            elif what == 2:
                lines.append("loop 3 [show [lit %s]]" % v)
            elif what == 3:
                lines.append("show [loop 2 [sw %s cs]]" % v)
            elif what == 4:
                lines.append("show [sw %s next cs]" % v)
            elif what == 5:
                lines.append("foreach v reduce [%s] [show [sw :v cs]]" % " ".join(
                    r.choice(SWITCH_VALUES) for _ in range(4)))
            else:
                change = r.choice([
                    "append cs %s" % r.choice(CASE_ITEMS),
                    "append cs %s" % r.choice(BRANCHES),
                    "insert cs %s" % r.choice(CASE_ITEMS),
                    "if not tail? cs [change cs %s]" % r.choice(CASE_ITEMS),
                    "if not tail? cs [remove cs]",
                    "clear skip cs 2",
                    "cs: %s" % self.cases(),
                    "cs: copy cs",
                ])
                lines.append(change)
        lines.append("show [n]")
        return "\n".join(lines) + "\n"


def programs(count, first):
    return [("calls%d" % s, CallsProgram(random.Random(s)).source())
            for s in range(first, first + count)] + \
        [("switch%d" % s, SwitchProgram(random.Random(s)).source())
         for s in range(first, first + count)]


if __name__ == "__main__":
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 40
    first = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    sys.argv = sys.argv[:2]
    plans_run.main(programs(count, first), modes=plans_run.WITH_GENERAL)
