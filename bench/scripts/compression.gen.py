#!/usr/bin/env python3
"""Writes the 100 MB input of the compression bench into bench/data/ (untimed).

Words drawn at random from a small vocabulary, with numbers between them: text
that compresses about four times, like logs or source. A file already there
is kept.
"""

import os
import random

DATA = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "data")
PATH = os.path.join(DATA, "compression.bin")
SIZE = 100 * 1000 * 1000
WORDS = ["alpha", "beta", "gamma", "delta", "epsilon", "zeta", "theta", "kappa", "lambda",
         "sigma", "omega", "north", "south", "east", "west", "value", "error", "request",
         "zuv", "packet", "window", "buffer", "stream", "frame"]


def main():
    if os.path.exists(PATH) and os.path.getsize(PATH) == SIZE:
        return
    os.makedirs(DATA, exist_ok=True)
    rng = random.Random(33)
    parts, size = [], 0
    while size < SIZE:
        line = " ".join(rng.choice(WORDS) if rng.random() < 0.8 else str(rng.randrange(100000))
                        for _ in range(rng.randint(4, 14))) + "\n"
        parts.append(line)
        size += len(line)
    data = "".join(parts).encode()[:SIZE]
    with open(PATH, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
