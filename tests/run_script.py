#!/usr/bin/env python3
"""Run one Zuv script test and judge it by its sidecar files.

Usage: run_script.py ZUV_BINARY path/to/NAME.zuv

Sidecars next to NAME.zuv (all optional):
  NAME.out     expected stdout, exact bytes (absent: stdout must be empty)
  NAME.err     expected stderr, exact bytes (absent: stderr is not compared)
  NAME.status  expected exit status, an integer (absent: 0); -N means
               killed by signal N
  NAME.in      bytes fed to stdin (absent: empty stdin)
  NAME.args    extra arguments, one per line, placed after the script path;
               a first line `@NOSCRIPT` runs zuv without the script path and
               feeds NAME.zuv itself on stdin (NAME.in is then not allowed)
  NAME.env     extra environment variables, KEY=VALUE per line
  NAME.files/  folder whose contents are copied into the working folder
  NAME.labels  CTest labels, one per line (read by CMake, not here)

In NAME.out, NAME.err and NAME.args the tokens @CWD@ and @HOME@ stand for the
absolute paths of the test's working folder and home folder, which differ on
every run.

Each run gets a fresh working folder holding a copy of the script, with HOME,
XDG_CACHE_HOME and TMPDIR pointing into private folders beside it. The environment
is rebuilt from scratch so that results do not depend on who runs the test;
the collector's stress mode (ZUV_GC_STRESS, ZUV_GC_STRESS_LIBRARY), the
switches of the interpreter's fast paths and plans (ZUV_NO_FAST_PATHS,
ZUV_PLANS, ZUV_PLAN_VERIFY) and the sanitizer option variables are passed
through.

Environment of the runner itself:
  ZUV_TEST_TIMEOUT  seconds before the run is killed (default 60)
  ZUV_TEST_KEEP     if set, keep the temporary folder of a failing run
"""

import difflib
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile

DEFAULT_TIMEOUT = 60.0
PASS_THROUGH = ("ZUV_GC_STRESS", "ZUV_GC_STRESS_LIBRARY", "ZUV_NO_FAST_PATHS", "ZUV_PLANS",
                "ZUV_PLAN_VERIFY", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS",
                "ASAN_SYMBOLIZER_PATH")
NOSCRIPT = "@NOSCRIPT"
# ASan/LSan open their reports with "==PID==ERROR: ...Sanitizer"; UBSan, when
# halting on the first error, prints only "file:line:col: runtime error: ...".
SANITIZER_REPORT = re.compile(
    rb"^(==\d+==ERROR: \w+Sanitizer|SUMMARY: \w+Sanitizer|\S+:\d+:\d+: runtime error: )",
    re.MULTILINE)


class CaseError(Exception):
    """The test case itself is malformed (not a failure of zuv)."""


