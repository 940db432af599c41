#!/usr/bin/env python3
"""An image file whose header claims far more than its data holds costs
about what its data does, not what the claim does.

Usage: image_forged.py ZUV

A TIFF of one grey pixel names a tile of 32768 x 32768 (1 GiB) and holds
one byte of it. Loading it must fail with cannot-open, and the run must
stay far below the claimed size in resident memory.
"""

import os
import resource
import struct
import subprocess
import sys
import tempfile

TILE = 32768
# Resident memory allowed to the whole run, in KiB: a quarter of the claim,
# room enough for a sanitizer build's own.
MAX_RSS = TILE * TILE // 4 // 1024


def forged_tiff():
    # (tag, type, value): 3 is SHORT, 4 is LONG; the tile offset is filled in.
    entries = [(256, 4, 1), (257, 4, 1), (258, 3, 8), (259, 3, 1), (262, 3, 1), (277, 3, 1),
               (284, 3, 1), (322, 4, TILE), (323, 4, TILE), (324, 4, None), (325, 4, 1)]
    data_at = 8 + 2 + 12 * len(entries) + 4
    out = bytearray(b"II" + struct.pack("<HI", 42, 8) + struct.pack("<H", len(entries)))
    for tag, kind, value in entries:
        value = data_at if value is None else value
        # A SHORT sits in the first two bytes of the entry's value field.
        out += struct.pack("<HHI", tag, kind, 1)
        out += struct.pack("<HH", value, 0) if kind == 3 else struct.pack("<I", value)
    return bytes(out + struct.pack("<I", 0) + b"\x80")


def main():
    zuv = sys.argv[1]
    with tempfile.TemporaryDirectory() as d:
        image = os.path.join(d, "forged.tif")
        with open(image, "wb") as f:
            f.write(forged_tiff())
        script = os.path.join(d, "load.zuv")
        with open(script, "w") as f:
            f.write('Zuv []\ne: try [load %%%s]\nprint either error? e [form e/id] ["loaded"]\n' % image)
        p = subprocess.run([zuv, script], capture_output=True, stdin=subprocess.DEVNULL, timeout=120)
    rss = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    out = p.stdout.decode("utf-8", "replace")
    if p.returncode != 0 or out != "cannot-open\n" or rss > MAX_RSS:
        print("status %d, %d KiB resident (at most %d)\n%s%s" %
              (p.returncode, rss, MAX_RSS, out, p.stderr.decode("utf-8", "replace")[-2000:]))
        sys.exit(1)
    print("ok")


if __name__ == "__main__":
    main()
