#!/usr/bin/python3
"""Seeded random programs over maps, objects and blocks give the same output
and status with plans off, on and verified, and with every fast path off.

The short ways these programs meet: a map read or written by a word key
(`m/key`, `m/key: v`, and the one hash of `select`, `put`, `find` and
`remove/key`), a path cell meeting objects of several shapes in turn, and
the library's `first` to `fifth` and `last` on a block taken with no call.
Each program makes maps whose keys differ in case, objects of three shapes
(a field missing from one, a change handler on another), and blocks of a
few sizes, then defines functions whose bodies read and write them in
those forms, in loops and straight, with wrong types and missing keys
among them. The functions are called several times (their plans are built
on the second call) and, between calls, a key is removed or put back in
another case, a library word is rebound, or an object's field is changed.
Errors are caught and printed with their id, Where and Near.

Usage: path_routes.py ZUV [COUNT [FIRST_SEED]]
"""

import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import plans_run  # noqa: E402

KEYS = ["date", "Date", "DATE", "tx", "name", "gone", "f"]
MAPS = ["m", "n", "arg"]
VALUES = ["1", "7", '"txt"', "'w", "[1 2]", "none", "2.5", "func [x] [x]", "#[a: 1]"]
SHAPES = ["circle", "rect", "tri", "h", "s"]
FIELDS = ["kind", "kind", "r", "w", "area", "note", "self"]
BLOCKS = ["b", "next b", "tail b", "e", "[x y z]", '"str"', "5", "arg"]
HELPERS = ["first", "second", "third", "fifth", "last"]

SETUP = """show: func [code] [either error? set/any 'err try code [print ["error" err/id mold err/where mold/flat err/near]] [print mold/flat :err]]
m: make map! [date: 1 tx: 2 name: "abc" f: 3]
n: make map! [Date: 10 date: 11]
put/case n 'DATE 12
circle: make object! [kind: 'circle r: 2 area: func [] [r * r * 3]]
rect: make object! [w: 3 h: 4 kind: 'rect area: func [] [w * h]]
tri: make object! [note: "" kind: 'tri area: func [] [7] on-change*: func [w o n] [print ["changed" w]]]
shapes: reduce [circle rect tri circle]
b: [1 [2] "three" 4.0 #"5" six]
e: []
first*: :first
s: circle
"""


class Program:
    def __init__(self, rng):
        self.rng = rng

    def key(self):
        return self.rng.choice(KEYS)

    def map_statement(self):
        r = self.rng
        mp, k, v = r.choice(MAPS), self.key(), r.choice(VALUES)
        forms = [
            "print mold/flat %s/%s" % (mp, k),
            "x: %s/%s print mold/flat :x" % (mp, k),
            "%s/%s: %s" % (mp, k, v),
            "print mold/flat select %s '%s" % (mp, k),
            "print mold/flat select/case %s '%s" % (mp, k),
            "put %s '%s %s" % (mp, k, v),
            "put/case %s '%s %s" % (mp, k, v),
            "print mold/flat find %s '%s" % (mp, k),
            "print mold/flat find/case %s '%s" % (mp, k),
            "remove/key %s '%s" % (mp, k),
            "s: %s/name if string? s [append s \"+\"] print mold/flat %s" % (mp, mp),
            "print mold/flat %s/%s + 1" % (mp, k),
            "print mold/flat get/case to path! [%s %s]" % (mp, k),
        ]
        return r.choice(forms)

    def shape_statement(self):
        r = self.rng
        f, v = r.choice(FIELDS), r.choice(VALUES[:4])
        forms = [
            "foreach s shapes [print mold/flat s/%s]" % f,
            "foreach s shapes [s/%s: %s]" % (f, v),
            "foreach s shapes [x: s/area print x]",
            "foreach s reverse copy shapes [print mold/flat s/%s]" % f,
            "print mold/flat %s/%s" % (r.choice(SHAPES), f),
            "%s/%s: %s" % (r.choice(SHAPES[:3]), f, v),
        ]
        return r.choice(forms)

    def helper_statement(self):
        r = self.rng
        h, blk = r.choice(HELPERS), r.choice(BLOCKS)
        forms = [
            "print mold/flat %s %s" % (h, blk),
            "x: %s %s print mold/flat :x" % (h, blk),
            "loop 3 [x: %s %s] print mold/flat :x" % (h, blk),
            "print mold/flat %s %s = 1" % (h, blk),
            "print mold/flat (%s %s)" % (h, blk),
        ]
        return r.choice(forms)

    def body(self):
        r = self.rng
        kinds = [self.map_statement, self.shape_statement, self.helper_statement]
        return " ".join(r.choice(kinds)() for _ in range(r.randrange(1, 4)))

    def between(self):
        r = self.rng
        forms = [
            "remove/key m '%s" % self.key(),
            "put/case m '%s %s" % (self.key(), r.choice(VALUES[:4])),
            "first: func [s] [99]",
            "first: :first*",
            "append b 'more",
            "clear next e",
            "circle/kind: 'round",
            "shapes: reduce [tri circle rect]",
            "b: next b",
        ]
        return r.choice(forms)

    def source(self):
        r = self.rng
        lines = [SETUP]
        names = []
        for i in range(r.randrange(4, 8)):
            name = "f%d" % i
            lines.append("%s: func [arg] [%s]" % (name, self.body()))
            names.append(name)
        # Each function three times at least: its plan is built on the second call.
        calls = names * 3 + [r.choice(names) for _ in range(r.randrange(0, 6))]
        r.shuffle(calls)
        for name in calls:
            lines.append("show [%s %s]" % (name, r.choice(["m", "n", "b", "e", "5"])))
            if r.randrange(4) == 0:
                lines.append(self.between())
        lines.append("print mold/flat m print mold/flat n print mold/flat b")
        return "\n".join(lines) + "\n"


def programs(count, first):
    return [("routes%d" % s, Program(random.Random(s)).source())
            for s in range(first, first + count)]


if __name__ == "__main__":
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 40
    first = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    sys.argv = sys.argv[:2]
    plans_run.main(programs(count, first), modes=plans_run.WITH_GENERAL)
