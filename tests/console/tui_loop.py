#!/usr/bin/env python3
"""The terminal UI's event loop in a terminal.

    tui_loop.py ZUV CASE

Each case runs a Zuv script that shows windows made from face! in a private
tmux server (TERM=xterm-256color, COLORTERM unset), types keys and mouse
reports into it, and reads what the actors noted in log.txt. After the
program ends the terminal must be as it was: the same stty modes, no mouse
reporting left on (a click would print its bytes at the shell), the normal
screen and a visible cursor.
Exit status 0 passes, 1 fails, 77 skips (no tmux; under CI=true a missing tmux fails).
"""
import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from line_editor import Failure, Pane, check, shell_quote  # noqa: E402

ZUV = None

# Notes what actors see, one line each, in log.txt.
PRELUDE = """Zuv []
note: func [items] [write/append %log.txt rejoin [form reduce items "^/"]]
"""

# A button-like base over a window; keys, clicks and the wheel noted.
INPUT_WINDOW = """
b: make face! [type: 'base offset: 2x1 size: 8x1 text: "MARK-UI"
    actors: object [
        on-down: func [f e] [note ['down e/offset e/shift? e/ctrl?]]
        on-up: func [f e] [note ['up e/offset]]
        on-click: func [f e] [note ['click e/offset]]
        on-wheel: func [f e] [note ['wheel e/picked]]
    ]]
win: make face! [type: 'window size: 20x3 pane: reduce [b]
    actors: object [
        on-key: func [f e] [
            note ['key mold e/key e/shift?]
            case [
                e/key = #"q" [unview]
                e/key = #"!" [do make error! "from an actor"]
                e/key = #"Q" [quit/return 3]
            ]
        ]
    ]]
"""


def zuv_pane(script, width=80, height=24, note_pid=False):
    """zuv running script in a pane; the shell notes the terminal before
    and after, and the exit status (and zuv's pid in pid.txt)."""
    pane = Pane("sleep 600", width, height)
    with open(os.path.join(pane.dir, "t.zuv"), "w") as f:
        f.write(PRELUDE + script)
    run_zuv = "TERM=xterm-256color HOME=\"$PWD\" XDG_CACHE_HOME=\"$PWD/cache\" exec %s t.zuv" % \
        shell_quote(ZUV)
    if note_pid:
        run_zuv = "echo $$ > pid.txt; " + run_zuv
    # Job control puts zuv in a process group of its own, as an interactive
    # shell does: a Ctrl-C typed at the terminal reaches zuv alone. A shell
    # whose command died by SIGINT ends itself the same way, unless it has a
    # trap for it: the trap keeps it to note the status.
    command = ("set -m; trap : INT; ulimit -c 0; cd %s; stty -g > before.txt; unset COLORTERM; sh -c %s; echo \"exit=$?\"; "
               "stty -g > after.txt; exec sleep 600" % (shell_quote(pane.dir), shell_quote(run_zuv)))
    pane.tmux("respawn-pane", "-k", "-t", "t", "sh", "-c", command)
    return pane


def log_lines(pane):
    text = pane.file("log.txt")
    return text.splitlines() if text else []


def wait_log(pane, line, timeout=10.0):
    pane.wait(lambda: line in log_lines(pane), "log line %r (log: %r)" % (line, log_lines(pane)),
              timeout)


def marker_row(pane, marker="MARK-UI"):
    """The row showing the marker, read from the same capture that found it:
    a window that closes on its own may have redrawn by the next one."""
    found = []

    def shown():
        found[:] = [i for i, r in enumerate(pane.rows()) if marker in r]
        return bool(found)
    pane.wait(shown, repr(marker))
    return found[0]


def mouse(pane, cb, x, y, release=False):
    """An SGR mouse report at cell (x, y) of the pane, 0-based."""
    pane.text("\x1b[<%d;%d;%d%s" % (cb, x + 1, y + 1, "m" if release else "M"))


