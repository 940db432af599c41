#!/usr/bin/env python3
"""The line editor in a terminal.

    line_editor.py PROGRAM CASE

Screen-level cases run PROGRAM in a private tmux server and read the pane
(capture-pane) and its cursor; the byte-level cases run it in a bare
pseudo-terminal and count what it writes. PROGRAM is the test driver
(tests/console/line_editor_driver.cpp), or `zuv` itself for the zuv_* cases.
Exit status 0 passes, 1 fails, 77 skips (no tmux; under CI=true a missing tmux fails).
"""
import os
import pty
import select
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import fcntl
import termios

DRIVER = None


class Failure(Exception):
    pass


def check(cond, what):
    if not cond:
        raise Failure(what)


# --- tmux ---------------------------------------------------------------------------------

class Pane:
    """A detached tmux session of its own server, running one shell command."""

    def __init__(self, command, width=80, height=24):
        self.dir = tempfile.mkdtemp(prefix="zuv-console-")
        self.sock = os.path.join(self.dir, "tmux.sock")
        self.tmux("-f", "/dev/null", "new-session", "-d", "-x", str(width), "-y", str(height),
                  "-s", "t", "sh", "-c", command)
        self.tmux("set-option", "-t", "t", "remain-on-exit", "on")

    def tmux(self, *args):
        return subprocess.run(["tmux", "-S", self.sock] + list(args), check=True,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              cwd=self.dir).stdout.decode()

    def keys(self, *keys):
        self.tmux("send-keys", "-t", "t", *keys)

    def text(self, text):
        self.tmux("send-keys", "-t", "t", "-l", text)

    def rows(self):
        return self.tmux("capture-pane", "-p", "-t", "t").split("\n")

    def cursor(self):
        x, y = self.tmux("display-message", "-p", "-t", "t", "#{cursor_x} #{cursor_y}").split()
        return int(x), int(y)

    def wait(self, predicate, what, timeout=10.0):
        end = time.time() + timeout
        while time.time() < end:
            if predicate():
                return
            time.sleep(0.05)
        raise Failure("timed out waiting for %s; screen:\n%s" % (what, "\n".join(self.rows())))

    def wait_text(self, text, timeout=10.0):
        self.wait(lambda: any(text in r for r in self.rows()), repr(text), timeout)

    def wait_row(self, y, text, timeout=10.0):
        self.wait(lambda: self.rows()[y].rstrip() == text, "row %d = %r" % (y, text), timeout)

    def wait_cursor(self, xy, timeout=10.0):
        self.wait(lambda: self.cursor() == xy, "cursor at %r (is %r)" % (xy, self.cursor()), timeout)

    def file(self, name):
        path = os.path.join(self.dir, name)
        return open(path).read() if os.path.exists(path) else None

    def close(self):
        subprocess.run(["tmux", "-S", self.sock, "kill-server"], stderr=subprocess.DEVNULL)
        shutil.rmtree(self.dir, ignore_errors=True)


def shell_quote(s):
    return "'" + s.replace("'", "'\\''") + "'"


def run_pane(args="", runs=1, width=80, height=24):
    """The driver under a shell that notes the terminal modes before and after."""
    driver = shell_quote(DRIVER) + (" " + args if args else "")
    body = "; ".join([driver] * runs)
    command = ("stty -a > before.txt; %s; echo \"exit=$?\"; stty -a > after.txt; exec sleep 600" % body)
    return Pane(command, width, height)


def started(pane, prompt=">>"):
    pane.wait_row(0, prompt)
    return pane


def expect_restored(pane, status):
    pane.wait_text("exit=%d" % status)
    pane.wait(lambda: pane.file("after.txt"), "stty after the exit")
    before, after = pane.file("before.txt"), pane.file("after.txt")
    check(before == after, "terminal modes not restored:\nbefore: %s\nafter: %s" % (before, after))


# --- the cases in tmux --------------------------------------------------------------------

def case_prompt():
    with_pane(lambda p: (started(p), p.wait_cursor((3, 0))))


