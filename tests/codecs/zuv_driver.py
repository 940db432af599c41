"""Running zuv on a generated script for the codec tests.

The script runs in a fresh temporary folder with the same rebuilt
environment as the script tests (tests/run_script.py); ZUV_GC_STRESS and the
sanitizer options pass through. A run that ends with another status than 0,
times out or leaves a sanitizer report fails the test at once.
"""

import os
import pathlib
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
from run_script import SANITIZER_REPORT, build_env, clipped  # noqa: E402

TIMEOUT = float(os.environ.get("ZUV_TEST_TIMEOUT", "300"))


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def run(zuv, script, files=None):
    """Runs the script text; files maps names to bytes written beside it.
    Returns the standard output as bytes."""
    with tempfile.TemporaryDirectory(prefix="zuv-codec-") as root:
        cwd = os.path.join(root, "work")
        home = os.path.join(root, "home")
        tmp = os.path.join(root, "tmp")
        for d in (cwd, home, tmp):
            os.mkdir(d)
        for name, data in (files or {}).items():
            with open(os.path.join(cwd, name), "wb") as f:
                f.write(data)
        path = os.path.join(cwd, "case.zuv")
        with open(path, "w", encoding="utf-8") as f:
            f.write(script)
        # ZUV_TEST_SCRIPT=FILE keeps a copy of the generated script.
        if os.environ.get("ZUV_TEST_SCRIPT"):
            with open(os.environ["ZUV_TEST_SCRIPT"], "w", encoding="utf-8") as f:
                f.write(script)
        try:
            done = subprocess.run([os.path.abspath(zuv), path], cwd=cwd, env=build_env(home, tmp, None),
                                  stdin=subprocess.DEVNULL, capture_output=True, timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            fail("zuv did not end within %g s" % TIMEOUT)
        if SANITIZER_REPORT.search(done.stderr):
            fail("sanitizer report:\n" + clipped(done.stderr))
        if done.returncode != 0:
            fail("zuv ended with status %d\nstdout:\n%s\nstderr:\n%s"
                 % (done.returncode, clipped(done.stdout), clipped(done.stderr)))
        return done.stdout


def zuv_string(text):
    """A Zuv string literal for any text: every character outside printable
    ASCII, and the characters the literal itself uses, as ^(hex)."""
    out = ['"']
    for ch in text:
        c = ord(ch)
        if 32 <= c < 127 and ch not in '"^':
            out.append(ch)
        else:
            out.append("^(%X)" % c)
    out.append('"')
    return "".join(out)


def run_parts(zuv, head, parts, per_run=1000):
    """Runs the parts of a script in groups of per_run, each group after
    the same head, and returns their outputs joined. Short runs keep the
    heap small, which matters under collector stress. Each run must reach
    its end."""
    out = []
    for at in range(0, len(parts), per_run):
        got = run(zuv, head + "".join(parts[at:at + per_run]) + 'prin "^(1D)"\n')
        if not got.endswith(b"\x1d"):
            fail("a run did not finish:\n" + got[-2000:].decode("utf-8", "replace"))
        out.append(got[:-1])
    return b"".join(out)
