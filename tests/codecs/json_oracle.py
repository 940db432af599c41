#!/usr/bin/env python3
"""Python's json module as the oracle of to-json and load-json.

Usage: json_oracle.py ZUV [COUNT] [SEED]

Random nested values (maps with word and string keys, strings with every
escape and characters above U+FFFF, integers, floats, logic, none) are
built in Zuv and written with to-json and to-json/ascii (every tenth also
with /pretty): json.loads must give the value back. The other way,
json.dumps of each value (ASCII on and off, indented and not) goes through
load-json, which must give the same value: Zuv compares it with ==.

Floats are any double (random bit patterns, the edges, negative zero):
to-json must write each as text that reads back as the same double.
Integers beyond 32 bits load as floats, exact up to 2^53; written back they
must still equal the integer.

Numbers longer than the lexer reads (integers of any length, floats with
hundreds of digits or exponents with leading zeros) must load as the double
Python's Decimal gives (an infinity past the doubles' range), both plainly
and nested deeper than the compiled decoder goes, where the library's own
decoder reads them.

Left out on purpose: U+FFFE (not taken by this runtime's UTF-8 decoder) and
surrogate code points.
"""

import json
import math
import random
import struct
import sys
from decimal import Decimal

from zuv_driver import fail, run_parts, zuv_string

COUNT = 10000
SEED = 20261210

# Characters strings are drawn from: every character JSON escapes, the
# edges of the ranges, and some characters beyond U+FFFF.
SPECIAL = [chr(c) for c in range(0x20)] + list('"\\/ \x7f\xa0\xe9\u00ff\u0100\u2028\u2029\uffff') + [
    "\U00010000", "\U0001F600", "\U0010FFFF", "\U00020000"]
WORD_FIRST = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
# Few letters, so that a map often holds names that differ only in case.
SHORT_WORDS = ["a", "A", "ab", "aB", "Ab", "AB"]
WORD_REST = WORD_FIRST + "0123456789-_?!*"


def random_char(rng):
    r = rng.random()
    if r < 0.5:
        return chr(rng.randrange(0x20, 0x7f))
    if r < 0.8:
        return rng.choice(SPECIAL)
    while True:
        c = rng.randrange(0x80, 0x110000)
        if not (0xD800 <= c <= 0xDFFF) and c != 0xFFFE:
            return chr(c)


def random_string(rng):
    return "".join(random_char(rng) for _ in range(rng.randrange(0, 12)))


# Doubles whose shortest text is long, tiny, huge or signed zero.
EDGE_FLOATS = [0.30000000000000004, 1e-20, -0.0, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308,
               0.1 + 0.7, 1 / 3, 2.0 ** 53, -(2.0 ** 53 - 1), 123456789012345680.0, 1e16, 1e17, 1e-7]


def random_float(rng):
    r = rng.random()
    if r < 0.1:
        return rng.choice(EDGE_FLOATS)
    if r < 0.5:
        digits = rng.randrange(1, 13)
        mantissa = rng.randrange(10 ** (digits - 1), 10 ** digits) * rng.choice((1, -1))
        return float("%de%d" % (mantissa, rng.randrange(-15, 30) - digits + 1))
    # Any finite double, all 17 digits of it.
    while True:
        d = struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))[0]
        if math.isfinite(d):
            return d


def random_int(rng):
    if rng.random() < 0.9:
        return rng.randrange(-2 ** 31, 2 ** 31)
    # Loads as a float, which holds it exactly up to 2^53.
    return rng.choice((1, -1)) * rng.randrange(2 ** 31, 2 ** 53 + 1)


def as_read(v):
    """The value as Zuv holds it: integers beyond 32 bits are floats."""
    if isinstance(v, bool) or v is None:
        return v
    if isinstance(v, int):
        return v if -2 ** 31 <= v < 2 ** 31 else float(v)
    if isinstance(v, list):
        return [as_read(x) for x in v]
    if isinstance(v, Keyed):
        return Keyed({k: as_read(x) for k, x in v.items()}, v.words)
    return v


def random_key(rng, word):
    if word:
        if rng.random() < 0.2:
            return rng.choice(SHORT_WORDS)
        return rng.choice(WORD_FIRST) + "".join(rng.choice(WORD_REST) for _ in range(rng.randrange(0, 8)))
    # Never word syntax: a blank inside, or a digit or apostrophe first.
    s = random_string(rng)
    return rng.choice((" ", "1", "'")) + s if rng.random() < 0.5 else s + " " + s


def random_value(rng, depth):
    kinds = ["int", "float", "str", "true", "false", "none"]
    if depth < 4:
        kinds += ["list", "map"] * 2
    kind = rng.choice(kinds)
    if kind == "int":
        return random_int(rng)
    if kind == "float":
        return random_float(rng)
    if kind == "str":
        return random_string(rng)
    if kind == "list":
        return [random_value(rng, depth + 1) for _ in range(rng.randrange(0, 5))]
    if kind == "map":
        out, words = {}, {}
        for _ in range(rng.randrange(0, 5)):
            word = rng.random() < 0.5
            key = random_key(rng, word)
            if key in out:
                continue
            out[key] = random_value(rng, depth + 1)
            words[key] = word
        return Keyed(out, words)
    return {"true": True, "false": False, "none": None}[kind]


class Keyed(dict):
    """A dict that remembers which keys are words in Zuv."""

    def __init__(self, items, words):
        super().__init__(items)
        self.words = words


