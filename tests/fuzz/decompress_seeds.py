#!/usr/bin/env python3
"""Writes seed inputs for decompress_fuzz into the folder given.

Each seed is one selector byte (method in bits 0-1: zlib, deflate, gzip,
zstd; the other bits vary the fuzzer's attempts) followed by data made by
other implementations: Python's zlib, the gzip tool and the zstd tool. The
inputs are seeded, so the seeds are the same on every run.
"""
import os
import random
import shutil
import subprocess
import sys
import zlib

ZLIB, DEFLATE, GZIP, ZSTD = range(4)


def samples():
    rng = random.Random(33)
    text = b"".join(rng.choice([b"the ", b"fox ", b"jumps ", b"over ", b"dog\n"]) for _ in range(300))
    return [b"", b"A", b"hello, hello, hello", text, bytes(rng.getrandbits(8) for _ in range(500)),
            bytes(3000)]


def tool(args, data):
    if shutil.which(args[0]) is None:
        return None
    return subprocess.run(args, input=data, stdout=subprocess.PIPE, check=True).stdout


def raw_deflate(data, level):
    c = zlib.compressobj(level, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def two_members(data):
    half = len(data) // 2
    first = tool(["gzip", "-c", "-n"], data[:half])
    second = tool(["gzip", "-c", "-n"], data[half:])
    return None if first is None or second is None else first + second


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    count = 0
    for i, data in enumerate(samples()):
        made = [
            (ZLIB, zlib.compress(data)),
            (ZLIB, zlib.compress(data, 9)),
            (DEFLATE, raw_deflate(data, 1)),
            (DEFLATE, raw_deflate(data, 9)),
            (GZIP, tool(["gzip", "-c", "-n"], data)),
            (GZIP, tool(["gzip", "-9", "-c"], data)),
            # Two members, as `cat a.gz b.gz` makes: the size query sees only the last.
            (GZIP, two_members(data)),
            (ZSTD, tool(["zstd", "-q", "-c"], data)),  # from a pipe: no content size
            (ZSTD, tool(["zstd", "-q", "-19", "-c", "--no-check"], data)),
        ]
        for j, (method, packed) in enumerate(made):
            if packed is None:
                continue
            selector = method | ((i + j) % 32) << 2 | (0x80 if j % 2 else 0)
            with open(os.path.join(out, "seed-%d-%d" % (i, j)), "wb") as f:
                f.write(bytes([selector]) + packed)
            count += 1
    print("decompress seeds: %d in %s" % (count, out))


if __name__ == "__main__":
    main()