def mode_flags(pane):
    """Any-motion, button and click reporting, SGR and UTF-8 encodings, the
    alternate screen, the cursor shown: "0000001" is the shell's terminal."""
    return pane.tmux("display-message", "-p", "-t", "t",
                     "#{mouse_any_flag}#{mouse_button_flag}#{mouse_standard_flag}"
                     "#{mouse_sgr_flag}#{mouse_utf8_flag}#{alternate_on}#{cursor_flag}").strip()


def expect_restored(pane, status):
    pane.wait_text("exit=%d" % status, timeout=15)
    pane.wait(lambda: pane.file("after.txt"), "stty after the exit")
    before, after = pane.file("before.txt"), pane.file("after.txt")
    check(before == after, "terminal modes not restored:\nbefore: %s\nafter: %s" % (before, after))
    flags = mode_flags(pane)
    check(flags == "0000001", "mouse, screen or cursor modes left on (flags %s)" % flags)


def run(script, body, status=0, **kw):
    pane = zuv_pane(script, **kw)
    try:
        body(pane)
        expect_restored(pane, status)
    finally:
        pane.close()


# --- the cases -----------------------------------------------------------------------------

def case_keys_mouse():
    def body(p):
        y = marker_row(p)  # the base's row; the window starts one above
        p.text("a")
        p.keys("Up")
        p.keys("BTab")
        wait_log(p, "key #\"a\" false")
        wait_log(p, "key up false")
        wait_log(p, "key #\"^-\" true")
        mouse(p, 4, 3, y)  # shift held
        mouse(p, 0, 3, y, release=True)
        wait_log(p, "down 1x0 true false")
        wait_log(p, "up 1x0")
        wait_log(p, "click 1x0")
        mouse(p, 65, 4, y)
        p.wait(lambda: any(l.startswith("wheel -1") for l in log_lines(p)), "the wheel")
        p.text("q")
    # Tab is the tab event function's, which ends it: without the function
    # Shift-Tab reaches the window's actor as a key.
    run("remove-event-func 'tab\n" + INPUT_WINDOW + "view win\n", body)


def case_on_time_close():
    script = """
n: 0
view make face! [type: 'window size: 10x1 rate: 20 text: "MARK-UI" actors: object [
    on-time: func [f e] [n: n + 1 if n = 3 [unview/only f]]
]]
note ["closed after" n]
print "END"
"""
    def body(p):
        p.wait_text("END")
        check(log_lines(p) == ["closed after 3"], "log: %r" % log_lines(p))
    run(script, body)


def case_resize():
    script = INPUT_WINDOW + """
win/actors: make win/actors [
    on-resize: func [f e] [note ['resize system/view/screens/1/size]]
]
view win
"""
    def body(p):
        marker_row(p)
        p.tmux("resize-window", "-t", "t", "-x", "70", "-y", "20")
        wait_log(p, "resize 70x20")
        p.text("q")
    run(script, body)


def case_resize_click():
    """The terminal moves an inline area as it changes size (rows brought
    back from its history above it, or pushed into it): clicks still hit
    what is drawn."""
    script = """
repeat i 60 [print ["line" i]]
n: 0
win: layout [
    size 40x5 t: text 38 "MARK-UI" return
    b: button "Click" [n: n + 1 t/text: rejoin ["clicked " n]]
]
win/actors: object [
    on-resize: func [f e] [t/text: form system/view/screens/1/size]
    on-key: func [f e] [if e/key = #"q" [unview]]
]
view win
"""
    def body(p):
        marker_row(p)
        for n, (width, height) in enumerate(((100, 40), (100, 14), (90, 30)), 1):
            p.tmux("resize-window", "-t", "t", "-x", str(width), "-y", str(height))
            # Drawn after the report was asked for: the report comes first.
            marker_row(p, "%dx%d" % (width, height))
            y = next(i for i, r in enumerate(p.rows()) if "Click" in r)
            x = p.rows()[y].index("Click")
            mouse(p, 0, x + 1, y)
            mouse(p, 0, x + 1, y, release=True)
            p.wait_text("clicked %d" % n)
        p.text("q")
    run(script, body, width=100, height=20)


