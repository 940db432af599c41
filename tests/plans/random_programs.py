#!/usr/bin/python3
"""Seeded random programs give the same output and status with plans on and
off.

Each program defines a few functions whose bodies mix the forms plans run
themselves (literals, arguments, locals, globals, set-words, parens,
operators, if and either with block branches, calls, return) with forms
they leave to the interpreter (paths, loops, get-words, errors), calls them
several times (a plan is built on the second call), and between calls may
rebind a global word (to an operator too), an operator or a function, or
change a body. Errors are caught and printed with their Where and Near, and
a program may end on an uncaught one.

A second set of programs also calls library functions (whose bodies are
planned as library code), with arguments of any type, blocks that break,
return or raise, and now and then a library function redefined by the user
or put back.

A third set defines self-recursive functions in the shapes plans take
apart from other calls (a body that gives locals literals before its one
expression, calls in parens on either side of an operator, `if ...
[return ...]`, prefix calls, a refined call of itself, a field call of
itself through an object), some of which rebind the function's word, the
object's field, `either` or an operator, or change the body, while the
recursion runs.

Usage: random_programs.py ZUV [COUNT [FIRST_SEED]]
"""

import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import plans_run  # noqa: E402

OPS = ["+", "-", "*", "+", "-", "<", ">", "=", "<>", "<=", "and", "or"]

# Paths of two elements, which plans read and store in place: objects of two
# shapes (p and q have their words in other orders), one with a change
# handler, a word rebound between them and to other values, a block and a
# map.
PATHS = ["p/a", "q/a", "p/b", "cur/a", "cur/b", "c/a", "blk/2", "mp/k", "cur/2"]
HOLDERS = ["o", "p", "q", "c", "blk", "mp", "none", "func [] [5]", "context [b: 1]",
           "context [a: func [x] [x + 1] b: 2]"]