def case_editing():
    def body(p):
        started(p)
        p.text("hello world")
        p.wait_row(0, ">> hello world")
        p.keys("Left", "Left", "Left", "Left", "Left", "BSpace")
        p.text("X")
        p.wait_row(0, ">> helloXworld")
        p.wait_cursor((9, 0))
        p.keys("Home")
        p.wait_cursor((3, 0))
        p.keys("Delete")
        p.wait_row(0, ">> elloXworld")
        p.keys("End")
        p.wait_cursor((13, 0))
        p.keys("C-a", "C-f", "C-k")
        p.wait_row(0, ">> e")
        p.wait_cursor((4, 0))
        p.keys("C-b", "C-d")
        p.wait_row(0, ">>")
        p.text("ok")
        p.keys("Enter")
        p.wait_text("got[2]: ok")
    with_pane(body)


def case_history():
    def body(p):
        started(p)
        for line in ["one", "two", "two"]:
            p.text(line)
            p.keys("Enter")
            p.wait_text("got[%d]: %s" % (len(line), line))
        y = 6  # three lines read, each echoed
        p.wait_row(y, ">>")
        p.keys("Up")
        p.wait_row(y, ">> two")
        p.keys("Up")
        p.wait_row(y, ">> one")  # "two" was entered twice and kept once
        p.keys("Up")
        p.wait_row(y, ">>")  # past the oldest
        p.keys("Down")
        p.wait_row(y, ">> two")
        p.keys("Down")
        p.wait_row(y, ">>")  # past the newest
        p.wait_cursor((3, y))
        p.keys("Up")
        p.wait_row(y, ">> two")
        p.wait_cursor((6, y))
    with_pane(body)


def case_escape():
    def body(p):
        started(p)
        p.text("abc")
        p.keys("Left", "Escape")
        p.wait_text("(escape)")
        rows = p.rows()
        check(rows[1].rstrip() == "got[4]: abc^[", "escape line: %r" % rows[1])
        p.wait_row(3, ">>")
    with_pane(body)


def case_wrap():
    def body(p):
        started(p)
        p.text("x" * 85)
        p.wait_row(1, "x" * 8)
        check(p.rows()[0] == ">> " + "x" * 77, "first row: %r" % p.rows()[0])
        p.wait_cursor((8, 1))
        p.keys("Home")
        p.wait_cursor((3, 0))
        p.keys("End")
        p.wait_cursor((8, 1))
        p.keys("Home", "Right")
        p.text("y")
        p.wait_row(1, "x" * 9)
        p.wait_cursor((5, 0))
        p.keys("Enter")
        p.wait_text("got[86]: x")
    with_pane(body)


def case_wide():
    def body(p):
        started(p)
        p.text("a\u4e2db")
        p.wait_row(0, ">> a\u4e2db")
        p.wait_cursor((7, 0))
        p.keys("Left")
        p.wait_cursor((6, 0))
        p.keys("Left")
        p.wait_cursor((4, 0))
        p.keys("Enter")
        p.wait_text("got[3]: a\u4e2db")
    with_pane(body)


def case_paste_middle():
    """A paste into the middle of a line (one write of many keys) ends on the
    screen that typing it would leave."""
    def body(p):
        started(p)
        p.text("hello world")
        p.keys("Left", "Left", "Left", "Left", "Left")
        p.wait_cursor((9, 0))
        p.text("there ")
        p.wait_row(0, ">> hello there world")
        p.wait_cursor((15, 0))
        # Over the last column: three rows, the cursor before ")".
        p.keys("C-a", "C-k")
        p.wait_row(0, ">>")
        p.text("()")
        p.keys("Left")
        pasted = "".join(chr(ord("a") + i % 26) for i in range(200))
        p.text(pasted)
        shown = ">> (" + pasted + ")"
        p.wait_row(2, shown[160:])
        check(p.rows()[0] == shown[:80], "first row: %r" % p.rows()[0])
        check(p.rows()[1] == shown[80:160], "second row: %r" % p.rows()[1])
        p.wait_cursor((204 - 160, 2))
        p.keys("Enter")
        p.wait_text("got[202]: (abc")
    with_pane(body)