def case_nested():
    script = INPUT_WINDOW + """
win/actors: make win/actors [
    on-key: func [f e] [
        note ['key mold e/key]
        if e/key = #"n" [
            view make face! [type: 'window size: 12x1 pane: reduce [
                make face! [type: 'base size: 10x1 text: "MARK-TWO"]
            ] actors: object [
                on-key: func [f e] [note ['inner mold e/key] if e/key = #"x" [unview]]
            ]]
            note ['back]
        ]
        if e/key = #"s" [do-events note ['nested 'out]]
        if e/key = #"e" [stop-events]
        if e/key = #"q" [unview]
    ]
]
view win
print "END"
"""
    def body(p):
        marker_row(p)
        p.text("n")
        wait_log(p, "key #\"n\"")
        p.wait_text("MARK-TWO")
        p.text("y")
        wait_log(p, "inner #\"y\"")
        p.text("x")
        wait_log(p, "back")
        # exit-event-loop ends only the innermost loop.
        p.text("s")
        wait_log(p, "key #\"s\"")
        p.text("e")
        wait_log(p, "nested out")
        p.text("q")
        p.wait_text("END")
    run(script, body)


def case_ctrl_c():
    def body(p):
        marker_row(p)
        p.keys("C-c")
        p.wait_text("AFTER")
    run(INPUT_WINDOW + "view win\nprint \"AFTER\"\n", body)


def case_ctrl_c_wait():
    """Ctrl-C ends a `wait` at once: in an actor it stops the actor and ends
    its run; with a view/no-wait window and no run it ends the process, as
    it does without a window. Each wait is longer than the case may take."""
    def in_actor(p):
        marker_row(p)
        p.keys("Enter")
        wait_log(p, "waiting")
        p.keys("C-c")
        p.wait_text("AFTER")
        check(log_lines(p) == ["waiting"], "log: %r" % log_lines(p))
    run("view [button \"MARK-UI\" [note ['waiting] wait 100 note ['after]]]\n"
        "print \"AFTER\"\n", in_actor)

    def no_run(p):
        marker_row(p)
        wait_log(p, "waiting")
        p.keys("C-c")
    run("view/no-wait [text \"MARK-UI\"]\nnote ['waiting]\nwait 100\nprint \"AFTER\"\n",
        no_run, status=130)


def case_ctrl_c_actor():
    """Ctrl-C stops an actor that runs for ever: it ends the innermost run,
    whose windows close with it, and the outer run goes on."""
    script = INPUT_WINDOW + """
win/actors: make win/actors [
    on-key: func [f e] [
        note ['key mold e/key]
        if e/key = #"l" [note ['looping] until [false]]
        if e/key = #"n" [
            view make face! [type: 'window size: 12x1 pane: reduce [
                make face! [type: 'base size: 10x1 text: "MARK-TWO"]
            ] actors: object [
                on-key: func [f e] [if e/key = #"l" [note ['inner 'looping] loop 1 [forever []]]]
            ]]
            note ['back length? system/view/screens/1/pane]
        ]
    ]
]
view win
print ["END" length? system/view/screens/1/pane]
"""
    def body(p):
        marker_row(p)
        p.text("n")
        p.wait_text("MARK-TWO")
        p.text("l")
        wait_log(p, "inner looping")
        p.keys("C-c")
        wait_log(p, "back 1")
        p.text("a")
        wait_log(p, "key #\"a\"")
        p.text("l")
        wait_log(p, "looping")
        p.keys("C-c")
        p.wait_text("END 0")
    run(script, body)


