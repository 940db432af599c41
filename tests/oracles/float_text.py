#!/usr/bin/python3
"""Float texts against Python's float and struct: every double and every
float32 element must survive being written and read back.

Usage: float_text.py ZUV

Each double (random bit patterns, short decimals, the edges, negative zero)
goes through load of its literal and mold, through to-json and load-json,
and through load-json of json.dumps. As a percent! it must mold as the
shortest digits of the double with the point moved two places (Python's repr
gives them), which Python's Fraction reads back as the same double, and the
lexer too; to-json of it is the double's own JSON. float! vectors of 64 and 32 bits are
molded and loaded back: every element must come back with the same bits,
and a 32-bit element is molded with the fewest digits that read back as
that float32 (9 at most), as Python finds them.
"""

import json
import math
from decimal import Decimal
from fractions import Fraction
import os
import random
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import oracle_run  # noqa: E402

rng = random.Random(63)

PRELUDE = """texts: func [b [block!] /local out] [
\tout: copy ""
\tforeach e b [append out mold e append out " "]
\tout
]
"""

EDGES = [0.0, -0.0, 0.30000000000000004, 1e-20, 5e-324, -5e-324, 2.2250738585072014e-308,
         1.7976931348623157e308, -1.7976931348623157e308, 2.0 ** 53, 2.0 ** 53 + 2, 1e16, 1e17,
         123456789012345680.0, 1e-7, 1e-6, 0.1, 1 / 3, 4294967296.0]
EDGES32 = [16777216.0, 16777218.0, 0.1, 3.4028234663852886e38, 1.401298464324817e-45,
           1.1754943508222875e-38, -0.0, 0.0, 1e10, 0.3333333432674408]


def bits(d):
    return struct.unpack("<Q", struct.pack("<d", d))[0]


def f32(d):
    try:
        return struct.unpack("<f", struct.pack("<f", d))[0]
    except OverflowError:
        # struct refuses a text just above the largest float32, though it
        # rounds to it.
        big = struct.unpack("<f", bytes.fromhex("ffff7f7f"))[0]
        return math.copysign(big, d) if abs(d) < big * (1 + 2 ** -25) else math.copysign(math.inf, d)


def random_double():
    r = rng.random()
    if r < 0.15:
        return rng.choice(EDGES)
    if r < 0.4:
        return round(rng.uniform(-1000, 1000), rng.randrange(0, 8))
    while True:
        d = struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))[0]
        if math.isfinite(d):
            return d


def random_single():
    if rng.random() < 0.2:
        return f32(rng.choice(EDGES32))
    while True:
        d = struct.unpack("<f", struct.pack("<I", rng.getrandbits(32)))[0]
        if math.isfinite(d):
            return d


def shortest_single(x):
    """The fewest significant digits that read back as the float32 x."""
    if x == 0:
        return 1
    for p in range(1, 10):
        if f32(float("%.*e" % (p - 1, x))) == x:
            return p
    return 9


def significant(text):
    mantissa = text.lstrip("-").split("e")[0].replace(".", "").strip("0")
    return max(1, len(mantissa))


def read_answer(text):
    """The floats of a molded result: a float, or a string of them."""
    if text[:1] in ('"', "{"):
        text = text[1:-1]
    return text.split()


def doubles(cases):
    for _ in range(3000):
        d = random_double()
        lit = repr(d)
        for expr in ("load mold %s" % lit, "load-json to-json %s" % lit,
                     "load-json {%s}" % json.dumps(d)):
            cases.append((expr, [d], None))


def percents(cases):
    for _ in range(1500):
        d = random_double()
        lit = repr(d)
        cases.append(("mold to percent! %s" % lit, [d], "percent text"))
        cases.append(("load mold to percent! %s" % lit, [d], "percent"))
        cases.append(("load-json to-json to percent! %s" % lit, [d], None))
    # Percent vectors mold each element as the shortest text of its own size.
    for size, draw in ((64, random_double), (32, random_single)):
        for _ in range(300):
            values = [draw() for _ in range(rng.randrange(1, 6))]
            made = "append make vector! [percent! %d []] reduce [%s]" % (
                size, " ".join("to percent! %s" % repr(x) for x in values))
            cases.append(("mold %s" % made, values, "percents %d" % size))


def percent_back(text):
    """The double a percent text reads as: its number divided by 100, exactly."""
    if not text.endswith("%"):
        raise ValueError(text)
    back = float(Fraction(Decimal(text[:-1])) / 100)
    return -back if text.startswith("-") and back == 0 else back


def vectors(cases):
    for _ in range(400):
        values = [random_double() for _ in range(rng.randrange(1, 6))]
        v = "make vector! [float! 64 [%s]]" % " ".join(repr(x) for x in values)
        cases.append(("texts to block! do load mold %s" % v, values, None))
    for _ in range(600):
        values = [random_single() for _ in range(rng.randrange(1, 6))]
        v = "make vector! [float! 32 [%s]]" % " ".join(repr(x) for x in values)
        cases.append(("texts to block! do load mold %s" % v, values, None))
        # The molded elements themselves: each the shortest float32 text.
        cases.append(("texts to block! load mold %s" % v, values, "single"))


def check(case, want, how, got):
    if how in ("percent", "percent text"):
        text = got[1:-1] if how == "percent text" else got
        try:
            back = percent_back(text)
        except (ValueError, ArithmeticError):
            return "%s: %s is no percent" % (case, got)
        digits = significant(text[:-1])
        if bits(back) != bits(want[0]) or digits != significant(repr(want[0])):
            return "%s: %s is not the shortest percent of %r" % (case, got, want[0])
        return None
    if how and how.startswith("percents"):
        texts = got[1:-1].rsplit("[", 1)[-1].strip("]").split()
        if len(texts) != len(want):
            return "%s: want %r, got %s" % (case, want, got)
        for w, t in zip(want, texts):
            try:
                back = percent_back(t)
            except (ValueError, ArithmeticError):
                return "%s: %s is no percent" % (case, t)
            single = how.endswith("32")
            digits = shortest_single(w) if single else significant(repr(w))
            if (f32(back) if single else back) != w or significant(t[:-1]) != digits:
                return "%s: %s is not the shortest percent of %r" % (case, t, w)
        return None
    texts = read_answer(got)
    if how == "single":
        # load of the molded text: [make vector! [float! 32 [...]]]
        texts = [t.strip("[]") for t in texts[3:]]
        texts = [t for t in texts if t and t not in ("float!", "32")]
    if len(texts) != len(want):
        return "%s: want %r, got %s" % (case, want, got)
    for w, t in zip(want, texts):
        try:
            back = float(t)
        except ValueError:
            return "%s: %s is no number" % (case, t)
        if how == "single":
            if f32(back) != w or significant(t) != shortest_single(w):
                return "%s: %s is not the shortest text of %r" % (case, t, w)
        elif bits(back) != bits(w):
            return "%s: want %r, got %s" % (case, w, t)
    return None


def main():
    cases = []
    doubles(cases)
    percents(cases)
    vectors(cases)
    answers = oracle_run.run(sys.argv[1], [c for c, _, _ in cases], PRELUDE)
    failures = []
    for (case, want, how), got in zip(cases, answers):
        bad = check(case, want, how, got)
        if bad:
            failures.append(bad)
    oracle_run.report(failures, len(cases))


main()
