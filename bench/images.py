#!/usr/bin/env python3
"""The image codecs beside PIL's, in one run.

Writes a 4000x3000 photograph-like image (smooth gradients under fine
noise) as PNG and as JPEG into bench/data/ (once, untimed; delete them to
make them again), then times, alternating, each program below. Every figure
includes the interpreter's start (and PIL's import), which the empty
programs measure on their own.

  zuv start / py start      an empty program
  zuv png / py png          decode the PNG
  zuv jpeg / py jpeg        decode the JPEG
  zuv png+save / py ...     decode the PNG and encode it to PNG again

The bar: each Zuv figure within 1.2 times PIL's.

Usage: bench/images.py [--runs N] [--zuv PATH] [--python PATH]
"""

import os
import random
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, "bench", "data")
sys.path.insert(0, os.path.join(ROOT, "bench"))
from side_by_side import arguments, time_programs  # noqa: E402

W, H = 4000, 3000
PY = "from PIL import Image\n"
PROGRAMS = [
    ("zuv start", "zuv", "Zuv []\n"),
    ("py start", "py", PY),
    ("zuv png", "zuv", "Zuv [] img: load %@DATA@/images.png\n"),
    ("py png", "py", PY + "img = Image.open('@DATA@/images.png'); img.load()\n"),
    ("zuv jpeg", "zuv", "Zuv [] img: load %@DATA@/images.jpg\n"),
    ("py jpeg", "py", PY + "img = Image.open('@DATA@/images.jpg'); img.load()\n"),
    ("zuv png+save", "zuv", "Zuv [] save %@TMP@/out.png load %@DATA@/images.png\n"),
    ("py png+save", "py", PY + "Image.open('@DATA@/images.png').save('@TMP@/out.png')\n"),
]


def write_images():
    from PIL import Image, ImageFilter
    rng = random.Random(45)
    small = Image.new("RGB", (W // 50, H // 50))
    small.putdata([(rng.randrange(256), rng.randrange(256), rng.randrange(256)) for _ in range(small.width * small.height)])
    img = small.resize((W, H), Image.BICUBIC).filter(ImageFilter.GaussianBlur(3))
    noise = Image.effect_noise((W, H), 6).convert("RGB")
    img = Image.blend(img, noise, 0.08)
    img.save(os.path.join(DATA, "images.png"))
    img.save(os.path.join(DATA, "images.jpg"), quality=90)


def main():
    args = arguments(__doc__)
    if not all(os.path.exists(os.path.join(DATA, n)) for n in ("images.png", "images.jpg")):
        write_images()

    med = time_programs(PROGRAMS, args.zuv, args.python, args.runs)
    for what in ("png", "jpeg", "png+save"):
        print("%-9s zuv / PIL: %.2f   without start: %.2f" % (
            what, med["zuv " + what] / med["py " + what],
            (med["zuv " + what] - med["zuv start"]) / (med["py " + what] - med["py start"])))


if __name__ == "__main__":
    main()
