#!/usr/bin/env python3
"""read/binary of a large HTTP body beside CPython's urllib.request, in one run.

Starts the loopback test server (tests/http/server.py, 127.0.0.1 only), then
times, alternating, each of:

  zuv read/binary      read/binary of http://127.0.0.1:PORT/big?n=SIZE
  py urllib.request    urllib.request.urlopen(url).read()

Both check the length of what came. The server builds the body once per size
before the first timed run. The table gives the median wall time and peak
memory, and zuv's ratio to urllib: the bar is a ratio of at most 1.2.

Usage: bench/http_read.py [--runs N] [--size BYTES] [--zuv PATH] [--python PATH]
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "bench"))
from run import Runner  # noqa: E402

ZUV = ('Zuv []\ndata: read/binary @URL@\n'
       'if @SIZE@ <> length? data [print "short body" quit/return 1]\n')
PY = ('import sys, urllib.request\n'
      'data = urllib.request.urlopen("@URL@").read()\n'
      'if len(data) != @SIZE@: sys.exit("short body")\n')


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--size", type=int, default=100 * 1000 * 1000)
    ap.add_argument("--zuv", default=os.path.join(ROOT, "build", "zuv"))
    ap.add_argument("--python", default="/usr/bin/python3")
    args = ap.parse_args()

    with tempfile.TemporaryDirectory() as tmp:
        server = subprocess.Popen([args.python, os.path.join(ROOT, "tests", "http", "server.py"),
                                   os.path.join(tmp, "requests.log")],
                                  stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        try:
            port = int(server.stdout.readline().split()[0])
            url = "http://127.0.0.1:%d/big?n=%d" % (port, args.size)
            urllib.request.urlopen(url).read()  # the server makes the body here
            programs = [("zuv read/binary", args.zuv, ZUV, "zuv"), ("py urllib.request", args.python, PY, "py")]
            argvs = {}
            for name, binary, code, suffix in programs:
                path = os.path.join(tmp, "%s.%s" % (name.split()[0], suffix))
                with open(path, "w") as f:
                    f.write(code.replace("@URL@", url).replace("@SIZE@", str(args.size)))
                argvs[name] = [binary, path]
            measure = os.path.join(os.path.dirname(os.path.abspath(args.zuv)), "zuv_measure")
            run = Runner(measure if os.path.exists(measure) else None, 120)
            env_before = os.environ.get("no_proxy")
            os.environ["no_proxy"] = "*"
            results = {name: [] for name, _, _, _ in programs}
            for _ in range(args.runs):
                for name, _, _, _ in programs:
                    ok, wall, rss, why = run(argvs[name], tmp)
                    if not ok:
                        sys.exit("%s failed: %s" % (name, why))
                    results[name].append((wall, rss))
            if env_before is None:
                del os.environ["no_proxy"]
        finally:
            server.kill()
            server.wait()

    print("%-20s %10s %10s" % ("program (%d MB)" % (args.size // 1000000), "median s", "peak MiB"))
    med = {}
    for name, _, _, _ in programs:
        med[name] = statistics.median(w for w, _ in results[name])
        print("%-20s %10.3f %10.1f" % (name, med[name], max(r for _, r in results[name]) / 1024))
    print("zuv / urllib: %.2f" % (med["zuv read/binary"] / med["py urllib.request"]))


if __name__ == "__main__":
    main()