def case_hide():
    def body(p):
        started(p)
        p.text("secret")
        p.wait_row(0, ">> ******")
        p.wait_cursor((9, 0))
        p.keys("Enter")
        p.wait_text("got[6]: secret")
        p.wait_row(2, ">>")
        # Nothing hidden went to the history: Up recalls nothing, and the key
        # typed after it shows once Up has been dealt with.
        p.keys("Up")
        p.text("x")
        p.wait(lambda: p.rows()[2].rstrip().endswith("*"), "the key after Up")
        check(p.rows()[2].rstrip() == ">> *", "hidden line in the history: %r" % p.rows()[2])
    with_pane(body, "--hide")


def case_restore_quit():
    def body(p):
        started(p)
        p.text("abc")
        p.keys("C-c")  # Ctrl-C quits whatever the line holds
        p.wait_text("bye")
        p.wait_text("exit=0")
    pane = run_pane("", runs=1)
    try:
        body(pane)
        expect_restored(pane, 0)
    finally:
        pane.close()
    # Ctrl-D on an empty line.
    pane = run_pane("")
    try:
        started(pane)
        pane.text("ab")
        pane.keys("C-d")  # not at the end of an empty line: nothing
        pane.text("c")
        pane.wait_row(0, ">> abc")
        pane.keys("C-u", "BSpace", "BSpace", "BSpace", "C-d")
        expect_restored(pane, 0)
    finally:
        pane.close()


def case_restore_signal():
    command = ("stty -a > before.txt; sh -c 'echo $$ > pid.txt; exec %s'; echo \"exit=$?\"; "
               "stty -a > after.txt; exec sleep 600" % shell_quote(DRIVER))
    pane = Pane(command)
    try:
        started(pane)
        pane.wait(lambda: pane.file("pid.txt"), "the driver's pid")
        os.kill(int(pane.file("pid.txt")), 15)
        expect_restored(pane, 143)
    finally:
        pane.close()


def case_restore_fault():
    pane = run_pane("--fault-on-tab")
    try:
        started(pane)
        pane.text("a")
        pane.keys("Tab")
        pane.wait_text("Runtime Error 32")
        expect_restored(pane, 32)
    finally:
        pane.close()


def case_restore_error():
    pane = run_pane("--error-on-tab")
    try:
        started(pane)
        pane.keys("Tab")
        pane.wait_text("error during the read")
        expect_restored(pane, 3)
    finally:
        pane.close()


def with_pane(body, args=""):
    pane = run_pane(args)
    try:
        body(pane)
        pane.keys("C-c")
        expect_restored(pane, 0)
    finally:
        pane.close()


# --- the console of zuv ---------------------------------------------------------------------

def zuv_pane():
    command = ("stty -a > before.txt; HOME=\"$PWD\" XDG_CACHE_HOME=\"$PWD/cache\" %s; echo \"exit=$?\"; "
               "stty -a > after.txt; exec sleep 600" % shell_quote(DRIVER))
    return Pane(command)


def prompt_row(pane):
    """The row of the last prompt on the screen, -1 while there is none."""
    rows = [r.rstrip() for r in pane.rows()]
    return max((i for i, r in enumerate(rows) if r.startswith(">>")), default=-1)


def fresh_prompt(pane, after):
    """Waits for an empty prompt below the last row holding `after`, and
    answers its row. The console prints its answer before the next prompt:
    reading the last prompt as soon as the answer shows could still find the
    one that was answered."""
    def row():
        rows = [r.rstrip() for r in pane.rows()]
        marks = [i for i, r in enumerate(rows) if after in r]
        if not marks:
            return -1
        return next((i for i in range(marks[-1] + 1, len(rows)) if rows[i] == ">>"), -1)
    pane.wait(lambda: row() >= 0, "an empty prompt after %r" % after)
    return row()


def with_zuv(body, end=("C-d",), status=0):
    pane = zuv_pane()
    try:
        pane.wait_text("Type HELP")
        pane.wait(lambda: prompt_row(pane) >= 0 and
                  pane.rows()[prompt_row(pane)].rstrip() == ">>", "the prompt")
        body(pane)
        pane.keys(*end)
        expect_restored(pane, status)
    finally:
        pane.close()


