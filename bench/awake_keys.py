#!/usr/bin/env python3
"""Scripted key events through the View engine's event dispatch.

Sends N `key` events (default 10^5) to a field three faces deep (window,
panel, field) through `system/view/awake`: each passes the eight standard
event functions, the field's actor, and bubbles to the panel and the window.
No window is shown and nothing is drawn. Prints the median, over several
runs, of the time per event, measured inside the script (start-up and the
building of the faces excluded). No comparison and no bar: the figure is
for watching over time.

Usage: bench/awake_keys.py [--events N] [--runs N] [--zuv PATH]
"""

import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

PROGRAM = r"""Zuv [title: "key events through awake"]
win: make face! [type: 'window size: 40x10]
panel: make face! [type: 'panel size: 30x8]
field: make face! [type: 'field size: 10x1 flags: 'focusable]
win/pane: reduce [panel]
panel/pane: reduce [field]
field/parent: panel
panel/parent: win
count: 0
field/actors: object [on-key: func [face event] [count: count + 1 none]]
event: make event! [type: 'key key: #"a" face: field]
awake: get in system/view 'awake
n: @EVENTS@
t: now/precise
loop n [awake event]
d: difference now/precise t
unless count = n [print ["actor ran" count "times, not" n] quit/return 1]
print ["us-per-event:" 1000000 * d/second / n]
"""


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--events", type=int, default=100000)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--zuv", default=os.path.join(ROOT, "build", "zuv"))
    args = ap.parse_args()
    with tempfile.TemporaryDirectory(prefix="zuv-bench-") as tmp:
        script = os.path.join(tmp, "awake_keys.zuv")
        with open(script, "w") as f:
            f.write(PROGRAM.replace("@EVENTS@", str(args.events)))
        figures = []
        for _ in range(max(1, args.runs)):
            proc = subprocess.run([os.path.abspath(args.zuv), script], cwd=tmp,
                                  stdin=subprocess.DEVNULL, capture_output=True, text=True)
            m = re.search(r"us-per-event:\s*([0-9.eE+-]+)", proc.stdout)
            if proc.returncode != 0 or not m:
                print("zuv failed: %s%s" % (proc.stdout[-2000:], proc.stderr[-2000:]))
                return 1
            figures.append(float(m.group(1)))
    print("%d key events through awake (8 event functions, a face 3 deep)" % args.events)
    print("time per event: %.2f us (median of %d runs; %.2f .. %.2f)"
          % (statistics.median(figures), len(figures), min(figures), max(figures)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
