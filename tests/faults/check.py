#!/usr/bin/env python3
"""Runs the fault test build with one fault and checks status and output."""
import re
import subprocess
import sys

binary, fault, status, pattern = sys.argv[1:5]
p = subprocess.run([binary, fault], capture_output=True, stdin=subprocess.DEVNULL, timeout=240)
out = p.stdout.decode("utf-8", "replace")
ok = p.returncode == int(status) and re.fullmatch(pattern, out, re.S) is not None
if not ok:
    print(f"ran: {binary} {fault}")
    print(f"expected status {status}, got {p.returncode}")
    print(f"expected output matching {pattern!r}")
    print(f"got: {out!r}")
    print(p.stderr.decode("utf-8", "replace"))
sys.exit(0 if ok else 1)
