#!/usr/bin/env python3
"""Runs every example of a markdown document and compares its output.

    examples.py ZUV DOCUMENT.md

The examples are fenced code blocks, taken in the order of the document, all
run in one fresh working folder (HOME, XDG_CACHE_HOME and TMPDIR private):

```zuv            a console session: lines beginning with ">> " are typed at
                 the prompt, lines beginning with the continuation cue (an
                 open "[", "(" or "{" and four spaces) continue that input,
                 lines beginning with "debug> " are typed at the debugger's
                 prompt; every other line is the output expected. The
                 session is zuv with its input piped, one process a block.

```zuv NAME      a file: its text is written to NAME in the working folder
                 (a script to run later, or data to read). Nothing is run.

```sh            a shell session when a line begins with "$ ": each such
                 command runs under sh in the working folder, its standard
                 output and error as the lines after it; `zuv` and
                 `build/zuv` in a command are the zuv under test. A block
                 with no "$ " line is no example (build instructions).

A comment `<!-- keys: KEY... -->` just before an sh block makes its one
command a program with a window in the terminal, and KEY... what is typed
to it: `Tab`, `Space` and `Enter` are keys, any other word is typed as text.
It runs in tmux when tmux is there, and always without a terminal: `view`
then builds the window with `layout` and plays the keys on its faces.

In the output expected, trailing blanks do not count, a line holding only
"..." stands for any number of lines, and "..." in a line for any text.
A `zuv` block that is neither a session nor a file fails the check, so no
example is left unchecked.

Exit status 0 passes, 1 fails.
"""
import difflib
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

TIMEOUT = 60.0
BANNER = re.compile(r"\A--== Zuv [^\n]*\nType HELP[^\n]*\n\n")
INPUT = re.compile(r"^(>> |debug> |[\[({] {4})")
KEYS = re.compile(r"^<!--\s*keys:(.*?)-->\s*$")
FENCE = re.compile(r"^(```+)\s*(\S*)\s*(.*?)\s*$")
# zuv run by a command: at its start, or after a pipe or a ; or &&.
COMMAND_ZUV = re.compile(r"(^\s*|[|;&]\s*)(?:build/)?zuv(?=\s|$)")


class Failure(Exception):
    pass


class Block:
    def __init__(self, line, lang, name, text, keys):
        self.line, self.lang, self.name, self.text, self.keys = line, lang, name, text, keys

    def where(self, doc):
        return "%s:%d" % (os.path.basename(doc), self.line)


def blocks_of(doc):
    """The fenced blocks of the document, each with the keys comment before it."""
    with open(doc, encoding="utf-8") as f:
        lines = f.read().split("\n")
    blocks, keys, i = [], None, 0
    while i < len(lines):
        m = FENCE.match(lines[i])
        k = KEYS.match(lines[i])
        if k:
            keys = k.group(1).split()
        elif m:
            fence, start, body = m.group(1), i + 1, []
            i += 1
            while i < len(lines) and not lines[i].startswith(fence):
                body.append(lines[i])
                i += 1
            if i == len(lines):
                raise Failure("%s:%d: the block never closes" % (doc, start))
            blocks.append(Block(start, m.group(2), m.group(3), "\n".join(body) + "\n", keys))
            keys = None
        elif lines[i].strip():
            keys = None
        i += 1
    return blocks


# --- output compared with what the document shows --------------------------------------------

def pattern_of(expected):
    parts = []
    for line in expected:
        if line == "...":
            parts.append(r"(?:[^\n]*\n)*?")
        else:
            parts.append(".*".join(re.escape(p) for p in line.split("...")) + r"\n")
    return re.compile("".join(parts))


def normal(lines):
    lines = [l.rstrip() for l in lines]
    while lines and not lines[-1]:
        lines.pop()
    return lines


