#!/usr/bin/python3
"""Comparison operators give the same bytes whichever way they run: plans
off, on and verified, and every call on the general path
(ZUV_NO_FAST_PATHS, where each comparison is its native's call).

Each seeded program draws pairs of values of the types the operators
compare without a call (strings of one- and two-byte characters and the
other any-strings, chars, integers, floats, percents, times, the word
kinds, pairs, tuples, dates with and without zones, money with and without
currencies, logic, none, datatypes) and of some they leave to the call
(blocks, objects, functions), and compares them with every operator: as
globals, as a planned function's arguments (called several times), against
a literal right operand, through the prefix natives and in a chain. Results
print one a line; an error prints its id, arguments, Where and Near (its
Stack line differs between the modes by design). A traced run of a few
comparisons prints its events, so a comparison taken short while tracing
would show as a missing call.

Usage: compare_ops.py ZUV [COUNT [FIRST_SEED]]
"""

import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import plans_run  # noqa: E402

OPS = ["<", "<=", ">", ">=", "=", "<>", "==", "=?"]
PREFIX = ["lesser?", "lesser-or-equal?", "greater?", "greater-or-equal?", "equal?",
          "not-equal?", "strict-equal?", "same?"]

# Literals that stand for themselves: usable as a right operand in code.
INERT = [
    '"alpha"', '"alpin"', '"Alpha"', '"ALPHA"', '""', '"a"', '"ab"', '"b"', '"é"', '"É"',
    '"straße"', '"STRASSE"', '"ÿ"', '"Ÿ"', '"日本"', '"日本語"', '"a^(0)b"', '"abc"',
    '%file.txt', '%FILE.txt', 'http://a.b/c', '<tag>', '<TAG>', 'a@b.c',
    '#"a"', '#"A"', '#"b"', '#"é"', '#"^(0)"', '#"日"',
    '0', '1', '-1', '65', '97', '2147483647', '-2147483648',
    '0.0', '-0.0', '1.5', '-1.5', '97.0', '0.1', '0.3', '1e300', '65.0',
    '50%', '0.5%', '1:30', '0:00:01.5', '-1:00',
    '1x2', '3x4', '-1x0', '2x1',
    '1.2.3', '1.2.3.0', '1.2.4', '255.255.255', '1.2',
    '1-Jan-2024', '2-Jan-2024', '1-Jan-2024/10:00', '1-Jan-2024/10:00+2:00',
    '1-Jan-2024/8:00', '31-Dec-2023/23:00-1:00',
    '$1.50', '$1.5', '$2.25', '-$1', 'USD$1.50', 'EUR$1.50', '$0', 'USD$0.01',
]
# Values made by evaluation, held in variables.
MADE = [
    "'alpha", "'Alpha", "'beta", "to word! \"beta\"", "to set-word! 'alpha", "#alpha",
    "to refinement! 'alpha", "to get-word! 'beta", "to lit-word! 'alpha", "'日本",
    "next \"zalpha\"", "skip \"xxab\" 2", "0.1 + 0.2", "1.0 / 3", "1.#NaN", "-1.#INF",
    "none", "true", "false", "integer!", "string!", "[1 2]", "[\"a\" b]",
    "make object! [a: 1]", ":print", "func [] [1]", "uppercase \"straße\"",
]


def zuv_helpers():
    return """
show: func [r] [
    either error? :r [
        print ["error" r/id mold/flat :r/arg1 mold/flat :r/arg2 mold r/where mold/flat r/near]
    ] [print mold/flat :r]
]
vals: reduce [
    %s
    %s
]
""" % ("\n    ".join(INERT), "\n    ".join("(%s)" % m for m in MADE))


def program(rng):
    count = len(INERT) + len(MADE)
    lines = [zuv_helpers()]
    # Every operator as a function of two arguments, planned on its second call.
    for i, op in enumerate(OPS):
        lines.append("op%d: func [a b] [a %s b]" % (i, op))
        lines.append("pre%d: func [a b] [%s a b]" % (i, PREFIX[i]))
    lines.append("chain: func [a b c] [a < b = (b > c)]")
    pairs = [(rng.randrange(count) + 1, rng.randrange(count) + 1) for _ in range(60)]
    # Some pairs of one type, which compare more often than they differ.
    pairs += [(i, i + rng.choice([-1, 0, 1])) for i in
              (rng.randrange(2, len(INERT)) for _ in range(30))]
    for i, j in pairs:
        lines.append("a: pick vals %d b: pick vals %d" % (i, j))
        for k, op in enumerate(OPS):
            lines.append("show try [a %s b]" % op)
            lines.append("show try [op%d :a :b]" % k)
        k = rng.randrange(len(OPS))
        lines.append("show try [pre%d :a :b]" % k)
        lines.append("show try [chain :a :b :a]")
    # A literal right operand in planned code and on the interpreter.
    for n in range(25):
        lit = rng.choice(INERT)
        op = rng.choice(OPS)
        lines.append("lit%d: func [a] [a %s %s]" % (n, op, lit))
        for _ in range(3):
            i = rng.randrange(count) + 1
            lines.append("show try [lit%d pick vals %d]" % (n, i))
            lines.append("a: pick vals %d show try [a %s %s]" % (i, op, lit))
    # Traced comparisons: each one's call shows.
    lines.append("""
events: func [event code offset value ref frame] [
    [call return error]
    print [event either any-function? :value [mold type? :value] [mold/flat :value] mold ref]
]""")
    for _ in range(4):
        i, j = rng.randrange(len(INERT)) + 1, rng.randrange(len(INERT)) + 1
        op = rng.choice(OPS)
        lines.append("a: pick vals %d b: pick vals %d" % (i, j))
        lines.append("show try [do/trace [x: a %s b op0 a b] :events]" % op)
    return "\n".join(lines) + "\n"


def main():
    argv = sys.argv[1:]
    if not argv:
        sys.exit("usage: compare_ops.py ZUV [COUNT [FIRST_SEED]]")
    count = int(argv[1]) if len(argv) > 1 else 6
    first = int(argv[2]) if len(argv) > 2 else 1
    cases = [("compare_%d" % seed, program(random.Random(seed)))
             for seed in range(first, first + count)]
    sys.argv = sys.argv[:2]
    plans_run.main(cases, modes=plans_run.WITH_GENERAL)


if __name__ == "__main__":
    main()