def case_zuv_prompt():
    def body(p):
        y = prompt_row(p)
        p.wait_cursor((3, y))
        p.text("1 + 2")
        p.keys("Home", "Delete")
        p.text("4")
        p.keys("Enter")
        p.wait_text("== 6")
        p.wait_row(y + 2, ">>")
        p.wait_cursor((3, y + 2))
        p.keys("Up")
        p.wait_row(y + 2, ">> 4 + 2")
        p.keys("Down")
        p.wait_row(y + 2, ">>")
    with_zuv(body)


def case_zuv_debug_history():
    # The commands typed at "debug> " leave the history when the run ends:
    # Up recalls the line that started it.
    def body(p):
        p.text("debug [1 + 2]")
        p.keys("Enter")
        p.wait_text("debug>")
        p.text("n")
        p.keys("Enter")
        p.wait_text("-----> PUSH 1")
        p.text("c")
        p.keys("Enter")
        y = fresh_prompt(p, "-----> PUSH 1")
        p.keys("Up")
        p.wait_row(y, ">> debug [1 + 2]")
        p.keys("Down")
        p.wait_row(y, ">>")
    with_zuv(body)


def case_zuv_escape():
    def body(p):
        p.text("print [")
        p.keys("Enter")
        y = prompt_row(p) + 1
        p.wait_row(y, "[")  # the cue: "[" and four blanks
        p.wait_cursor((5, y))
        p.text("1")
        p.keys("Escape")
        p.wait_text("(escape)")
        fresh_prompt(p, "(escape)")
    with_zuv(body)


def case_zuv_quit_open():
    # Ctrl-D (then Ctrl-C) with a bracket open ends the console as at an
    # empty prompt, history saved; the "q" the keys give joins no code.
    for key in ("C-d", "C-c"):
        def body(p):
            p.text("f: func [x] [")
            p.keys("Enter")
            p.wait_row(prompt_row(p) + 1, "[")
            p.text("x + 1")
            p.keys("Enter")
            p.wait(lambda: sum(r.rstrip() == "[" for r in p.rows()) == 1, "the empty continuation")
        pane = zuv_pane()
        try:
            pane.wait_text("Type HELP")
            pane.wait(lambda: prompt_row(pane) >= 0, "the prompt")
            body(pane)
            pane.keys(key)
            expect_restored(pane, 0)
            cfg = pane.file("cache/Zuv/Zuv-Console/console-cfg.zuv") or ""
            check("x + 1" in cfg and "f: func [x] [" in cfg, "history not saved: %r" % cfg)
        finally:
            pane.close()


def case_zuv_hide():
    def body(p):
        p.text('s: ask/hide "Password: "')
        p.keys("Enter")
        p.wait_text("Password:")
        p.text("tiger")
        p.wait_text("Password: *****")
        p.keys("Enter")
        p.wait_text('== "tiger"')
        y = fresh_prompt(p, '== "tiger"')
        p.keys("Up")  # the password is not in the history
        p.wait_row(y, '>> s: ask/hide "Password: "')
    with_zuv(body, end=("C-c",))


def words_starting(prefix):
    """The global words with a value that begin with prefix, sorted, as a
    script run of zuv lists them."""
    script = ('Zuv [] r: copy [] foreach w words-of system/words '
              '[if all [value? w find/match mold w %s] [append r mold w]] '
              'foreach w sort r [prin w prin " "]' % ('"' + prefix + '"'))
    with tempfile.NamedTemporaryFile("w", suffix=".zuv", delete=False) as f:
        f.write(script)
    try:
        return subprocess.run([DRIVER, f.name], stdout=subprocess.PIPE, check=True,
                              stdin=subprocess.DEVNULL).stdout.decode().strip()
    finally:
        os.unlink(f.name)


def next_line(p):
    """Drops the line with Esc and answers the row of the fresh prompt."""
    p.keys("Escape")
    return fresh_prompt(p, "(escape)")


