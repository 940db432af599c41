#!/usr/bin/env python3
"""A VID window in a terminal, run by the standard event functions.

    gui_window.py ZUV window

One fullscreen window made by `layout`: a button, a field, a text list, a
check, a radio pair, a loose base and a status text that every actor
writes to; the actors also note what they saw in log.txt. Keys and SGR
mouse reports go in through tmux; Tab, Enter, Escape, radio groups and
dragging are the work of the event functions in system/view/handlers.
Exit status 0 passes, 1 fails, 77 skips (no tmux; under CI=true a missing tmux fails).
"""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tui_loop  # noqa: E402
from line_editor import Failure, check  # noqa: E402
from tui_loop import log_lines, mouse, run, wait_log  # noqa: E402

SCRIPT = """
changes: 0
say: func [items] [status/text: form reduce items note items]
view/flags [
    below
    button "Go" [say ["click Go"]] on-focus [note ["focus Go"]]
    field 10 [say ["enter" face/text] note ["data" mold face/data]] on-focus [note ["focus field"]]
    text-list 10x5 data ["alpha" "beta" "gamma"] [say ["select" pick face/data face/selected]]
        on-focus [note ["focus list"]]
    check "Yes" [say ["check" face/data]] on-focus [note ["focus check"]]
    across
    radio "One" [changes: changes + 1 say ["radio One" face/data changes]]
    radio "Two" [changes: changes + 1 say ["radio Two" face/data changes]]
    return
    button "Open" [view [text "MARK-DIALOG" button "Shut"] say ["dialog closed"]]
        on-focus [note ["focus Open"]]
    return
    base 4x2 "DRAG" loose on-drag [
        note ["drag" to integer! face/offset/x to integer! face/offset/y
            face/options/bounds/max/x face/options/bounds/max/y]
    ]
    return
    status: text 30x1 "MARK-UI"
] [fullscreen]
note ["all closed"]
"""


def find_text(pane, text):
    """The cell (x, y) where text starts on the screen."""
    pane.wait_text(text)
    for y, row in enumerate(pane.rows()):
        if text in row:
            return row.index(text), y
    raise Failure("%r is not on the screen" % text)


def click(pane, x, y):
    mouse(pane, 0, x, y)
    mouse(pane, 0, x, y, release=True)


def focus_cycle(p):
    # The window gives the focus to its first focusable face.
    for key, face in (("Tab", "field"), ("Tab", "list"), ("Tab", "check"), ("BTab", "list"),
                      ("BTab", "field"), ("BTab", "Go"), ("BTab", "Open"), ("Tab", "Go")):
        before = len(log_lines(p))
        p.keys(key)
        p.wait(lambda: log_lines(p)[before:] == ["focus " + face],
               "%s to focus %s (log: %r)" % (key, face, log_lines(p)[before:]))


def field_and_keys(p):
    p.keys("Tab")
    wait_log(p, "focus field")
    p.text("42")
    p.keys("Enter")
    wait_log(p, "enter 42")
    wait_log(p, "data 42")
    p.wait_text("enter 42")
    p.keys("Tab")
    wait_log(p, "focus list")
    p.keys("Down")
    wait_log(p, "select beta")
    p.keys("Tab")
    wait_log(p, "focus check")
    p.keys("Space")
    wait_log(p, "check true")


def clicks(p):
    x, y = find_text(p, "Go")
    click(p, x, y)
    wait_log(p, "click Go")
    x, y = find_text(p, "gamma")
    click(p, x, y)
    wait_log(p, "select gamma")
    # The list is five rows high; its fifth row holds no item.
    before = log_lines(p)
    click(p, x, y + 2)
    x, y = find_text(p, "One")
    click(p, x, y)
    wait_log(p, "radio One true 1")
    check(log_lines(p)[len(before):] == ["radio One true 1"],
          "a click below the items or a second change: %r" % log_lines(p)[len(before):])


def drag(p, x, y, dx, steps):
    """Presses at (x, y) and moves dx a step, one step a frame, as a hand
    moves: the pointer stays on the base while the base follows it."""
    mouse(p, 0, x, y)
    for step in range(1, steps + 1):
        mouse(p, 32, x + dx * step, y)
        time.sleep(0.04)
    mouse(p, 0, x + dx * steps, y, release=True)


def dragging(p):
    x, y = find_text(p, "DRAG")
    drag(p, x, y, 1, 90)
    x, y = find_text(p, "DRAG")
    drag(p, x + 3, y, -1, 90)  # from the base's last column
    p.wait(lambda: any(l.startswith("drag 0 ") for l in log_lines(p)), "a drag to the left edge")
    drags = [[int(n) for n in l.split()[1:]] for l in log_lines(p) if l.startswith("drag")]
    for ox, oy, mx, my in drags:
        check(0 <= ox <= mx and 0 <= oy <= my, "dragged out of its bounds: %r" % drags)
    check(any(ox == mx for ox, _, mx, _ in drags), "the base never reached its right edge: %r" % drags)


def dialog(p):
    x, y = find_text(p, "Open")
    click(p, x, y)
    find_text(p, "MARK-DIALOG")
    p.keys("Escape")
    wait_log(p, "dialog closed")
    p.wait_text("dialog closed")
    check("all closed" not in log_lines(p), "the main window closed with the dialog")


def case_window():
    def body(p):
        find_text(p, "MARK-UI")
        focus_cycle(p)
        field_and_keys(p)
        clicks(p)
        dragging(p)
        dialog(p)
        p.keys("Escape")
        wait_log(p, "all closed")
    run(SCRIPT, body)


if __name__ == "__main__":
    sys.exit(tui_loop.main(globals()))
