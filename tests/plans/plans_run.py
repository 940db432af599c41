"""Runs Zuv programs with plans off, on, and on in verify mode, and compares.

A plan must change nothing that a program, a report or the tracer sees:
every run must give the same bytes on stdout and stderr and the same exit
status. Both plan runs are needed: verify mode runs every block through the
block loop, so the shorter ways a block of one expression is taken are seen
only without it.
"""

import os
import subprocess
import sys
import tempfile

TIMEOUT = 120

# The environment of both runs but for the plan switches; collector stress
# and sanitizer settings pass through.
PASS_THROUGH = ("PATH", "ZUV_GC_STRESS", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS",
                "ASAN_SYMBOLIZER_PATH")


MODES = ("plans off", "plans on", "plans verified")
# With ZUV_NO_FAST_PATHS: every call and operator on the general path.
GENERAL = "general path"


def run(zuv, path, mode):
    env = {k: os.environ[k] for k in PASS_THROUGH if k in os.environ}
    env.update({"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8", "TZ": "UTC", "TERM": "dumb"})
    # make test-plans-eager runs these with plans built at the first call.
    on = "eager" if os.environ.get("ZUV_PLANS") == "eager" else "1"
    env["ZUV_PLANS"] = "0" if mode == "plans off" else on
    if mode == "plans verified":
        env["ZUV_PLAN_VERIFY"] = "1"
    if mode == GENERAL:
        env["ZUV_NO_FAST_PATHS"] = "1"
    p = subprocess.run([zuv, path], env=env, stdin=subprocess.DEVNULL, capture_output=True,
                       timeout=TIMEOUT, cwd=os.path.dirname(path))
    return p.returncode, p.stdout, p.stderr


def compare(zuv, cases, modes=MODES):
    """cases: (name, source) pairs. Returns the number of differing cases,
    after printing each difference; every case's source is written to a
    temporary folder."""
    failed = 0
    with tempfile.TemporaryDirectory(prefix="zuv-plans-") as tmp:
        for name, source in cases:
            path = os.path.join(tmp, name + ".zuv")
            with open(path, "w", encoding="utf-8") as f:
                f.write("Zuv []\n" + source)
            runs = [(mode, run(zuv, path, mode)) for mode in modes]
            if any(r != runs[0][1] for _, r in runs):
                failed += 1
                print("DIFFERS: %s\n--- source\n%s" % (name, source))
                for label, r in runs:
                    print("--- %s: status %d\nstdout:\n%s\nstderr:\n%s" % (
                        label, r[0], r[1].decode("utf-8", "replace")[-3000:],
                        r[2].decode("utf-8", "replace")[-3000:]))
    return failed


def main(cases, check=None, modes=MODES):
    if len(sys.argv) != 2:
        sys.exit("usage: %s ZUV" % sys.argv[0])
    zuv = os.path.abspath(sys.argv[1])
    failed = compare(zuv, cases, modes)
    if check is not None:
        failed += check(zuv)
    print("%d cases, %d differ" % (len(cases), failed))
    sys.exit(1 if failed else 0)
