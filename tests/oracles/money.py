#!/usr/bin/python3
"""money! arithmetic, rounding, float conversion and form against decimal.

Usage: money.py ZUV
"""

import math
import os
import random
import sys
from decimal import Decimal, getcontext, ROUND_DOWN, ROUND_FLOOR, ROUND_CEILING, \
    ROUND_HALF_EVEN, ROUND_HALF_DOWN, ROUND_HALF_UP

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import oracle_run  # noqa: E402

getcontext().prec = 100
PLACE = Decimal("0.00001")
LIMIT = Decimal(10) ** 17
rng = random.Random(37)


def cut(d):
    return d.quantize(PLACE, rounding=ROUND_DOWN)


def units(d):
    """Significant digits of an amount's 22-digit form, at least 1."""
    return max(1, len(str(int(abs(d) * 100000))))


def money_text(d):
    sign = "-" if d < 0 else ""
    whole, frac = divmod(abs(d) * 100000, 100000)
    return "%s$%d.%05d" % (sign, whole, frac)


def random_money():
    n = rng.choice([1, 3, 5, 8, 12, 16, 19, 21, 22, 22])
    v = rng.randrange(10 ** (n - 1) if n > 1 else 0, 10 ** n)
    d = Decimal(v) / 100000
    return -d if rng.random() < 0.4 else d


def random_integer():
    r = rng.random()
    if r < 0.1:
        return rng.choice([0, 1, -1, 2147483647, -2147483648])
    if r < 0.6:
        return rng.randrange(-1000, 1000)
    return rng.randrange(-2147483648, 2147483648)


def random_float():
    r = rng.random()
    if r < 0.05:
        return rng.choice([1e17, -2.5e17, 1e300, 5e-6, -1e-7, 0.0, 1e-5])
    if r < 0.15:
        # More than five places: extra digits are dropped.
        return rng.uniform(-1000, 1000)
    places = rng.randrange(0, 6)
    return round(rng.uniform(-1, 1) * 10 ** rng.randrange(0, 17), places)


def float_text(f):
    t = repr(f)
    return t if ("e" in t or "." in t) else t + ".0"


# An operand: (kind, Zuv text, exact value or an error id).
def operand(kind):
    if kind == "m":
        d = random_money()
        return ("m", money_text(d), d)
    if kind == "i":
        i = random_integer()
        return ("i", str(i), Decimal(i))
    f = random_float()
    if not math.isfinite(f) or (f != 0 and abs(f) < 1e-5) or abs(f) >= 1e17:
        return ("f", float_text(f), "bad-make-arg")
    return ("f", float_text(f), cut(Decimal(repr(f))))


def limit(d):
    return "type-limit" if abs(d) >= LIMIT else d


def expected(op, a, b):
    ka, kb = a[0], b[0]
    if op == "multiply" and ka == "m" and kb == "m":
        return "invalid-type"
    if op in ("divide", "remainder") and ka != "m":
        return "invalid-type"
    for x in (a, b):
        if isinstance(x[2], str):
            return x[2]
    x, y = a[2], b[2]
    if op == "add":
        return limit(x + y)
    if op == "subtract":
        return limit(x - y)
    if op == "multiply":
        if x == 0 or y == 0:
            return Decimal(0)
        if units(x) + units(y) > 28:
            return "type-limit"
        return limit(cut(x * y))
    if y == 0:
        return "zero-divide"
    if x == 0:
        return Decimal(0)
    if units(x) - units(y) + 6 > 22:
        return "type-limit"
    if op == "remainder":
        return x % y
    q = limit(cut(x / y))
    if isinstance(q, Decimal) and ka == "m" and kb == "m":
        return float(q)
    return q


def read_answer(text):
    if text.startswith("-$") or text.startswith("$"):
        return Decimal(text.replace("$", ""))
    if text[:1].isdigit() or text[:1] == "-":
        return float(text)
    return text


def same(want, got):
    if isinstance(want, float):
        return isinstance(got, float) and got == want
    if isinstance(want, Decimal):
        return isinstance(got, Decimal) and got == want
    return want == got


