#!/usr/bin/python3
"""The colour requester's conversions against Python's colorsys.

Usage: colors.py ZUV

HSV to RGB on the levels the channel bars step through (hue in degrees,
saturation and value in percent) must give colorsys's components times 255,
rounded half away from zero; RGB to HSV must agree within 1e-9, and going
there and back must give the colour it started from.
"""

import colorsys
import math
import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import oracle_run  # noqa: E402

rng = random.Random(54)
COUNT = 400

PRELUDE = """c: context? first find body-of :request-color 'dialog!
back: func [color /local hsva] [hsva: c/rgb-to-hsv color c/hsv-to-rgb hsva/1 hsva/2 hsva/3]
"""


def rounded(x):
    return int(math.floor(x * 255 + 0.5))


cases, checks = [], []

# Hue, saturation and value as the bars set them; the corners and greys first.
levels = [(0, 0, 0), (0, 0, 100), (240, 100, 100), (120, 100, 100), (0, 100, 100), (360, 100, 100),
          (60, 50, 50), (300, 0, 37)]
while len(levels) < COUNT:
    levels.append((rng.randrange(361), rng.randrange(101), rng.randrange(101)))
for hd, sp, vp in levels:
    h, s, v = hd / 360, sp / 100, vp / 100
    rgb = colorsys.hsv_to_rgb(h % 1.0, s, v)
    cases.append("c/hsv-to-rgb %d / 360 %d / 100 %d / 100" % (hd, sp, vp))
    checks.append(("hsv", (hd, sp, vp), "%d.%d.%d" % tuple(rounded(x) for x in rgb)))

colours = [(0, 0, 255), (0, 0, 0), (255, 255, 255), (128, 128, 128), (255, 0, 0), (10, 171, 255)]
while len(colours) < COUNT:
    colours.append(tuple(rng.randrange(256) for _ in range(3)))
for rgb in colours:
    cases.append("c/rgb-to-hsv %d.%d.%d" % rgb)
    checks.append(("rgb", rgb, colorsys.rgb_to_hsv(*(x / 255 for x in rgb))))
    cases.append("back %d.%d.%d" % rgb)
    checks.append(("back", rgb, "%d.%d.%d" % rgb))

answers = oracle_run.run(sys.argv[1], cases, PRELUDE)
failures = []
for case, (kind, given, want), got in zip(cases, checks, answers):
    if kind == "rgb":
        try:
            h, s, v, a = got.strip("[]").split()
            ok = (all(abs(float(x) - y) < 1e-9 for x, y in zip((h, s, v), want)) and a == "0")
        except ValueError:
            ok = False
        if not ok:
            failures.append("%s: got %s, colorsys %r" % (case, got, want))
    elif got != want:
        failures.append("%s: got %s, expected %s" % (case, got, want))
oracle_run.report(failures, len(cases))
