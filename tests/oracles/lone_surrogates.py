#!/usr/bin/python3
"""Strings holding a surrogate alone, through everything that writes text.

A string may hold U+D800-U+DFFF alone (an escape, to char!, a JSON escape, a
byte of a name that is not UTF-8). mold and save write it as an escape that
loads back as the same string; to-json writes its \\u escape, which Python's
json (and load-json) read back as that character; everything that encodes
text (write, write/lines, print, to-csv written out, checksums, compress,
call's input) writes U+FFFD in its place. Python checks that every byte
written is UTF-8 and what it holds; zuv checks that its own readers take it.

Usage: lone_surrogates.py ZUV
"""

import csv
import gzip
import hashlib
import io
import json
import os
import random
import subprocess
import sys
import tempfile

rng = random.Random(4)
CASES = 120


def random_string():
    out = []
    for _ in range(rng.randint(1, 12)):
        r = rng.random()
        if r < 0.35:
            c = rng.randint(0xD800, 0xDFFF)
        elif r < 0.55:
            c = rng.randint(0x20, 0x7E)
        elif r < 0.7:
            c = rng.randint(0xA0, 0x7FF)
        elif r < 0.85:
            c = rng.choice([rng.randint(0x800, 0xD7FF), rng.randint(0xE000, 0xFFFD)])
        else:
            c = rng.randint(0x10000, 0x10FFFF)
        # A high half right before a low one is one character to JSON (and
        # to UTF-16): kept apart here, JSON's own case is in json_load.
        if out and 0xD800 <= out[-1] <= 0xDBFF and 0xDC00 <= c <= 0xDFFF:
            c = ord("x")
        out.append(c)
    if not any(0xD800 <= c <= 0xDFFF for c in out):
        out.insert(rng.randint(0, len(out)), rng.choice([0xD800, 0xDBFF, 0xDC00, 0xDCE9, 0xDFFF]))
    return "".join(chr(c) for c in out)


def literal(s):
    """The string as Zuv source: printable ASCII as it is, the rest escaped."""
    out = []
    for ch in s:
        c = ord(ch)
        out.append(ch if 0x20 <= c <= 0x7E and ch not in '"^' else "^(%X)" % c)
    return '"' + "".join(out) + '"'


def as_text(s):
    """What text gets: each surrogate alone as U+FFFD."""
    return "".join("\ufffd" if 0xD800 <= ord(c) <= 0xDFFF else c for c in s)


SCRIPT = r"""Zuv [Title: "strings holding a surrogate alone"]
cases: load %cases.zuv
repeat i length? cases [
    s: pick cases i
    n: form i
    m: mold s
    write rejoin [%m n ".txt"] m
    save rejoin [%s n ".zuv"] s
    write rejoin [%w n ".txt"] s
    write/lines rejoin [%l n ".txt"] reduce [s s]
    write rejoin [%j n ".json"] to-json s
    write rejoin [%a n ".json"] to-json/ascii s
    write rejoin [%c n ".csv"] to-csv reduce [reduce [s "x"]]
    write rejoin [%z n ".gz"] compress s 'gzip
    save rejoin [%b n ".zuvbin"] s
    out: copy ""
    call/wait/input/output "cat" s out
    print rejoin [
        "case " n
        " mold " equal? s load m
        " save " equal? s load rejoin [%s n ".zuv"]
        " zuvbin " equal? s load rejoin [%b n ".zuvbin"]
        " json " equal? s load-json to-json s
        " ascii " equal? s load-json to-json/ascii s
        " read " string? read rejoin [%w n ".txt"]
        " lines " length? read/lines rejoin [%l n ".txt"]
        " csv " string? read rejoin [%c n ".csv"]
        " call " out
        " sha " enbase/base checksum s 'sha256 16
    ]
    print s
]
"""


def main(zuv):
    zuv = os.path.abspath(zuv)
    strings = [random_string() for _ in range(CASES)]
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "cases.zuv"), "w") as f:
            f.write("[\n" + "\n".join(literal(s) for s in strings) + "\n]\n")
        with open(os.path.join(folder, "run.zuv"), "w") as f:
            f.write(SCRIPT)
        proc = subprocess.run([zuv, "run.zuv"], cwd=folder, capture_output=True,
                              stdin=subprocess.DEVNULL, timeout=100)
        if proc.returncode != 0:
            sys.exit("zuv failed (status %d): %s%s"
                 % (proc.returncode, proc.stdout[-2000:], proc.stderr[-2000:]))
        try:
            lines = proc.stdout.decode("utf-8").split("\n")
        except UnicodeDecodeError as e:
            sys.exit("print wrote what is not UTF-8: %s" % e)

        def text_of(name):
            with open(os.path.join(folder, name), "rb") as f:
                data = f.read()
            try:
                return data.decode("utf-8")
            except UnicodeDecodeError as e:
                failures.append("%s is not UTF-8: %s" % (name, e))
                return None

        for i, s in enumerate(strings, 1):
            t = as_text(s)
            report, printed = lines[2 * i - 2], lines[2 * i - 1]
            want = ("case %d mold true save true zuvbin true json true ascii true read true"
                    " lines 2 csv true call %s sha %s"
                    % (i, t, hashlib.sha256(t.encode()).hexdigest().upper()))
            if report != want:
                failures.append("case %d %r: expected %r, got %r" % (i, s, want, report))
            if printed != t:
                failures.append("case %d %r: print wrote %r" % (i, s, printed))
            for name in ("m%d.txt", "s%d.zuv"):
                text_of(name % i)
            if text_of("w%d.txt" % i) != t:
                failures.append("case %d %r: write" % (i, s))
            if text_of("l%d.txt" % i) != t + "\n" + t + "\n":
                failures.append("case %d %r: write/lines" % (i, s))
            for name in ("j%d.json", "a%d.json"):
                text = text_of(name % i)
                if text is not None and json.loads(text) != s:
                    failures.append("case %d %r: json.loads of %s gives %r"
                                    % (i, s, name % i, json.loads(text)))
            text = text_of("c%d.csv" % i)
            if text is not None and list(csv.reader(io.StringIO(text))) != [[t, "x"]]:
                failures.append("case %d %r: csv reads %r" % (i, s, text))
            with open(os.path.join(folder, "z%d.gz" % i), "rb") as f:
                if gzip.decompress(f.read()) != t.encode():
                    failures.append("case %d %r: compress" % (i, s))
    for f in failures[:25]:
        print(f)
    if failures:
        sys.exit("%d failures in %d cases" % (len(failures), CASES))
    print("%d cases agree" % CASES)


if __name__ == "__main__":
    main(sys.argv[1])