def case_last_state():
    """A window that closes leaves its area showing its last state: what
    changed just before `unview` is drawn before the terminal is given
    back, whoever closes it."""
    cases = [
        # A timer's actor, in a run of the loop.
        ('view [text "MARK-UI" return p: progress 22 0% rate 20 on-time [\n'
         '    p/data: p/data + 25% if p/data >= 100% [unview]]]', None, "[####################]"),
        # A key's actor.
        ('view [t: text 20 "MARK-UI" f: field 5 on-key [t/text: "closed by a key" unview]]',
         "x", "closed by a key"),
        # The script, with a view/no-wait window shown.
        ('view/no-wait [t: text 20 "MARK-UI"]\nwait 0.1\nt/text: "closed by the script"\nunview',
         None, "closed by the script"),
    ]
    for script, key, last in cases:
        def body(p):
            # A window that closes by itself may be gone before any capture
            # sees it; only a window waiting for a key must be seen first.
            if key:
                marker_row(p)
                p.text(key)
            p.wait_text("exit=0")
            check(any(last in r for r in p.rows()), "%r not shown:\n%s" % (last, "\n".join(p.rows())))
        run(script + "\n", body)

    # A print just before the window closed erased it: it is not drawn again.
    def printed(p):
        marker_row(p)
        p.keys("Enter")
        p.wait_text("exit=0")
        rows = [r.strip() for r in p.rows() if r.strip()]
        check("printed" in rows and not any("MARK-UI" in r for r in rows[rows.index("printed"):]),
              "the window drawn again after the print: %r" % rows)
    run('view [text "MARK-UI" button "Go" [print "printed" unview]]\n', printed)


def case_second_window():
    """A window shown after another starts below what was printed after the
    first: the first one's cursor row does not survive its end."""
    script = """
print "before"
view [below text "one" text "two" button "OK" [unview]]
print "line after first window"
view [button "OK2" [unview]]
print "end"
"""
    def body(p):
        p.wait_text("OK")
        p.keys("Enter")
        p.wait_text("OK2")
        p.keys("Enter")
        p.wait_text("end")
        text = [r.strip() for r in p.rows() if r.strip()]
        at = [text.index(line) if line in text else -1
              for line in ("before", "line after first window", "end")]
        check(-1 not in at and at == sorted(at), "lines lost or out of order: %r" % text)
    run(script, body, width=100, height=30)


def case_scrollback():
    """Repaints of an area on the terminal's top row leave the scrollback
    as it was: each row is erased as a line, never the screen from its
    home position, which tmux copies into its history."""
    script = """
b: make face! [type: 'base offset: 0x0 size: 10x1 text: "MARK-UI"]
win: make face! [type: 'window size: 20x3 pane: reduce [b] actors: object [
    on-key: func [f e] [either e/key = #"q" [unview] [b/text: rejoin ["K" e/key]]]
]]
view win
"""
    def history(p):
        return int(p.tmux("display-message", "-p", "-t", "t", "#{history_size}").strip())

    def body(p):
        check(marker_row(p) == 0, "the area is not on the top row")
        before = history(p)
        for key in "abcdef":
            p.text(key)
            p.wait_row(0, "K" + key)
        check(history(p) == before, "scrollback grew from %d to %d lines" % (before, history(p)))
        p.text("q")
    run(script, body)


def case_print_fullscreen():
    """Text printed while a fullscreen window is shown (an actor's error)
    is whole on the normal screen once the window is gone."""
    script = """
view/flags [button "boom" [1 / 0]] 'fullscreen
print "END"
"""
    def body(p):
        p.wait_text("boom")
        p.keys("Enter")
        time.sleep(0.5)  # the error prints
        p.keys("Escape")
        p.wait_text("END")
        text = "\n".join(p.rows())
        check("Math Error" in text and "divide by zero" in text and "Stack: try-do" in text,
              "the error is not whole:\n" + text)
    run(script, body)


def case_no_wait():
    """A window shown by view/no-wait is drawn, and the passes that `wait`
    runs keep it up to date and take its keys; printing goes above it; the
    terminal comes back once it is closed, and the script goes on."""
    script = """
view/no-wait [t: text 20 "shown" f: field 10]
repeat i 30 [
    ; the pass runs actors: what `wait` answers stays none
    unless none? w: wait 0.1 [note ['wait-gave mold :w]]
    t/text: rejoin ["count " i]
]
print "printed while shown"
repeat i 10 [wait 0.1 t/text: rejoin ["again " i]]
unview
note ['typed f/text]
print "END"
repeat i 5 [wait 0.05]
"""
    def body(p):
        p.wait_text("count ", timeout=20)
        p.text("abc")
        p.wait_text("abc")
        p.wait_text("again 10")
        p.wait_text("END")
        rows = [r.strip() for r in p.rows() if r.strip()]
        at = [next((i for i, r in enumerate(rows) if line in r), -1)
              for line in ("printed while shown", "again 10", "END")]
        check(-1 not in at and at == sorted(at), "lines lost or out of order: %r" % rows)
        check(not any("count" in r for r in rows), "the area was not erased by the print: %r" % rows)
        wait_log(p, "typed abc")
        check(log_lines(p) == ["typed abc"], "log: %r" % log_lines(p))
    run(script, body)


