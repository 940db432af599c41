#!/usr/bin/env python3
"""Allocations the system refuses are no-memory errors, not the end of the run.

Usage: address_limit.py ZUV

zuv runs under a limit on address space (ulimit -v of about 1 GB). It must
start, refuse series larger than the limit, a heap that grows past it, and
the copy that sorting a large block takes, each with a catchable no-memory
error, and go on to end with status 0. A sanitizer build reserves terabytes
of shadow memory and cannot run under such a limit: it is skipped (77).
"""

import resource
import subprocess
import sys
import tempfile

LIMIT = 1000000 * 1024

SCRIPT = """Zuv []
show: func [b /local e] [
\te: try b
\tprint either error? :e [form e/id] ["no error"]
]
show [make binary! 1500000000]
show [make string! 1500000000]
show [append/dup make block! 10 none 100000000]
; a heap that grows until the system refuses
heap: copy []
show [loop 100 [append heap make binary! 100000000]]
print 0 < length? heap
heap: none
recycle
show [length? make binary! 100000000]
; sorting copies the records: 25 million cells leave no room for the copy
b: append/dup make block! 25000000 7 25000000
show [sort b]
print [length? b first b]
b: none
print "end"
"""

EXPECTED = """no-memory
no-memory
no-memory
no-memory
true
no error
no-memory
25000000 7
end
"""


def limit():
    resource.setrlimit(resource.RLIMIT_AS, (LIMIT, LIMIT))


def main():
    zuv = sys.argv[1]
    with tempfile.NamedTemporaryFile("w", suffix=".zuv") as f:
        f.write(SCRIPT)
        f.flush()
        p = subprocess.run([zuv, f.name], capture_output=True, stdin=subprocess.DEVNULL, timeout=120,
                           preexec_fn=limit)
    err = p.stderr.decode("utf-8", "replace")
    if "Sanitizer" in err:
        print("skipped: a sanitizer build cannot run under a limit on address space")
        sys.exit(77)
    out = p.stdout.decode("utf-8", "replace")
    if p.returncode != 0 or out != EXPECTED:
        print("status %d\nexpected:\n%s\ngot:\n%s\n%s" % (p.returncode, EXPECTED, out, err[-2000:]))
        sys.exit(1)
    print("ok")


if __name__ == "__main__":
    main()
