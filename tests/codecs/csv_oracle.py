#!/usr/bin/env python3
"""Python's csv module as the oracle of to-csv and load-csv.

Usage: csv_oracle.py ZUV [COUNT] [SEED]

Random tables of text fields holding blanks, commas, semicolons, tabs,
both quote characters, line feeds and lone carriage returns are written by
to-csv (plainly, /with ";" and tab, /quote "'"); csv.reader must read the
same fields back. The other way, csv.writer output (LF and CR LF line ends)
goes through load-csv with the same delimiter and quote, which must give
the same fields: Zuv compares them with ==.

Tables of one column come up too: a line of one empty field must be
written as two quotes, since csv.reader reads an empty line as no field at
all.

Tables of floats (random bit patterns, the edges, negative zero) written by
to-csv, plainly and through the library's writers (/skip), must read back
through Python's float as the same doubles.
"""

import csv
import io
import math
import random
import struct
import sys

from zuv_driver import fail, run_parts, zuv_string

COUNT = 3000
SEED = 20261210
DIALECTS = [(",", '"', ""), (";", '"', "/with"), ("\t", '"', "/with"), (",", "'", "/quote")]
PIECES = ["a", "b", "Z", "1", " ", ",", ";", "\t", '"', "'", "\n", "\r", "\u00e9", "\U0001F600", "x y", '""']


def random_field(rng):
    return "".join(rng.choice(PIECES) for _ in range(rng.randrange(0, 6)))


def random_table(rng):
    width = rng.randrange(1, 5)
    return [[random_field(rng) for _ in range(width)] for _ in range(rng.randrange(1, 4))]


def zuv_table(rows):
    return "[" + " ".join("[" + " ".join(zuv_string(f) for f in row) + "]" for row in rows) + "]"


SCRIPT_HEAD = """Zuv []
; Writing: to-csv of each table, the texts separated by ^(1F).
out: func [rows how d q] [
	prin switch how [
		"" [to-csv rows]
		"/with" [to-csv/with rows d]
		"/quote" [to-csv/quote rows q]
	]
	prin "^(1F)"
]
; Reading: csv.writer texts through load-csv.
in: func [i texts [block!] rows d q /local t r] [
	foreach t texts [
		r: load-csv/with/quote t d q
		unless :r == rows [print ["^/mismatch" i mold t mold :r]]
	]
]
"""


FLOAT_EDGES = [0.0, -0.0, 5e-324, -5e-324, 2.2250738585072014e-308, 1.7976931348623157e308,
               -1.7976931348623157e308, 251440.60821610806, 0.1, 1e16, 1e17, 1e22, 1e-7, 2.0 ** 53 + 2]


def random_double(rng):
    if rng.random() < 0.2:
        return rng.choice(FLOAT_EDGES)
    while True:
        d = struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))[0]
        if math.isfinite(d):
            return d


def bits(d):
    return struct.pack("<d", d)


def floats(zuv, rng, count):
    """to-csv of float tables, read back by csv.reader and float()."""
    cases, lines = [], []
    for i in range(count):
        width = rng.randrange(1, 5)
        rows = [[random_double(rng) for _ in range(width)] for _ in range(rng.randrange(1, 4))]
        cases.append(rows)
        flat = " ".join(repr(x) for row in rows for x in row)
        if i % 2:
            lines.append("prin to-csv [%s] prin \"^(1F)\"\n" % " ".join(
                "[" + " ".join(repr(x) for x in row) + "]" for row in rows))
        else:
            lines.append("prin to-csv/skip [%s] %d prin \"^(1F)\"\n" % (flat, width))
    written = run_parts(zuv, "Zuv []\n", lines).decode("utf-8").split("\x1f")
    bad = []
    for rows, text in zip(cases, written):
        back = list(csv.reader(io.StringIO(text, newline="")))
        try:
            same = len(back) == len(rows) and all(
                len(b) == len(r) and all(bits(float(f)) == bits(x) for f, x in zip(b, r))
                for b, r in zip(back, rows))
        except ValueError:
            same = False
        if not same:
            bad.append("to-csv of %r: %r" % (rows, text))
    return bad


def main():
    zuv = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else COUNT
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else SEED
    rng = random.Random(seed)
    cases = []
    lines = []
    for i in range(count):
        d, q, how = DIALECTS[i % len(DIALECTS)]
        rows = random_table(rng)
        cases.append((rows, d, q))
        texts = []
        # csv.writer quotes only the characters of its own line end, so a
        # lone CR goes unquoted after LF line ends: LF only without CRs.
        ends = ["\r\n"] if any("\r" in f for row in rows for f in row) else ["\n", "\r\n"]
        for end in ends:
            buf = io.StringIO(newline="")
            csv.writer(buf, delimiter=d, quotechar=q, lineterminator=end).writerows(rows)
            texts.append(buf.getvalue())
        lines.append("t: %s\nout t %s %s %s\nin %d [%s] t %s %s\n" % (
            zuv_table(rows), zuv_string(how), zuv_string(d), "#" + zuv_string(q), i,
            " ".join(zuv_string(t) for t in texts), zuv_string(d), "#" + zuv_string(q)))
    body = run_parts(zuv, SCRIPT_HEAD, lines).decode("utf-8")
    bad = [line for line in body.split("\n") if line.startswith("mismatch")]
    if bad:
        fail("\n".join(bad[:20]))
    written = body.split("\x1f")
    if len(written) != count + 1:
        fail("%d texts written for %d tables" % (len(written) - 1, count))
    for i, (rows, d, q) in enumerate(cases):
        text = written[i]
        back = list(csv.reader(io.StringIO(text, newline=""), delimiter=d, quotechar=q, strict=True))
        if back != rows:
            bad.append("to-csv of %r (delimiter %r, quote %r): %r reads as %r" % (rows, d, q, text, back))
            if len(bad) > 20:
                break
    bad += floats(zuv, rng, count // 3)
    if bad:
        fail("\n".join(bad[:20]))
    print("ok: %d tables and %d of floats, seed %d" % (count, count // 3, seed))


if __name__ == "__main__":
    main()