def arithmetic(cases):
    kinds = [("m", "m")] * 4 + [("m", "i"), ("i", "m"), ("m", "f"), ("f", "m")]
    for _ in range(10000):
        op = rng.choice(["add", "subtract", "multiply", "divide", "remainder"])
        ka, kb = rng.choice(kinds)
        a, b = operand(ka), operand(kb)
        # Small divisors reach past the limit often; mix in nearby sizes.
        cases.append(("%s %s %s" % (op, a[1], b[1]), expected(op, a, b)))


MODES = {
    "": ROUND_HALF_UP, "/even": ROUND_HALF_EVEN, "/down": ROUND_DOWN,
    "/half-down": ROUND_HALF_DOWN, "/floor": ROUND_FLOOR, "/ceiling": ROUND_CEILING,
    "/half-ceiling": None,
}
SCALES = [("1", Decimal(1)), ("2", Decimal(2)), ("$0.01", Decimal("0.01")), ("$0.05", Decimal("0.05"))]


def rounding(cases):
    for mode, rounding_mode in MODES.items():
        for scale_text, s in SCALES:
            for i in range(60):
                if i % 3 == 0:
                    # A tie: an odd multiple of half the scale.
                    v = (Decimal(rng.randrange(-2000, 2000)) + Decimal("0.5")) * s
                else:
                    v = Decimal(rng.randrange(-10 ** 12, 10 ** 12)) / 100000
                m = rounding_mode or (ROUND_HALF_UP if v > 0 else ROUND_HALF_DOWN)
                want = (v / s).quantize(Decimal(1), rounding=m) * s
                cases.append(("round/to%s %s %s" % (mode, money_text(v), scale_text), want))


def conversions(cases):
    for _ in range(500):
        d = random_money()
        cases.append(("to float! %s" % money_text(d), float(d)))
    for _ in range(500):
        d = random_money()
        whole, frac = divmod(abs(d) * 100000, 100000)
        text = "-" if d != 0 and d < 0 else ""
        text += "$" + format(int(whole), ",").replace(",", "'") + ".%02d" % (frac // 1000)
        cases.append(("form %s" % money_text(d), '"%s"' % text))


def comparisons(cases):
    """Ordering and equality: by exact value, a float beyond the money range
    included; a float in range with more than five places is refused."""
    kinds = [("m", "m"), ("m", "i"), ("i", "m"), ("m", "f"), ("f", "m")]
    for _ in range(2000):
        ka, kb = rng.choice(kinds)
        a, b = operand(ka), operand(kb)
        if rng.random() < 0.2:
            b = a if kb == ka else b  # equal pairs
        op = rng.choice(["lesser?", "greater-or-equal?", "equal?", "not-equal?"])
        values = []
        for kind, text, _ in (a, b):
            if kind == "f":
                f = float(text)
                if not math.isfinite(f):
                    values = None
                    break
                d = Decimal(repr(f))
                if abs(d) < LIMIT and d != d.quantize(PLACE, rounding=ROUND_DOWN) and f != 0 and abs(f) >= 1e-5:
                    values = "bad-make-arg"
                    break
                values.append(d)
            else:
                values.append(Decimal(text.replace("$", "")))
        if values is None:
            continue
        if isinstance(values, str):
            want = values
        else:
            x, y = values
            want = {"lesser?": x < y, "greater-or-equal?": x >= y, "equal?": x == y, "not-equal?": x != y}[op]
            want = "true" if want else "false"
        cases.append(("%s %s %s" % (op, a[1], b[1]), want))


def main():
    cases = []
    arithmetic(cases)
    comparisons(cases)
    rounding(cases)
    conversions(cases)
    answers = oracle_run.run(sys.argv[1], [c for c, _ in cases])
    failures = []
    for (case, want), got in zip(cases, answers):
        got_value = got if got.startswith('"') else read_answer(got)
        if not same(want, got_value):
            failures.append("%s: want %s, got %s" % (case, want, got))
    oracle_run.report(failures, len(cases))


main()