def zuv_expr(v):
    """Zuv code that evaluates to the value."""
    if v is None:
        return "none"
    if v is True:
        return "true"
    if v is False:
        return "false"
    if isinstance(v, int):
        return str(v)
    if isinstance(v, float):
        return repr(v)
    if isinstance(v, str):
        return zuv_string(v)
    if isinstance(v, list):
        return "reduce [" + " ".join(zuv_expr(x) for x in v) + "]"
    parts = []
    for k, x in v.items():
        parts.append("'" + k if v.words[k] else zuv_string(k))
        parts.append(zuv_expr(x))
    return "make map! reduce [" + " ".join(parts) + "]"


SCRIPT_HEAD = """Zuv []
; Writing: each value with to-json and to-json/ascii, one text a line.
out: func [v pretty?] [
	print to-json :v
	print to-json/ascii :v
	if pretty? [print replace/all to-json/pretty :v "  " "^/" "^(1E)"]
]
; Reading: each text of json.dumps must load as the expected value.
in: func [i texts [block!] v] [
	foreach t texts [
		r: load-json t
		unless :r == :v [print ["mismatch" i mold t mold :r]]
	]
]
"""


def random_long_number(rng):
    """A JSON number of more than 312 characters."""
    sign = rng.choice(("", "-"))
    kind = rng.randrange(4)
    if kind == 0:  # an integer, mostly past the doubles' range
        return sign + str(rng.randrange(1, 10)) + "".join(rng.choice("0123456789") for _ in range(rng.randrange(312, 700)))
    if kind == 1:  # many digits, the point placing the value anywhere in range
        n = rng.randrange(313, 900)
        digits = str(rng.randrange(1, 10)) + "".join(rng.choice("0123456789") for _ in range(n))
        return "%s%s.%se%d" % (sign, digits[:1], digits[1:], rng.randrange(-330, 310))
    if kind == 2:  # leading zeros after the point
        return "%s0.%s%s" % (sign, "0" * rng.randrange(300, 400), rng.randrange(1, 10 ** 17))
    # an exponent written with many leading zeros, or past every double
    exponent = "0" * rng.randrange(300, 400) + str(rng.randrange(0, 400)) if rng.random() < 0.7 else str(
        rng.randrange(10 ** 9, 10 ** 17))
    return "%s%d.%de%s%s" % (sign, rng.randrange(1, 10), rng.randrange(0, 10 ** 15), rng.choice(("", "+", "-")), exponent)


def long_numbers(zuv, rng, count):
    """load-json of long numbers, plainly and deep inside arrays."""
    texts = [random_long_number(rng) for _ in range(count)]
    lines = ["print mold load-json %s\n" % zuv_string(t) for t in texts]
    lines += ["print mold load-json %s\n" % zuv_string("[" * 120 + t + "]" * 120) for t in texts]
    rows = run_parts(zuv, "Zuv []\n", lines).decode("utf-8").split("\n")
    bad = []
    for i, row in enumerate(rows[:2 * count]):
        text = texts[i % count]
        want = float(Decimal(text))
        got = row.strip("[]")
        back = {"1.#INF": math.inf, "-1.#INF": -math.inf}.get(got)
        try:
            back = float(got) if back is None else back
        except ValueError:
            back = None
        if back is None or struct.pack("<d", back) != struct.pack("<d", want):
            bad.append("load-json of %s...%s (%d characters%s): %s, not %r" % (
                text[:20], text[-20:], len(text), ", nested" if i >= count else "", row[:80], want))
    return bad


def main():
    zuv = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else COUNT
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else SEED
    rng = random.Random(seed)
    values = [random_value(rng, 0) for _ in range(count)]
    lines = []
    for i, v in enumerate(values):
        expr = zuv_expr(v)
        texts = [json.dumps(v, ensure_ascii=a, indent=ind) for a in (True, False) for ind in (None, 2)]
        lines.append("v: %s\nout :v %s\nin %d [%s] :v\n" % (
            expr, "true" if i % 10 == 0 else "false", i, " ".join(zuv_string(t) for t in texts)))
    out = run_parts(zuv, SCRIPT_HEAD, lines)
    rows = [r.decode("utf-8") for r in out.split(b"\n")[:-1]]
    bad = [r for r in rows if r.startswith("mismatch")]
    k = 0
    for i, v in enumerate(values):
        written = ["to-json", "to-json/ascii"] + (["to-json/pretty"] if i % 10 == 0 else [])
        for how in written:
            if k >= len(rows):
                fail("output ends early at value %d" % i)
            text = rows[k]
            k += 1
            if how == "to-json/pretty":
                # Printed with its line feeds as ^(1E).
                text = text.replace("\x1e", "\n")
                # The same lines as json.dumps/indent, each as far indented.
                shape = [len(r) - len(r.lstrip(" ")) for r in text.split("\n")]
                want = [len(r) - len(r.lstrip(" ")) for r in json.dumps(v, indent=2).split("\n")]
                if shape != want:
                    bad.append("%s of value %d: %r is not laid out as %r" % (how, i, text, json.dumps(v, indent=2)))
            if how == "to-json/ascii" and not text.isascii():
                bad.append("%s of value %d is not ASCII: %r" % (how, i, text))
            try:
                back = json.loads(text)
            except ValueError as e:
                bad.append("%s of value %d: %r is no JSON (%s)" % (how, i, text, e))
                continue
            held = as_read(v)
            if back != held or json.dumps(back) != json.dumps(held):
                bad.append("%s of value %d: %r gives %r, not %r" % (how, i, text, back, held))
        if len(bad) > 20:
            break
    bad += long_numbers(zuv, rng, max(count // 50, 50))
    if bad:
        fail("\n".join(bad[:20]))
    print("ok: %d values and %d long numbers, seed %d" % (count, max(count // 50, 50), seed))


if __name__ == "__main__":
    main()
