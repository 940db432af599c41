#!/usr/bin/python3
"""Names of the system that are not UTF-8, against Python's os (surrogateescape).

File names, the current folder, environment values and command-line arguments
are bytes on Linux. zuv must carry every byte: Python's surrogate escapes
(each byte that is not UTF-8 becomes U+DC80-U+DCFF) are the oracle. The script
runs in a folder whose own name is not UTF-8, lists a folder of seeded random
names (with a link to nothing and a folder of such a name), reads, renames,
deletes and makes files through them, passes them to the environment and to a
child process, and receives some as arguments. What it reports comes out as
to-json/ascii, which json.loads reads into the same str Python decodes.

Usage: os_names.py ZUV
"""

import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

rng = random.Random(75)


def decode(b):
    return b.decode("utf-8", "surrogateescape")


# Byte names that are not UTF-8 in the ways a name can fail to be, and some
# that are; each must come back as Python decodes it.
FIXED = [
    b"caf\xe9.txt",  # Latin-1
    b"\x80", b"\xff\xfe",  # a stray continuation, bytes UTF-8 never uses
    b"cut\xe2\x82",  # a sequence cut short
    b"\xed\xa0\x80\xed\xb0\x80",  # surrogates encoded (CESU)
    b"\xc0\xaf", b"\xf4\x90\x80\x80",  # overlong, beyond U+10FFFF
    b"\xef\xbb\xbfbom",  # a leading byte-order mark, which stays
    b"nonchar\xef\xbf\xbe",  # U+FFFE, UTF-8 all the same
    b"\xc3\xa9t\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x98\x80",  # sound UTF-8
    b"mix\xc3\xa9\xe9",
]


def random_name():
    n = rng.randint(1, 10)
    while True:
        b = bytes(rng.choice([rng.randint(1, 0x7F), rng.randint(0x80, 0xFF)]) for _ in range(n))
        b = b.replace(b"/", b"_")
        if b not in (b".", b".."):
            return b


def main(zuv):
    zuv = os.path.abspath(zuv)
    root = tempfile.mkdtemp(prefix="zuv-names-")
    try:
        return check(zuv, root)
    finally:
        shutil.rmtree(os.fsencode(root), ignore_errors=True)


def check(zuv, root):
    home = os.path.join(os.fsencode(root), b"h\xe9\xff")
    sub = os.path.join(home, b"f\xe9\xff")
    os.makedirs(os.path.join(sub, b"inner\x80"))
    names = set(FIXED)
    while len(names) < len(FIXED) + 40:
        names.add(random_name())
    names.discard(b"link\xfe")
    names = sorted(names)
    for n in names:
        with open(os.path.join(sub, n), "wb") as f:
            f.write(n.hex().encode())
    os.symlink(b"nowhere\xff", os.path.join(sub, b"link\xfe"))
    with open(os.path.join(home, b"c\xe9\xff.txt"), "wb") as f:
        f.write(b"called")
    with open(os.path.join(home, b"names.zuv"), "w") as f:
        f.write(SCRIPT)

    env_value = b"v\xe9\x80" + bytes(range(1, 256)).replace(b"=", b"")
    env = {b"PATH": b"/usr/bin:/bin", b"LANG": b"C.UTF-8", b"ZN": env_value, b"Z\xffN": b"\xfe"}
    args = [b"names.zuv", b"a\xff", b'q"t', b"two words", b"", b"\xed\xa0\x80"]
    proc = subprocess.run([os.fsencode(zuv)] + args, cwd=home, env=env, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=100)
    if proc.returncode != 0:
        sys.exit("zuv failed (status %d): %s%s"
                 % (proc.returncode, proc.stdout[-2000:], proc.stderr[-2000:]))
    got = {}
    for line in proc.stdout.decode("ascii").splitlines():
        label, _, text = line.partition(" ")
        got[label] = json.loads(text)

    listed = sorted(names + [b"link\xfe", b"inner\x80"])
    expect = {
        "what-dir": decode(home) + "/",
        "get-current-dir": decode(home) + "/",
        "clean-path": decode(home) + "/x",
        "listing": [decode(n) + ("/" if n == b"inner\x80" else "") for n in listed],
        "contents": [[decode(n), n.hex(), len(n.hex())] for n in names],
        "env": decode(env_value),
        "list-env": {decode(k): decode(v) for k, v in env.items()},
        "args": [decode(a) for a in args[1:]],
        "child-env": env_value.hex(),
        "called": "called",
        "inner-what-dir": decode(sub) + "/inner\udc80/",
    }
    failures = []
    for label, want in expect.items():
        if got.get(label) != want:
            failures.append("%s: expected %r, got %r" % (label, want, got.get(label)))

    # On disk: every other file renamed and deleted in turn, the rest renamed;
    # the file zuv made from escapes holds the bytes they stand for.
    renamed = [n + b".r" for n in sorted(names + [b"link\xfe"])]
    want_disk = sorted(renamed[0::2] + [b"inner\x80"])
    have = sorted(os.listdir(sub))
    if have != want_disk:
        failures.append("files after rename and delete: expected %r, got %r" % (want_disk, have))
    made = os.path.join(home, b"new\x80\xff\xc3\xa9")
    if not os.path.exists(made):
        failures.append("no file %r: %r" % (made, sorted(os.listdir(home))))
    for f in failures[:25]:
        print(f)
    if failures:
        sys.exit("%d of %d checks differ" % (len(failures), len(expect) + 2))
    print("%d names agree" % len(names))
    return 0


# ASCII only: every name comes from the system.
SCRIPT = r"""Zuv [Title: "names that are not UTF-8"]
emit: func [label value] [print rejoin [label " " to-json/ascii value]]
emit "what-dir" to string! what-dir
emit "get-current-dir" get-current-dir
emit "clean-path" to string! clean-path %x
emit "env" get-env "ZN"
emit "list-env" list-env
emit "args" system/options/args
sub: none
foreach f read %./ [if dir? f [sub: f]]
emit "listing" read sub
contents: copy []
foreach f read sub [
    unless any [dir? f "link^(DCFE)" = to string! f] [
        append/only contents reduce [to string! f read append copy sub f size? append copy sub f]
    ]
]
emit "contents" contents
set-env "ZOUT" get-env "ZN"
out: copy ""
call/wait/output {printf %s "$ZOUT" | od -An -tx1 -v} out
emit "child-env" trim/all out
foreach f read %./ [if all [not dir? f find/match to string! f "c"] [called: f]]
out: copy ""
call/wait/output rejoin ["cat " to string! called] out
emit "called" out
write to file! "new^(DC80)^(DCFF)^(E9)" ""
odd: false
foreach f read sub [
    unless dir? f [
        from: append copy sub f
        to-name: append copy from ".r"
        unless rename from to-name [print ["rename failed:" mold from]]
        if odd [unless delete to-name [print ["delete failed:" mold to-name]]]
        odd: not odd
    ]
]
change-dir sub
foreach f read %./ [if dir? f [change-dir f]]
emit "inner-what-dir" to string! what-dir
"""

if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
