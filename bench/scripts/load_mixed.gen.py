#!/usr/bin/env python3
"""Writes the inputs of the load_mixed bench into bench/data/ (untimed).

The same records in three notations: Zuv literals (about 10 MB), the
equivalent JSON (words become strings) and a Lua table constructor. Files
already there are kept, so only the first run pays for this.
"""

import json
import os
import random

DATA = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "data")
TARGET = 10 * 1024 * 1024
WORDS = ["alpha", "beta", "gamma", "delta", "epsilon", "zeta", "theta", "kappa",
         "lambda", "sigma", "omega", "north", "south", "east", "west", "value"]


def zuv_string(s):
    return '"' + s + '"'  # the generator never puts quotes or carets in them


def records(rng):
    while True:
        n = rng.randint(-1000000, 1000000)
        f = round(rng.uniform(-1000.0, 1000.0), 3)
        s = " ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 4)))
        w = rng.choice(WORDS)
        nums = [rng.randint(0, 99999) for _ in range(rng.randint(3, 8))]
        yield n, f, s, w, nums


def main():
    os.makedirs(DATA, exist_ok=True)
    paths = {ext: os.path.join(DATA, "load_mixed." + ext) for ext in ("zuv", "json", "lua")}
    if all(os.path.exists(p) for p in paths.values()):
        return
    rng = random.Random(12)
    zuv, js, lua = [], [], []
    size = 0
    for n, f, s, w, nums in records(rng):
        z = "[%d %r %s %s [%s]]\n" % (n, f, zuv_string(s), w, " ".join(map(str, nums)))
        zuv.append(z)
        js.append(json.dumps([n, f, s, w, nums]))
        lua.append('{%d, %r, "%s", "%s", {%s}}' % (n, f, s, w, ", ".join(map(str, nums))))
        size += len(z)
        if size >= TARGET:
            break
    for ext, text in (("zuv", "".join(zuv)),
                      ("json", "[\n" + ",\n".join(js) + "\n]\n"),
                      ("lua", "return {\n" + ",\n".join(lua) + "\n}\n")):
        tmp = paths[ext] + ".tmp"
        with open(tmp, "w") as f:
            f.write(text)
        os.replace(tmp, paths[ext])


if __name__ == "__main__":
    main()
