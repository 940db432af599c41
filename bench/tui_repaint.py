#!/usr/bin/env python3
"""Full repaints of a 200x60 terminal, every cell recoloured each frame.

The terminal UI's writer (bench/micro/tui_repaint_bench.cpp, run through
zuv_bench) beside Python's curses doing the same frames in a pseudo-terminal:
wall time per repaint and the bytes that reach the terminal per repaint.
Both draw letters in 256-colour foreground and background pairs that shift
by one per frame; curses sends only what changed, which here is everything.

Usage: bench/tui_repaint.py [--frames N] [--bench PATH] [--python PATH]
"""

import argparse
import json
import os
import pty
import select
import struct
import subprocess
import sys
import tempfile
import time
import fcntl
import termios

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WIDTH, HEIGHT = 200, 60

CURSES_CHILD = r"""
import curses, sys, time
frames = int(sys.argv[1]); out = sys.argv[2]
def main(scr):
    curses.start_color()
    # One pair per (foreground, background) combination in use would exceed
    # the pair table; 216 pairs cycling through the cube give every cell a
    # new pair each frame, as the other side recolours every cell.
    for i in range(216):
        curses.init_pair(i + 1, 16 + i, 16 + (i * 7) % 216)
    start = time.perf_counter()
    for frame in range(frames):
        for y in range(HEIGHT_):
            for x in range(WIDTH_):
                if y == HEIGHT_ - 1 and x == WIDTH_ - 1:
                    continue  # writing the last cell scrolls in curses
                ch = ord('a') + (x + frame) % 26
                scr.addch(y, x, ch, curses.color_pair(1 + (x + y + frame) % 216))
        scr.refresh()
    with open(out, "w") as f:
        f.write(str(time.perf_counter() - start))
curses.wrapper(main)
""".replace("WIDTH_", str(WIDTH)).replace("HEIGHT_", str(HEIGHT))


def curses_run(python, frames):
    fd, timing = tempfile.mkstemp()
    os.close(fd)
    pid, master = pty.fork()
    if pid == 0:
        os.environ["TERM"] = "xterm-256color"
        os.execv(python, [python, "-c", CURSES_CHILD, str(frames), timing])
    fcntl.ioctl(master, termios.TIOCSWINSZ, struct.pack("HHHH", HEIGHT, WIDTH, 0, 0))
    total = 0
    while True:
        r, _, _ = select.select([master], [], [], 5)
        if not r:
            break
        try:
            data = os.read(master, 65536)
        except OSError:
            break
        if not data:
            break
        total += len(data)
    os.waitpid(pid, 0)
    with open(timing) as f:
        seconds = float(f.read() or "nan")
    os.unlink(timing)
    return seconds / frames * 1000.0, total / frames


def zuv_run(bench):
    out = subprocess.run(
        [bench, "--benchmark_filter=BM_TuiRepaint", "--benchmark_format=json",
         "--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true"],
        check=True, capture_output=True, text=True).stdout
    runs = json.loads(out)["benchmarks"]
    median = next(b for b in runs if b.get("aggregate_name") == "median")
    return median["real_time"], median["bytes_per_repaint"]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--frames", type=int, default=50)
    ap.add_argument("--bench", default=os.path.join(ROOT, "build", "zuv_bench"))
    ap.add_argument("--python", default="/usr/bin/python3")
    args = ap.parse_args()
    z_ms, z_bytes = zuv_run(args.bench)
    c_ms, c_bytes = curses_run(args.python, args.frames)
    print(f"{WIDTH}x{HEIGHT}, every cell recoloured per frame")
    print(f"{'':10} {'ms/repaint':>11} {'bytes/repaint':>14}")
    print(f"{'zuv tui':10} {z_ms:11.3f} {z_bytes:14.0f}")
    print(f"{'curses':10} {c_ms:11.3f} {c_bytes:14.0f}")


if __name__ == "__main__":
    sys.exit(main())