def case_zuv_complete_word():
    def body(p):
        y = prompt_row(p)
        p.text("to-intege")
        p.keys("Tab")
        p.wait_row(y, ">> to-integer")
        p.wait_cursor((13, y))
        # A word with several candidates lists them where the line was; the
        # next prompt holds their common part.
        y = next_line(p)
        p.text("to-i")
        p.keys("Tab")
        p.wait_row(y, ">> " + words_starting("to-i"))
        p.wait_row(y + 1, ">> to-i")
        p.wait_cursor((7, y + 1))
        # In the middle of a line the text after the cursor stays.
        y = next_line(p)
        p.text("print to-intege 5")
        p.keys("Left", "Left", "Tab")
        p.wait_row(y, ">> print to-integer 5")
        p.wait_cursor((19, y))
        # A complete word with no longer candidate: the Tab goes in.
        y = next_line(p)
        p.text("print")
        p.keys("Tab")
        p.text(" 1")
        p.keys("Enter")
        p.wait_row(y + 1, "1")
    with_zuv(body)


def case_zuv_complete_path():
    def body(p):
        y = prompt_row(p)
        p.text("system/conso")
        p.keys("Tab")
        p.wait_row(y, ">> system/console")
        y = next_line(p)
        p.text("append/")
        p.keys("Tab")
        p.wait_row(y, ">> dup only part")
        p.wait_row(y + 1, ">> append/")
        # Esc after a listing drops the line.
        next_line(p)
    with_zuv(body)


def case_zuv_complete_file():
    def body(p):
        folder = os.path.join(p.dir, "f")
        os.makedirs(os.path.join(folder, "alpine"))
        os.makedirs(os.path.join(folder, "sub dir"))
        for name in ("alpha.txt", "beta.txt", os.path.join("sub dir", "zed file.txt")):
            open(os.path.join(folder, name), "w").close()
        p.text("change-dir %f/")
        p.keys("Enter")
        y = fresh_prompt(p, "change-dir")
        p.text("%b")
        p.keys("Tab")
        p.wait_row(y, ">> %beta.txt")
        y = next_line(p)
        p.text("%al")
        p.keys("Tab")
        p.wait_row(y, ">> alpha.txt alpine/")
        p.wait_row(y + 1, ">> %alp")
        # A name with a blank goes in quotes; after a folder the cursor stays
        # inside them, and the next Tab goes on there.
        y = next_line(p)
        p.text("%su")
        p.keys("Tab")
        p.wait_row(y, '>> %"sub dir/"')
        p.wait_cursor((13, y))
        p.keys("Tab")
        p.wait_row(y, '>> %"sub dir/zed file.txt"')
        p.wait_cursor((26, y))
        # A folder that does not exist completes nothing: the Tab goes in.
        y = next_line(p)
        p.text("%nope/x")
        p.keys("Tab")
        p.wait(lambda: p.cursor()[0] > 10, "the Tab in the line")
        p.wait_row(y, ">> %nope/x")
        next_line(p)
    with_zuv(body)


# --- the cases in a bare pty --------------------------------------------------------------

class Pty:
    """The driver in a pseudo-terminal of 80x24 that answers cursor queries."""

    def __init__(self):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
            os.execv(DRIVER, [DRIVER])
        self.output = b""

    def pump(self, timeout):
        r, _, _ = select.select([self.fd], [], [], timeout)
        if not r:
            return False
        try:
            data = os.read(self.fd, 65536)
        except OSError:
            return False
        if b"\x1b[6n" in data:
            os.write(self.fd, b"\x1b[1;1R")
        self.output += data
        return bool(data)

    def read_until(self, marker, timeout=10.0):
        self.read_while(lambda got: marker not in got, 0, "%r" % marker, timeout)

    def read_while(self, waiting, at, what, timeout=10.0):
        """Reads while waiting(the output from at on) holds, at most timeout seconds."""
        end = time.time() + timeout
        while waiting(self.output[at:]):
            if time.time() > end:
                raise Failure("timed out waiting for %s; got %r" % (what, self.output[-200:]))
            self.pump(0.1)

    def quiet(self, wait=0.3):
        """Everything written until the driver has been quiet for a while."""
        start = len(self.output)
        while self.pump(wait):
            pass
        return self.output[start:]

    def send(self, data):
        # Reading while writing: the driver's echo must not fill the pty and stall it.
        view = memoryview(data)
        while view:
            _, w, _ = select.select([], [self.fd], [], 0.01)
            if w:
                n = os.write(self.fd, view[:1024])
                view = view[n:]
            self.pump(0)

    def close(self):
        try:
            os.kill(self.pid, 9)
        except OSError:
            pass
        os.waitpid(self.pid, 0)