class Program:
    def __init__(self, rng, library=False):
        self.rng = rng
        self.functions = []  # (name, arity)
        self.refined = set()  # the functions that take /r and its argument
        self.globals = ["g1", "g2"]
        self.library = library

    def library_value(self, names, depth):
        """A call of a library function (or of the user's function that
        took its name)."""
        r = self.rng
        e = self.expression(names, depth)
        block = r.choice(["[1 2 3 4]", "[5]", "[]", '"abc"', "copy [7 8]"])
        forms = ["first %s" % block, "last %s" % block, "second %s" % block,
                 "empty? %s" % block, "first (%s)" % e, "empty? (%s)" % e,
                 "mod %s %s" % (self.value(names, 0), self.value(names, 0)),
                 "also %s %s" % (self.value(names, 0), self.value(names, 0)),
                 "attempt [%s]" % self.body(names, depth),
                 "collect [keep %s %s]" % (self.value(names, 0), self.body(names, depth)),
                 "extract %s %s" % (block, self.value(names, 0)),
                 "sum reduce [%s %s]" % (self.value(names, 0), self.value(names, 0)),
                 "repend copy [] [%s]" % e]
        return r.choice(forms)

    def value(self, names, depth):
        """A value expression: no operator after it (the caller adds them)."""
        r = self.rng
        if self.library and depth > 0 and r.randrange(4) == 0:
            return self.library_value(names, depth - 1)
        # Mostly integers and words, so that most bodies run to their end.
        k = r.choice([0, 0, 0, 1, 1, 1, 2, 4, 5, 6, 7, 7, 8, 8, 9, 10, 11, 3]
                     if depth > 0 else [0, 0, 1, 1, 2, 4, 3])
        if k == 0:
            return str(r.choice([0, 1, 2, 3, -1, 7, 100, 65536, 2147483647, -2147483648]))
        if k == 1 and names:
            return r.choice(names)
        if k == 2:
            return r.choice(self.globals)
        if k == 3:
            return r.choice(["1.5", "true", "none", '"ab"', "#\"c\"", "2x3", "0.25"])
        if k == 4 and names:
            return r.choice(names)
        if k in (5, 6):
            return "(" + self.expression(names, depth - 1) + ")"
        if k == 7 and self.functions:
            name, arity = r.choice(self.functions)
            args = [self.expression(names, depth - 1) for _ in range(arity)]
            if name in self.refined and r.randrange(2) == 0:
                name += "/r"
                args.append(self.expression(names, depth - 1))
            return " ".join([name] + args)
        if k == 8:
            cond = self.expression(names, depth - 1)
            if r.randrange(3) == 0:
                return "if %s [%s]" % (cond, self.body(names, depth - 1))
            return "either %s [%s] [%s]" % (cond, self.body(names, depth - 1),
                                              self.body(names, depth - 1))
        if k == 9:
            return r.choice(["first [5 6]", "pick [7 8] 2", "length? \"abc\"", "abs -3",
                             "negate 4", "max 2 9", ":g1", "'w", "to integer! \"12\"",
                             "o/a", "o/b/2", ":o/a"] + PATHS)
        if k == 10 and names:
            return "%s: %s" % (r.choice(names), self.expression(names, depth - 1))
        return str(r.randrange(-5, 10))

    def expression(self, names, depth):
        e = self.value(names, depth)
        for _ in range(self.rng.choice([0, 0, 1, 1, 2])):
            e += " %s %s" % (self.rng.choice(OPS), self.value(names, 0))
        return e

    def body(self, names, depth):
        r = self.rng
        parts = []
        for _ in range(r.randrange(1, 4)):
            k = r.randrange(10)
            if k == 0 and depth > 0:
                parts.append(self.loop(names, depth - 1))
            elif k == 1:
                parts.append("if %s [return %s]" % (self.expression(names, 0),
                                                     self.expression(names, 0)))
            elif k == 2 and names:
                parts.append("%s: %s" % (r.choice(names), self.expression(names, depth)))
            elif k == 3:
                parts.append(r.choice(["g2", "o/a"] + PATHS) + ": " + self.expression(names, 0))
            else:
                parts.append(self.expression(names, depth))
        return " ".join(parts)

    def loop(self, names, depth):
        """A loop whose body the loop runs as a planned block: every loop
        native, with break and continue now and then; each ends however its
        body's words are rebound (the counters are the loop's own)."""
        r = self.rng
        body = self.body(names, depth)
        forms = ["loop 2 [%s]", "repeat i 2 [%s]", "foreach e [1 2] [%s]",
                 "foreach [e d] [1 2 3 4] [%s]", "n: 0 while [n < 2] [n: n + 1 %s]",
                 "remove-each e [1 2 3] [%s e > 1]", "s: [1 2] forall s [%s]",
                 # continue would skip what ends these two
                 "m: 0 until [m: m + 1 %s m > 1]", "forever [%s break]"]
        form = r.choice(forms)
        k = r.randrange(12)
        if k == 0:
            body = "if %s [break] %s" % (self.expression(names, 0), body)
        elif k == 1 and form not in forms[-2:]:
            body = "if %s [continue] %s" % (self.expression(names, 0), body)
        return form % body

    def function(self, index):
        r = self.rng
        arity = r.randrange(0, 4)
        args = ["a%d" % i for i in range(arity)]
        local = ["l%d" % i for i in range(r.randrange(0, 2))]
        name = "f%d" % index
        refinement = []
        if r.randrange(3) == 0:
            refinement = ["/r", "rr"]
            self.refined.add(name)
        spec = " ".join(args + refinement + (["/local"] + local if local else []))
        body = self.body(args + local, 2)
        self.functions.append((name, arity))
        return "%s: func [%s] [%s]" % (name, spec, body), name, arity

    def call(self, name, arity):
        args = [self.value([], 1) for _ in range(arity)]
        if name in self.refined and self.rng.randrange(2) == 0:
            name += "/r"
            args.append(self.value([], 1))
        return " ".join([name] + args)

    def source(self):
        r = self.rng
        lines = ["g1: 3", "g2: 4", "o: context [a: 1 b: [5 6]]",
                 "p: context [a: 1.5 b: 2]", "q: context [b: 0.5 a: 4]",
                 "c: context [a: 1 on-change*: func [w o n] [prin [\"chg\" w n \"\"]]]",
                 "blk: [1 2.5 3]", "mp: make map! [k 1]", "cur: p",
                 "show: func [b] [either error? set/any 'e try b "
                 "[print [\"error\" e/id mold e/where mold/flat e/near]] "
                 "[print mold/flat :e]]"]
        if self.library:
            lines.append("lib-first: :first lib-mod: :mod lib-skip: :skip")
        for i in range(r.randrange(2, 6)):
            text, name, arity = self.function(i)
            lines.append(text)
            for _ in range(r.randrange(2, 5)):
                lines.append("show [%s]" % self.call(name, arity))
            k = r.randrange(8)
            if k == 0:
                lines.append("%s: %s" % (r.choice(["g1", "o/a"]),
                                         r.choice(["10", "\"s\"", "func [] [5]", "none", "2.5",
                                                   ":+", ":*"])))
            elif k == 1:
                lines.append("append body-of :%s [%s]" % (name, self.value([], 0)))
            elif k == 2:
                lines.append("saved: :either either: func [c a b] [if c [do a]] ")
            elif k == 3:
                lines.append("either: :saved" if "saved:" in "\n".join(lines) else "g2: 1")
            elif self.library and k in (4, 5):
                lines.append(r.choice([
                    "first: func [s] [either series? s [pick s 2] [s + zz]]",
                    "mod: func [a b] [a - b]", "skip: func [s n] [n]",
                    "first: :lib-first mod: :lib-mod skip: :lib-skip"]))
            elif k in (4, 5):
                lines.append("cur: " + r.choice(HOLDERS))
            elif k == 7 and name in self.refined:
                # Another function under the name: /r taken in another place,
                # or none.
                lines.append("%s: %s" % (name, r.choice([
                    "func [/r x] [reduce [r x]]", "func [a b /r x] [reduce [a b x]]",
                    "func [a] [a]", "context [r: func [a] [a]]"])))
            elif k == 6:
                lines.append(r.choice(["p/a", "q/b", "c/a", "blk/2", "mp/k"]) + ": " +
                             r.choice(["10", "0.5", "\"s\"", "func [] [5]", ":+", "none",
                                       "func [x] [x * 2]", "func [x y] [x - y]"]))
            for _ in range(r.randrange(1, 3)):
                lines.append("show [%s]" % self.call(name, arity))
            # Top-level loops: their bodies, bound to the global context,
            # are planned blocks too.
            k = r.randrange(4)
            if k == 0:
                lines.append("loop 3 [show [%s]]" % self.call(name, arity))
            elif k == 1:
                lines.append("repeat j 3 [g2: j show [%s]]" % self.call(name, arity))
            elif k == 2:
                lines.append("show [%s]" % self.loop([], 1))
        if r.randrange(4) == 0:
            name, arity = r.choice(self.functions)
            lines.append(self.call(name, arity))
        return "\n".join(lines) + "\n"


