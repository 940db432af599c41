#!/usr/bin/env python3
"""Allocations the system refuses are no-memory errors, not the end of the run.

Usage: address_limit.py ZUV

zuv runs under a limit on address space (ulimit -v of 500 MB, and of 1 GB).
It must start, refuse series larger than the limit, a heap that grows past it, and
the copy that sorting a large block takes, each with a catchable no-memory
error, and go on to end with status 0. The codecs' natives (load-csv,
load-json, to-json, to-csv) run under a sweep of limits, so that memory runs
out at many different places inside them: each call must either give its
result or be caught by its try as no-memory, and the script goes on to its
end, never ending the process. A sanitizer build reserves terabytes
of shadow memory and cannot run under such a limit: it is skipped (77).
"""

import os
import resource
import subprocess
import sys
import tempfile

SCRIPT = """Zuv []
show: func [b /local e] [
\te: try b
\tprint either error? :e [form e/id] ["no error"]
]
; sorting copies the records: 12.8 million cells (205 MB) leave no room for the copy
b: append/dup make block! 12800000 7 12800000
show [sort b]
print [length? b first b]
b: none
recycle
show [make binary! 1500000000]
show [make string! 1500000000]
show [append/dup make block! 10 none 100000000]
; a heap that grows until the system refuses
heap: copy []
show [loop 100 [append heap make binary! 50000000]]
print 0 < length? heap
heap: none
recycle
show [length? make binary! 50000000]
print "end"
"""

EXPECTED = """no-memory
12800000 7
no-memory
no-memory
no-memory
no-memory
true
no error
end
"""


# The limits: about 500 MB for the script above, and 1 GB (ulimit -v
# 1000000) for the first line alone.
CASES = [(500000 * 1024, SCRIPT, EXPECTED),
         (1000000 * 1024, "Zuv []\nprint form get in try [make binary! 1500000000] 'id\n", "no-memory\n")]


NATIVES = """Zuv []
show: func [b /local r] [r: try b print either error? :r [form r/id] [mold r]]
t: j: none
show [t: make string! 0 loop 400000 [append t "0.1,0.2,abc^/"] length? t]
show [length? load-csv t]
show [length? load-csv/as-records t]
show [j: make string! 0 append j "[" repeat i 200000 [append j rejoin [{{"name} i {": "} i {"},}]] append j "0]" length? j]
show [length? load-json j]
show [length? to-json load-json j]
show [length? to-csv load-csv t]
print "end"
"""
SWEEP = [kb * 1024 for kb in range(150000, 650001, 60000)]


def sweep(zuv):
    # The collector's stress mode would make each run take minutes: what is
    # under test here is where memory runs out, not the collector.
    env = {k: v for k, v in os.environ.items() if k != "ZUV_GC_STRESS"}
    for limit in SWEEP:
        p = run(zuv, limit, NATIVES, env)
        lines = p.stdout.decode("utf-8", "replace").split("\n")
        answers = lines[:-2]
        if (p.returncode != 0 or lines[-2:] != ["end", ""]
                or not all(a == "no-memory" or a.isdigit() for a in answers)):
            print("natives under limit %d: status %d\n%s\n%s" % (
                limit, p.returncode, "\n".join(lines), p.stderr.decode("utf-8", "replace")[-2000:]))
            sys.exit(1)


def run(zuv, limit, script, env=None):
    with tempfile.NamedTemporaryFile("w", suffix=".zuv") as f:
        f.write(script)
        f.flush()
        return subprocess.run([zuv, f.name], capture_output=True, stdin=subprocess.DEVNULL, timeout=120, env=env,
                              preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit)))


def main():
    zuv = sys.argv[1]
    for limit, script, expected in CASES:
        p = run(zuv, limit, script)
        err = p.stderr.decode("utf-8", "replace")
        if "Sanitizer" in err:
            print("skipped: a sanitizer build cannot run under a limit on address space")
            sys.exit(77)
        out = p.stdout.decode("utf-8", "replace")
        if p.returncode != 0 or out != expected:
            print("limit %d: status %d\nexpected:\n%s\ngot:\n%s\n%s"
                  % (limit, p.returncode, expected, out, err[-2000:]))
            sys.exit(1)
    sweep(zuv)
    print("ok")


if __name__ == "__main__":
    main()