def compare(expected, actual, what):
    expected, actual = normal(expected), normal(actual)
    text = "".join(l + "\n" for l in actual)
    if not pattern_of(expected).fullmatch(text):
        diff = "\n".join(difflib.unified_diff(expected, actual, "shown", "zuv", lineterm=""))
        raise Failure("%s: the output differs from the document\n%s" % (what, diff))


# --- running ---------------------------------------------------------------------------------

class Folder:
    def __init__(self, zuv):
        self.zuv = os.path.abspath(zuv)
        self.root = tempfile.mkdtemp(prefix="zuv-docs-")
        self.cwd = os.path.join(self.root, "work")
        home = os.path.join(self.root, "home")
        tmp = os.path.join(self.root, "tmp")
        for folder in (self.cwd, os.path.join(home, ".cache"), tmp):
            os.makedirs(folder)
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": home,
                    "TMPDIR": tmp, "XDG_CACHE_HOME": os.path.join(home, ".cache"),
                    "LANG": "C.UTF-8", "LC_ALL": "C.UTF-8", "TZ": "UTC", "TERM": "dumb"}
        for key in ("ZUV_GC_STRESS", "ZUV_NO_FAST_PATHS", "ZUV_PLANS", "ZUV_PLAN_VERIFY",
                    "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if key in os.environ:
                self.env[key] = os.environ[key]

    def run(self, argv, stdin, what):
        try:
            proc = subprocess.run(argv, cwd=self.cwd, env=self.env, input=stdin.encode(),
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                  timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            raise Failure("%s: still running after %d s" % (what, TIMEOUT))
        return proc.stdout.decode("utf-8", "backslashreplace")

    def command(self, command):
        """The shell command with the zuv under test in place of zuv."""
        return COMMAND_ZUV.sub(lambda m: m.group(1) + shlex.quote(self.zuv), command)

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)


def run_session(folder, block, what):
    lines = block.text.split("\n")[:-1]
    typed = [INPUT.sub("", l, count=1) for l in lines if INPUT.match(l)]
    expected = [l for l in lines if not INPUT.match(l)]
    out = BANNER.sub("", folder.run([folder.zuv], "\n".join(typed) + "\n", what), count=1)
    compare(expected, out.split("\n"), what)


def shell_steps(block):
    steps = []
    for line in block.text.split("\n")[:-1]:
        if line.startswith("$ "):
            steps.append((line[2:], []))
        elif steps:
            steps[-1][1].append(line)
    return steps


def run_shell(folder, block, what):
    for command, expected in shell_steps(block):
        out = folder.run(["sh", "-c", folder.command(command)], "", "%s (%s)" % (what, command))
        compare(expected, out.split("\n"), "%s (%s)" % (what, command))


# --- a window: without a terminal, and in tmux ------------------------------------------------

# `view` made headless: the faces that take the focus, in the order Tab
# visits them, get the keys as the window's event functions would give them.
HEADLESS = """Zuv []
keys: %s
view: func [spec /local win faces i f] [
    win: either block? spec [layout spec] [spec]
    faces: collect [
        foreach f win/pane [if find [field area check radio button text-list] f/type [keep f]]
    ]
    i: 1
    foreach k keys [
        f: pick faces i
        switch/default k [
            "Tab" [i: i // (length? faces) + 1]
            "Space" [if f/type = 'check [f/data: not f/data do-actor f none 'change]]
            "Enter" [do-actor f none either f/type = 'button ['click] ['enter]]
        ] [f/text: append any [f/text copy ""] k]
    ]
]
script: to-zuv-file system/options/args/1
change-dir first split-path script
do script
"""


def window_script(command):
    words = shlex.split(command)
    if len(words) != 2 or words[0] not in ("zuv", "build/zuv"):
        raise Failure("a window's command must be `zuv SCRIPT`, not %r" % command)
    return words[1]


def run_window_headless(folder, block, what):
    (command, expected), = shell_steps(block)
    keys = "[" + " ".join('"%s"' % k for k in block.keys) + "]"
    driver = os.path.join(folder.root, "headless.zuv")
    with open(driver, "w") as f:
        f.write(HEADLESS % keys)
    script = os.path.join(folder.cwd, window_script(command))
    out = folder.run([folder.zuv, driver, script], "", what + " without a terminal")
    compare(expected, out.split("\n"), what + " without a terminal")


def run_window_tmux(folder, block, what):
    (command, expected), = shell_steps(block)
    window_script(command)
    sock = os.path.join(folder.root, "tmux.sock")
    env = " ".join("%s=%s" % (k, shlex.quote(v)) for k, v in folder.env.items()
                   if k != "TERM")
    shell = "cd %s; env -i %s TERM=xterm-256color %s; echo \"exit=$?\"; exec sleep 600" % (
        shlex.quote(folder.cwd), env, folder.command(command))

    def tmux(*args):
        return subprocess.run(["tmux", "-S", sock, "-f", "/dev/null"] + list(args), check=True,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE).stdout.decode()

    def rows():
        return tmux("capture-pane", "-p", "-t", "t").split("\n")

    def wait(predicate, about):
        end = time.time() + 30
        while time.time() < end:
            if predicate():
                return
            time.sleep(0.1)
        raise Failure("%s in a terminal: timed out waiting for %s; screen:\n%s" %
                      (what, about, "\n".join(rows())))

    tmux("new-session", "-d", "-x", "80", "-y", "24", "-s", "t", "sh", "-c", shell)
    try:
        wait(lambda: any(r.strip() for r in rows()), "the window")
        time.sleep(0.3)
        for key in block.keys:
            if key in ("Tab", "Space", "Enter"):
                tmux("send-keys", "-t", "t", key)
            else:
                tmux("send-keys", "-t", "t", "-l", key)
            time.sleep(0.1)
        wait(lambda: any(r.startswith("exit=") for r in rows()), "the program's end")
        screen = rows()
        end = next(i for i, r in enumerate(screen) if r.startswith("exit="))
        if screen[end] != "exit=0":
            raise Failure("%s in a terminal: %s; screen:\n%s" %
                          (what, screen[end], "\n".join(screen)))
        compare(expected, screen[:end], what + " in a terminal")
    finally:
        subprocess.run(["tmux", "-S", sock, "kill-server"], stderr=subprocess.DEVNULL)


# --- the document ----------------------------------------------------------------------------

def check_document(zuv, doc):
    blocks = blocks_of(doc)
    folder = Folder(zuv)
    count = 0
    try:
        for block in blocks:
            what = block.where(doc)
            if block.keys is not None and not (block.lang == "sh" and shell_steps(block)):
                raise Failure("%s: keys are for a shell session that runs a window" % what)
            if block.lang == "zuv" and block.name:
                path = os.path.normpath(os.path.join(folder.cwd, block.name))
                if not path.startswith(folder.cwd + os.sep):
                    raise Failure("%s: %r is outside the working folder" % (what, block.name))
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "w", encoding="utf-8") as f:
                    f.write(block.text)
            elif block.lang == "zuv":
                if not block.text.startswith(">> "):
                    raise Failure("%s: a zuv block is a session (\">> \" first) or names its "
                                  "file" % what)
                run_session(folder, block, what)
                count += 1
            elif block.lang == "sh" and shell_steps(block):
                if block.keys is None:
                    run_shell(folder, block, what)
                else:
                    run_window_headless(folder, block, what)
                    if shutil.which("tmux"):
                        run_window_tmux(folder, block, what)
                    else:
                        print("%s: no tmux, the window ran without a terminal only" % what)
                count += 1
        if count == 0:
            raise Failure("%s holds no example" % doc)
    finally:
        folder.close()
    print("%s: %d examples as shown" % (os.path.basename(doc), count))


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().split("\n")[2], file=sys.stderr)
        return 2
    try:
        check_document(sys.argv[1], sys.argv[2])
    except Failure as e:
        print("FAIL: %s" % e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