def case_no_wait_exit():
    """A script that ends with a view/no-wait window shown gives the
    terminal back whole: no cursor report reaches the shell as text."""
    script = """
view/no-wait [text "MARK-UI"]
wait 0.2
print "END"
"""
    def body(p):
        p.wait_text("exit=0")
        text = "\n".join(p.rows())
        check("\x1b" not in text and "R" not in text.replace("END", ""), "leaked:\n" + text)
    run(script, body)


def case_restore_error():
    def body(p):
        marker_row(p)
        p.text("!")
        p.wait_text("from an actor")  # printed, and the loop goes on
        p.text("q")
        p.wait_text("END")
    run(INPUT_WINDOW + "view win\nprint \"END\"\n", body)


def case_restore_quit():
    def body(p):
        marker_row(p)
        p.text("Q")
    run(INPUT_WINDOW + "view win\n", body, status=3)


def case_restore_fullscreen():
    script = FULLSCREEN_WINDOW + "view win\n"
    def body(p):
        marker_row(p)
        check(p.tmux("display-message", "-p", "-t", "t", "#{alternate_on}").strip() == "1",
              "not on the alternate screen")
        p.text("q")
    run(script, body)


FULLSCREEN_WINDOW = INPUT_WINDOW.replace("size: 20x3 pane", "size: 20x3 flags: [fullscreen] pane")


def signal_case(sig, fullscreen=False):
    """Sends sig to zuv while its window is shown; answers the pane."""
    window = FULLSCREEN_WINDOW if fullscreen else INPUT_WINDOW
    pane = zuv_pane(window + "view win\n", note_pid=True)
    marker_row(pane)
    pane.wait(lambda: pane.file("pid.txt"), "the pid")
    os.kill(int(pane.file("pid.txt")), sig)
    return pane


def case_restore_sigterm():
    pane = signal_case(15)
    try:
        expect_restored(pane, 143)
    finally:
        pane.close()


def case_restore_sigint():
    pane = signal_case(2)
    try:
        expect_restored(pane, 130)
    finally:
        pane.close()


def case_restore_signals():
    """Every signal that ends the process finds the terminal given back
    first, inline and fullscreen, and then ends it itself: the shell sees
    128 and its number."""
    signals = [signal.SIGQUIT, signal.SIGABRT, signal.SIGUSR1, signal.SIGUSR2, signal.SIGALRM,
               signal.SIGHUP, signal.SIGTRAP, signal.SIGXCPU, signal.SIGPROF, signal.SIGSYS,
               signal.SIGRTMIN + 2, signal.SIGRTMAX]
    for n, sig in enumerate(signals):
        pane = signal_case(sig, fullscreen=n % 2 == 1)
        try:
            expect_restored(pane, 128 + sig)
        except Failure as f:
            raise Failure("signal %d: %s" % (sig, f))
        finally:
            pane.close()


def case_restore_runtime_error():
    # A fault ends the program with its runtime error, the terminal first
    # given back, inline and fullscreen.
    faults = [signal.SIGSEGV, signal.SIGBUS, signal.SIGFPE, signal.SIGILL]
    for n, sig in enumerate(faults):
        pane = signal_case(sig, fullscreen=n % 2 == 1)
        try:
            pane.wait_text("Runtime Error")
            pane.wait_text("exit=")
            row = next(r for r in pane.rows() if "exit=" in r)
            status = int(row.split("exit=")[1].split()[0])
            check(status not in (0, 128 + sig), "signal %d: exit status %d" % (sig, status))
            expect_restored(pane, status)
        finally:
            pane.close()