def read_optional(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def lines_of(data):
    return data.decode("utf-8").splitlines()


def substitute(data, cwd, home):
    return data.replace(b"@CWD@", os.fsencode(cwd)).replace(b"@HOME@", os.fsencode(home))


def describe_status(code):
    if code is None:
        return "none (timed out)"
    if code < 0:
        try:
            return "killed by %s" % signal.Signals(-code).name
        except ValueError:
            return "killed by signal %d" % -code
    return str(code)


def text_diff(expected, actual, label):
    """Unified diff of two byte strings, readable even without final newlines."""
    exp = expected.decode("utf-8", "backslashreplace").splitlines(keepends=True)
    act = actual.decode("utf-8", "backslashreplace").splitlines(keepends=True)
    for lines in (exp, act):
        if lines and not lines[-1].endswith("\n"):
            lines[-1] += "\n\\ No newline at end\n"
    diff = "".join(difflib.unified_diff(exp, act, "expected " + label, "actual " + label))
    if not diff:
        # Same text after decoding but different bytes: show them raw.
        diff = "expected %s: %r\n  actual %s: %r\n" % (label, expected, label, actual)
    return diff


def clipped(data, limit=4000):
    text = data.decode("utf-8", "backslashreplace")
    if len(text) > limit:
        text = text[:limit] + "\n... (%d more characters)\n" % (len(text) - limit)
    return text


def build_env(home, tmp, extra):
    env = {
        "PATH": os.environ.get("PATH", "/usr/local/bin:/usr/bin:/bin"),
        "HOME": home,
        "TMPDIR": tmp,
        "XDG_CACHE_HOME": os.path.join(home, ".cache"),
        "LANG": "C.UTF-8",
        "LC_ALL": "C.UTF-8",
        "TZ": "UTC",
        "TERM": "dumb",
    }
    for key in PASS_THROUGH:
        if key in os.environ:
            env[key] = os.environ[key]
    if extra is not None:
        for line in lines_of(extra):
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            key, sep, value = line.partition("=")
            if not sep:
                raise CaseError("bad line in .env sidecar: %r" % line)
            env[key] = value
    return env


def run_case(zuv, script):
    zuv = os.path.abspath(zuv)
    script = os.path.abspath(script)
    if not script.endswith(".zuv"):
        raise CaseError("not a .zuv file: " + script)
    stem = script[:-len(".zuv")]
    base = os.path.basename(script)

    expected_out = read_optional(stem + ".out") or b""
    expected_err = read_optional(stem + ".err")
    status_text = read_optional(stem + ".status")
    stdin_data = read_optional(stem + ".in")
    args_data = read_optional(stem + ".args")
    env_data = read_optional(stem + ".env")
    try:
        expected_status = int(status_text) if status_text is not None else 0
    except ValueError:
        raise CaseError("bad .status sidecar: %r" % status_text)

    root = tempfile.mkdtemp(prefix="zuv-test-")
    cwd = os.path.join(root, "work")
    home = os.path.join(root, "home")
    tmp = os.path.join(root, "tmp")
    os.makedirs(os.path.join(home, ".cache"))
    os.mkdir(tmp)
    keep = False
    try:
        fixtures = stem + ".files"
        if os.path.isdir(fixtures):
            shutil.copytree(fixtures, cwd, symlinks=True)
        else:
            os.mkdir(cwd)
        shutil.copyfile(script, os.path.join(cwd, base))

        args = lines_of(substitute(args_data, cwd, home)) if args_data is not None else []
        if args and args[0].strip() == NOSCRIPT:
            if stdin_data is not None:
                raise CaseError("@NOSCRIPT feeds the script on stdin; drop the .in sidecar")
            argv = [zuv] + args[1:]
            with open(script, "rb") as f:
                stdin_data = f.read()
            stdin_desc = "the script itself (@NOSCRIPT)"
        else:
            argv = [zuv, base] + args
            stdin_desc = "empty" if stdin_data is None else "%s.in (%d bytes)" % (
                os.path.basename(stem), len(stdin_data))
        if stdin_data is None:
            stdin_data = b""

        timeout = float(os.environ.get("ZUV_TEST_TIMEOUT", DEFAULT_TIMEOUT))
        env = build_env(home, tmp, env_data)

        try:
            proc = subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.PIPE,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                    start_new_session=True)
        except OSError as e:
            raise CaseError("cannot start %s: %s" % (zuv, e))
        timed_out = False
        try:
            out, err = proc.communicate(stdin_data, timeout=timeout)
        except subprocess.TimeoutExpired:
            timed_out = True
            # The session holds anything zuv started; take it all down.
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            out, err = proc.communicate()
        status = None if timed_out else proc.returncode
        # Children left behind in the session would linger past the test.
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            pass

        expected_out = substitute(expected_out, cwd, home)
        if expected_err is not None:
            expected_err = substitute(expected_err, cwd, home)

        problems = []
        if timed_out:
            problems.append("timed out after %g s (set ZUV_TEST_TIMEOUT to change)" % timeout)
        elif status != expected_status:
            problems.append("exit status: expected %s, got %s"
                            % (expected_status, describe_status(status)))
        if out != expected_out:
            problems.append("stdout differs:\n" + text_diff(expected_out, out, "stdout"))
        if expected_err is not None and err != expected_err:
            problems.append("stderr differs:\n" + text_diff(expected_err, err, "stderr"))

        # A test that expects a failing status must not hide a sanitizer
        # report that happens to exit with the same code.
        if SANITIZER_REPORT.search(err):
            problems.append("sanitizer report on stderr")

        if not problems:
            return 0

        report = ["FAIL %s" % script,
                  "command: %s" % shlex.join(argv),
                  "cwd: %s" % cwd]
        report.append("stdin: " + stdin_desc)
        report.extend(problems)
        if expected_err is None and err:
            report.append("stderr (not compared):\n" + clipped(err))
        if os.environ.get("ZUV_TEST_KEEP"):
            keep = True
            report.append("kept temporary folder: " + root)
        sys.stdout.write("\n".join(report) + "\n")
        return 1
    finally:
        if not keep:
            shutil.rmtree(root, ignore_errors=True)


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    try:
        return run_case(argv[1], argv[2])
    except CaseError as e:
        sys.stdout.write("BAD TEST %s: %s\n" % (argv[2], e))
        return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