def case_echo():
    t = Pty()
    try:
        t.read_until(b">> ")
        # Each key's echo follows the last one's at once: a redraw, or bytes
        # more than the echo, would show before the next key's echo.
        at = t.output.index(b">> ") + 3
        keys = [(bytes([ch]), bytes([ch])) for ch in b"print"]
        keys.append((b"\x1b[D", b"\x1b[D"))  # Left: a cursor move only
        for key, echo in keys:
            t.send(key)
            t.read_while(lambda got: echo.startswith(got) and got != echo, at, "%r" % echo)
            got = t.output[at:at + len(echo)]
            check(got == echo, "%r at the end of the line wrote %r" % (key, t.output[at:]))
            at += len(echo)
        t.quiet()
        check(t.output[at:] == b"", "after the echoes: %r" % t.output[at:])
    finally:
        t.close()


def case_paste():
    t = Pty()
    try:
        t.read_until(b">> ")
        t.quiet()
        start = len(t.output)
        text = bytes(ord("a") + i % 26 for i in range(10000))
        t.send(text + b"\r")
        t.read_until(b"got[10000]: ")
        at = t.output.index(b"got[10000]: ", start)
        written = at - start
        check(written <= 2 * 10000, "pasting 10,000 characters wrote %d bytes" % written)
        end = time.time() + 10
        while b"\n" not in t.output[at:] and time.time() < end:
            t.pump(0.1)
        echoed = t.output[at + 12:].split(b"\n")[0].rstrip(b"\r")
        check(echoed == text, "the pasted line came back changed (%d bytes)" % len(echoed))
    finally:
        t.close()


def case_paste_middle_bytes():
    t = Pty()
    try:
        t.read_until(b">> ")
        t.send(b"()\x1b[D")
        t.quiet()
        start = len(t.output)
        text = bytes(ord("a") + i % 26 for i in range(10000))
        t.send(text + b"\r")
        t.read_until(b"got[10002]: ")
        written = t.output.index(b"got[10002]: ", start) - start
        # Drawn once per read that drains the waiting bytes: the test writes
        # them 1,024 at a time, so at most about ten redraws of the growing
        # line (some 60,000 bytes); one redraw per character wrote some 50
        # million.
        check(written <= 20 * 10000, "pasting 10,000 characters into a line wrote %d bytes" % written)
    finally:
        t.close()


def case_paste_lines():
    t = Pty()
    try:
        t.read_until(b">> ")
        t.send(b"one\rtwo\nthree\r")  # one write: the lines after the first wait for their reads
        t.read_until(b"got[5]: three")
        for line in (b"got[3]: one", b"got[3]: two"):
            check(line in t.output, "%r lost from a pasted block" % line)
    finally:
        t.close()


def run_case(case, needs_tmux=True):
    """Runs one case function; the exit status of the test."""
    if needs_tmux and shutil.which("tmux") is None:
        print("tmux is not installed")
        # CI installs it: a skip there would hide a missing install step.
        return 1 if os.environ.get("CI") == "true" else 77
    try:
        case()
    except Failure as f:
        print("FAIL:", f)
        return 1
    print("ok")
    return 0


def main():
    global DRIVER
    DRIVER = os.path.abspath(sys.argv[1])
    case = sys.argv[2]
    return run_case(globals()["case_" + case],
                    case not in ("echo", "paste", "paste_lines", "paste_middle_bytes"))


if __name__ == "__main__":
    sys.exit(main())
