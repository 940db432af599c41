#!/usr/bin/env python3
"""The document checker (examples.py) itself: small documents it must pass
and documents it must fail, so a slip in the checker cannot turn the guide's
test into one that passes whatever the guide says.

    checker.py ZUV

Exit status 0 passes, 1 fails.
"""
import os
import subprocess
import sys
import tempfile

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "examples.py")
F = "```"

FORM = F + """zuv form.zuv
Zuv []
view [f: field 10 button "Go" [print ["got" f/text] unview]]
print "after"
""" + F + "\n\n<!-- keys: hi Tab Enter -->\n" + F + "sh\n$ zuv form.zuv\n%s\nafter\n" + F + "\n"

# (what, document, None to pass or a text the failure names)
CASES = [
    ("a session as shown", F + "zuv\n>> 1 + 2\n== 3\n>> print \"hi\"\nhi\n" + F + "\n", None),
    ("a result that differs", F + "zuv\n>> 1 + 2\n== 4\n" + F + "\n", "differs"),
    ("a printed line missing", F + "zuv\n>> print \"a\" print \"b\"\na\n" + F + "\n", "differs"),
    ("a line too many", F + "zuv\n>> 1\n== 1\n== 2\n" + F + "\n", "differs"),
    ("lines and text left out",
     F + "zuv\n>> 1 / 0\n*** Math Error: ...\n...\n>> 5\n== 5\n" + F + "\n", None),
    ("text left out is not a line left out",
     F + "zuv\n>> print \"a^/b\"\na...\n" + F + "\n", "differs"),
    ("an input over three lines",
     F + "zuv\n>> f: func [x] [\n[    x + 1\n[    ]\n== func [x][\n    x + 1\n]\n>> f 1\n== 2\n"
     + F + "\n", None),
    ("each session starts afresh",
     F + "zuv\n>> n: 1\n== 1\n" + F + "\n\n" + F + "zuv\n>> value? 'n\n== false\n" + F + "\n", None),
    ("a script and a command",
     F + "zuv s.zuv\nZuv []\nprint system/options/args\n" + F + "\n\n" + F + "sh\n"
     "$ zuv s.zuv x y\nx y\n$ echo 'print 3' | zuv | tail -n 1\n3\n" + F + "\n", None),
    ("a command's output that differs",
     F + "sh\n$ echo 'print 3' | zuv | tail -n 1\n4\n" + F + "\n", "differs"),
    ("build instructions are no example",
     F + "sh\nmake test\n" + F + "\n\n" + F + "zuv\n>> 1\n== 1\n" + F + "\n", None),
    ("a zuv block that is neither session nor file",
     F + "zuv\nprint 1\n" + F + "\n", "a zuv block is a session"),
    ("a file outside the working folder", F + "zuv ../x.zuv\nZuv []\n" + F + "\n", "outside"),
    ("no example at all", "Just prose.\n", "holds no example"),
    ("a block that never closes", F + "zuv\n>> 1\n== 1\n", "never closes"),
    ("keys before a block that runs no window",
     "<!-- keys: Enter -->\n" + F + "zuv\n>> 1\n== 1\n" + F + "\n", "keys are for"),
    ("a window as shown", FORM % "got hi", None),
    ("a window whose output differs", FORM % "got ho", "differs"),
]


def run(zuv, doc_text):
    with tempfile.TemporaryDirectory(prefix="zuv-checker-") as folder:
        doc = os.path.join(folder, "doc.md")
        with open(doc, "w") as f:
            f.write(doc_text)
        proc = subprocess.run([sys.executable, EXAMPLES, zuv, doc], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=120)
        return proc.returncode, proc.stdout.decode("utf-8", "backslashreplace")


def main():
    zuv = os.path.abspath(sys.argv[1])
    failed = 0
    for what, doc, failure in CASES:
        status, out = run(zuv, doc)
        if failure is None:
            good = status == 0
        else:
            good = status == 1 and failure in out
        if not good:
            failed += 1
            print("FAIL: %s: expected %s, got status %d:\n%s" %
                  (what, "a pass" if failure is None else "a failure naming %r" % failure,
                   status, out))
    print("%d of %d cases as expected" % (len(CASES) - failed, len(CASES)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
