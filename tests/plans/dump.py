#!/usr/bin/python3
"""ZUV_PLAN_DUMP names each node's flags, and each flag means one thing
whatever the kind: the plans of a few bodies, built eagerly and verified
(verify mode checks every node's flags against its kind), show the flags
the builder gives their nodes, and only flags kinds.def lets those kinds
carry.

Usage: dump.py ZUV
"""

import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# name, program, (kind, value text, flags the node must carry) per node to
# find in the dump.
CASES = [
    ("fib",
     "fib: func [n] [either n < 2 [n] [(fib n - 1) + fib n - 2]]\nfib 5\n",
     [("wordref", "word! either", {"LANE_CONDITION"}),
      ("wordref", "word! fib", {"SELF_CALL", "PLAIN_CALL"}),
      ("infix", "10", {"COMPOUND", "SIMPLE_INFIX"}),
      ("block", "block!", {"ONE_EXPRESSION", "ONE_LEAF"})]),
    ("leaf_condition_and_probe",
     "t: true\ng: func [x] [if t [x] x]\ng 1\n",
     [("wordref", "word! if", {"LEAF_CONDITION"}),
      ("branch", "block!", {"PROBE", "PROBE_LOCAL"})]),
    ("answered_probe",
     "h: func [a] [a]\nh 1\ng: func [x] [x h x]\ng 1\n",
     [("wordref", "word! h", {"REF_ANSWERS_PROBE", "PLAIN_CALL", "LEAF_BODY"})]),
    ("called_operator",
     "g: func [x] [x = (x)]\ng 1\n",
     [("wordref", "word! =", {"OPERATOR_ANY_TYPES"})]),
]

NODE = re.compile(r"^\s*\d+ (\w+)\s+pos -?\d+ end -?\d+ aux -?\d+ small \d+((?: [A-Z_]+)*)"
                  r"(?: \| (.*))?$")


def declared():
    """The flags kinds.def lists, and per kind the flags it may carry."""
    text = open(os.path.join(ROOT, "interpreter", "plans", "kinds.def"), encoding="utf-8").read()
    flags = re.findall(r"^ZUV_PLAN_FLAG\((\w+)\)", text, re.M)
    kinds = {}
    for m in re.finditer(r'^ZUV_PLAN_KIND\(\w+, "(\w+)", \w+, \w+,\s*([^,]+),\s*([^)]+)\)',
                         text, re.M):
        own = set(re.findall(r"[A-Z_]+", m.group(2))) - {"0"}
        ref = set(re.findall(r"[A-Z_]+", m.group(3))) - {"0"}
        kinds[m.group(1)] = (own, ref)
    return flags, kinds


def main():
    zuv = sys.argv[1]
    flags, kinds = declared()
    failed = 0
    env = {"PATH": os.environ.get("PATH", ""), "LANG": "C.UTF-8", "ZUV_PLANS": "eager",
           "ZUV_PLAN_VERIFY": "1", "ZUV_PLAN_DUMP": "1"}
    with tempfile.TemporaryDirectory(prefix="zuv-dump-") as tmp:
        for name, source, wanted in CASES:
            path = os.path.join(tmp, name + ".zuv")
            with open(path, "w", encoding="utf-8") as f:
                f.write("Zuv []\n" + source)
            p = subprocess.run([zuv, path], env=env, stdin=subprocess.DEVNULL,
                               capture_output=True, text=True, timeout=60)
            nodes = []
            owner = None
            for line in p.stderr.splitlines():
                m = NODE.match(line)
                if m is None:
                    continue
                kind, shown, value = m.group(1), set(m.group(2).split()), m.group(3) or ""
                allowed = kinds[owner][1] if kind == "wordref" else kinds[kind][0]
                if not shown <= allowed or not shown <= set(flags):
                    failed += 1
                    print("%s: %s carries %s" % (name, line.strip(), shown - allowed))
                nodes.append((kind, value.strip(), shown))
                owner = kind
            if p.returncode != 0 or not nodes:
                failed += 1
                print("%s: status %d, %d nodes\n%s" % (name, p.returncode, len(nodes), p.stderr))
                continue
            for kind, value, must in wanted:
                if not any(k == kind and v == value and must <= shown for k, v, shown in nodes):
                    failed += 1
                    print("%s: no %s node of %s with %s in\n%s" % (name, kind, value,
                                                                 sorted(must), p.stderr))
    if failed:
        print("%d failed" % failed)
        return 1
    print("%d cases passed" % len(CASES))
    return 0


if __name__ == "__main__":
    sys.exit(main())