def case_stop_and_continue():
    """SIGTSTP gives the shell its terminal back; after `fg` the UI is back,
    repainted and answering keys. Run from an interactive bash, whose jobs
    can stop."""
    bash = shutil.which("bash")
    if bash is None:
        raise Failure("bash is not installed")
    pane = Pane("%s --norc --noprofile -i" % shell_quote(bash))
    try:
        with open(os.path.join(pane.dir, "t.zuv"), "w") as f:
            f.write(PRELUDE + INPUT_WINDOW + "view win\n")
        run_zuv = "echo $$ > pid.txt; TERM=xterm-256color HOME=\"$PWD\" exec %s t.zuv" % \
            shell_quote(ZUV)
        # A stopped job ends the command line it is on: each is typed alone.
        pane.text("cd %s; unset COLORTERM; stty -g > before.txt" % shell_quote(pane.dir))
        pane.keys("Enter")
        pane.text("sh -c %s" % shell_quote(run_zuv))
        pane.keys("Enter")
        marker_row(pane)
        pane.wait(lambda: pane.file("pid.txt"), "the pid")
        os.kill(int(pane.file("pid.txt")), signal.SIGTSTP)
        pane.wait_text("Stopped")
        check(mode_flags(pane) == "0000001", "modes left on while stopped: %s" % mode_flags(pane))
        pane.text("fg")
        pane.keys("Enter")
        pane.wait(lambda: mode_flags(pane)[3] == "1", "SGR mouse reporting on again")
        pane.text("a")
        wait_log(pane, "key #\"a\" false")
        pane.text("q")
        pane.wait(lambda: mode_flags(pane) == "0000001", "the UI's end")
        pane.text("echo \"exit=$?\"; stty -g > after.txt")
        pane.keys("Enter")
        expect_restored(pane, 0)
    finally:
        pane.close()


def case_piped_input():
    """Input that is no terminal: timers only, nothing written."""
    script = PRELUDE + """
n: 0
view make face! [type: 'window size: 10x1 rate: 20 text: "MARK-UI" actors: object [
    on-time: func [f e] [n: n + 1 if n = 3 [unview/only f]]
]]
print ["END" n]
"""
    folder = os.path.dirname(os.path.abspath(ZUV))
    path = os.path.join(folder, "tui-piped-%d.zuv" % os.getpid())
    with open(path, "w") as f:
        f.write(script)
    master, slave = pty.openpty()
    try:
        env = dict(os.environ, TERM="xterm-256color")
        env.pop("COLORTERM", None)
        proc = subprocess.Popen([ZUV, path], stdin=subprocess.PIPE, stdout=slave, stderr=slave,
                                cwd=folder, env=env)
        os.close(slave)
        proc.stdin.write(b"\n")
        proc.stdin.close()
        out = b""
        end = time.time() + 20
        while time.time() < end:
            r, _, _ = select.select([master], [], [], 0.2)
            if r:
                try:
                    chunk = os.read(master, 4096)
                except OSError:
                    break
                if not chunk:
                    break
                out += chunk
            elif proc.poll() is not None:
                break
        status = proc.wait(timeout=10)
        check(status == 0, "exit status %d; output %r" % (status, out))
        check(b"END 3" in out, "output %r" % out)
        # The console names its terminal's window; the UI writes nothing.
        out = out.replace(b"\x1b]0;Zuv Console\x07", b"")
        check(b"\x1b" not in out, "escape sequences written: %r" % out)
    finally:
        os.close(master)
        for name in (path, os.path.join(folder, "log.txt")):
            if os.path.exists(name):
                os.unlink(name)


def main(cases, without_tmux=()):
    """Runs the case named by the second argument, a function case_NAME of
    cases, on the zuv given first; answers the exit status."""
    global ZUV
    ZUV = os.path.abspath(sys.argv[1])
    case = sys.argv[2]
    if case not in without_tmux and shutil.which("tmux") is None:
        print("tmux is not installed")
        return 1 if os.environ.get("CI") == "true" else 77
    try:
        cases["case_" + case]()
    except Failure as f:
        print("FAIL:", f)
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main(globals(), without_tmux=("piped_input",)))