class RecursiveProgram:
    """Self-recursive functions, their depth bounded by a counter that every
    recursive call lowers."""

    def __init__(self, rng):
        self.rng = rng
        self.refined = False  # the function being made takes /r k

    def leaf(self, locals_, k):
        r = self.rng
        return r.choice(["n", "0", "1", "n * 2", "(n + 1)"] + locals_ +
                        (["k", "k - n", "(n + k)"] if k else []))

    def call(self, name, field):
        """A recursive call of the function: by word, refined, or through
        the object holding it."""
        r = self.rng
        arg = r.choice(["n - 1", "n - 2", "n - 1", "(n - 1)"])
        forms = ["%s %s" % (name, arg), "%s %s" % (name, arg)]
        if self.refined:
            forms.append("%s/r %s k" % (name, arg))
        if field:
            forms.append("m/%s %s" % (name, arg))
        return r.choice(forms)

    def step(self, name, field, locals_, k):
        """The recursive branch: two calls combined in one of the shapes."""
        r = self.rng
        a, b = self.call(name, field), self.call(name, field)
        # Mostly arithmetic, so that most recursions run to their end.
        op = r.choice(["+", "-", "*", "+", "-", "+", "+", "-", "and", "<"])
        shapes = ["(%s) %s %s" % (a, op, b), "(%s) %s (%s)" % (a, op, b),
                  "%s %s %s" % (self.leaf(locals_, k), op, a), "add %s %s" % (a, b),
                  "either n > 3 [%s] [%s]" % (a, b)]
        if locals_:
            shapes.append("%s: %s %s: %s %s %s %s" % (locals_[0], a, locals_[-1], b,
                                                      locals_[0], op, locals_[-1]))
        return r.choice(shapes)

    def change(self, name, field):
        """What a call deep in the recursion may do to the code around it."""
        r = self.rng
        forms = ["%s: func [n] [n]" % name, "g: g + 1",
                 "saved-either: :either either: func [c a b] [either* c a b]",
                 "append body-of :%s [n]" % name, "+: :-", "+: :add"]
        if field:
            forms += ["m/%s: func [n] [0]" % name, "m: context [%s: none]" % name]
        return r.choice(forms)

    def function(self, name, field):
        r = self.rng
        self.refined = r.randrange(2) == 0
        locals_ = ["l%d" % i for i in range(r.choice([0, 1, 1, 2]))]
        lead = " ".join("%s: %s" % (l, r.choice(["0", "1", "2", "0", "2.5", "none"]))
                        for l in locals_)
        # k, the refinement's argument, is set first in some bodies (no
        # literal lead then), and is read only there.
        k = self.refined and r.randrange(2) == 0
        cond = r.choice(["n < 2", "n <= 1", "1 > n", "lesser? n 2"])
        step = self.step(name, field, locals_, k)
        if r.randrange(4) == 0:
            step = "if n = %d [%s] %s" % (r.randrange(1, 4), self.change(name, field), step)
        if r.randrange(3) == 0:
            body = "%s if %s [return %s] %s" % (lead, cond, self.leaf(locals_, k), step)
        else:
            body = "%s either %s [%s] [%s]" % (lead, cond, self.leaf(locals_, k), step)
        if k:
            body = "k: any [k 1] " + body
        spec = "n /r k" if self.refined else "n"
        maker = "function" if locals_ and r.randrange(2) == 0 else "func"
        if maker == "func" and locals_:
            spec += " /local " + " ".join(locals_)
        return "%s [%s] [%s]" % (maker, spec, " ".join(body.split()))

    def source(self):
        r = self.rng
        lines = ["g: 0", "either*: :either"]
        for i in range(r.randrange(1, 4)):
            name = "rec%d" % i
            field = r.randrange(3) == 0
            text = self.function(name, field)
            if field:
                lines.append("m: context [%s: %s]" % (name, text))
                lines.append("%s: :m/%s" % (name, name))
                callee = "m/%s" % name
            else:
                lines.append("%s: %s" % (name, text))
                callee = name
            for _ in range(r.randrange(2, 4)):
                lines.append("show [%s %d]" % (callee, r.randrange(0, 7)))
            lines.append("either: :either* +: :add")
        return "\n".join(["show: func [b] [either error? set/any 'e try b "
                          "[print [\"error\" e/id mold e/where mold/flat e/near]] "
                          "[print mold/flat :e]]"] + lines) + "\n"


def programs(count, first):
    return [("seed%d" % s, Program(random.Random(s)).source())
            for s in range(first, first + count)] + \
        [("library%d" % s, Program(random.Random(s), library=True).source())
         for s in range(first, first + count // 2)] + \
        [("recursive%d" % s, RecursiveProgram(random.Random(s)).source())
         for s in range(first, first + count // 2)]


if __name__ == "__main__":
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 60
    first = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    sys.argv = sys.argv[:2]
    plans_run.main(programs(count, first))
