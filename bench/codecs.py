#!/usr/bin/env python3
"""The JSON and CSV codecs beside CPython's, in one run.

Writes a 10 MB JSON document and a 10 MB CSV file into bench/data/ (once,
untimed), then times, alternating, each of:

  zuv load-json        load-json read %@DATA@/codecs.json
  py json.loads        json.loads (the C scanner)
  py pure scanner      json.loads with json.scanner.py_make_scanner and
                       json.decoder.py_scanstring (no C at all)
  zuv load-csv         load-csv read %@DATA@/codecs.csv
  py csv.reader        list(csv.reader(...))

Each program reads its file as text itself, which is in every figure.
Delete the files to make them again. The
table gives the median wall time and peak memory, and load-json's ratio to
the pure-Python scanner: the bar is a ratio of at most 1.

Usage: bench/codecs.py [--runs N] [--zuv PATH] [--python PATH]
"""

import json
import os
import random
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, "bench", "data")
sys.path.insert(0, os.path.join(ROOT, "bench"))
from side_by_side import arguments, time_programs  # noqa: E402

TARGET = 10 * 1024 * 1024
WORDS = ["alpha", "beta", "gamma", "delta", "epsilon", "zeta", "theta", "kappa",
         "lambda", "sigma", "omega", "north", "south", "east", "west", "value"]

PROGRAMS = [
    ("zuv load-json", "zuv", 'Zuv [] data: load-json read %@DATA@/codecs.json\n'
                             'if 20000 > length? data [print "too few records"]\n'),
    ("py json.loads", "py", "import json\n"
                            "with open('@DATA@/codecs.json', encoding='utf-8') as f:\n"
                            "    data = json.loads(f.read())\n"),
    ("py pure scanner", "py", "import json, json.decoder, json.scanner\n"
                              "json.decoder.scanstring = json.decoder.py_scanstring\n"
                              "decoder = json.JSONDecoder()\n"
                              "decoder.parse_string = json.decoder.py_scanstring\n"
                              "decoder.scan_once = json.scanner.py_make_scanner(decoder)\n"
                              "with open('@DATA@/codecs.json', encoding='utf-8') as f:\n"
                              "    data = decoder.decode(f.read())\n"),
    ("zuv load-csv", "zuv", 'Zuv [] data: load-csv read %@DATA@/codecs.csv\n'
                            'if 100000 > length? data [print "too few lines"]\n'),
    ("py csv.reader", "py", "import csv\n"
                            "with open('@DATA@/codecs.csv', encoding='utf-8', newline='') as f:\n"
                            "    data = list(csv.reader(f))\n"),
]


def text(rng):
    s = " ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 5)))
    r = rng.random()
    if r < 0.05:
        s += ' "quoted", tab\t and line\n'
    elif r < 0.1:
        s += " caf\u00e9 \u4e2d \U0001F600"
    return s


def write_json(path, rng):
    records = []
    size = 0
    while size < TARGET:
        rec = {
            "id": rng.randint(0, 10 ** 9),
            "name": text(rng),
            "score": round(rng.uniform(-1000.0, 1000.0), 3),
            "active": rng.random() < 0.5,
            "parent": None if rng.random() < 0.7 else rng.randint(0, 1000),
            "tags": [rng.choice(WORDS) for _ in range(rng.randint(0, 5))],
            "point": {"x": rng.randint(-500, 500), "y": rng.randint(-500, 500)},
            "big": rng.randint(10 ** 10, 10 ** 12),
        }
        records.append(rec)
        size += len(json.dumps(rec, ensure_ascii=False)) + 3
    with open(path, "w", encoding="utf-8") as f:
        json.dump(records, f, ensure_ascii=False)


def write_csv(path, rng):
    import csv
    with open(path, "w", encoding="utf-8", newline="") as f:
        w = csv.writer(f, lineterminator="\n")
        w.writerow(["id", "name", "score", "city", "note"])
        while f.tell() < TARGET:
            w.writerow([rng.randint(0, 10 ** 6), text(rng), round(rng.uniform(0, 100), 2),
                        rng.choice(WORDS), rng.choice(["", "n/a", "x, y", 'say "hi"'])])


def main():
    args = arguments(__doc__)
    rng = random.Random(44)
    for name, writer in (("codecs.json", write_json), ("codecs.csv", write_csv)):
        path = os.path.join(DATA, name)
        if not os.path.exists(path):
            writer(path, rng)

    med = time_programs(PROGRAMS, args.zuv, args.python, args.runs, sync=True)
    print("load-json / pure scanner: %.2f" % (med["zuv load-json"] / med["py pure scanner"]))
    print("load-json / json.loads:   %.2f" % (med["zuv load-json"] / med["py json.loads"]))
    print("load-csv / csv.reader:    %.2f" % (med["zuv load-csv"] / med["py csv.reader"]))


if __name__ == "__main__":
    main()
