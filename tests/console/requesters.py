#!/usr/bin/env python3
"""The dialogs in a terminal: alert, the file, folder and colour requesters.

    requesters.py ZUV CASE

Each case writes a script into a private tmux server's folder, runs zuv on
it in an 80x24 pane and drives it with keys, reading the screen and what
the script prints once its dialog has closed.
Exit status 0 passes, 1 fails, 77 skips (no tmux; under CI=true a missing tmux fails).
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from line_editor import Failure, Pane, check, run_case, shell_quote  # noqa: E402

ZUV = None


def run_script(source):
    """zuv on the script; the pane notes its exit status and stays open."""
    pane = Pane("exec sleep 600")
    with open(os.path.join(pane.dir, "case.zuv"), "w") as f:
        f.write("Zuv []\n" + source)
    pane.keys("C-c")
    pane.tmux("respawn-pane", "-k", "-t", "t", "sh", "-c",
              "%s case.zuv; echo \"exit=$?\"; exec sleep 600" % shell_quote(ZUV))
    return pane


def box_around(pane, text):
    """The rows of the window frame holding text: its first row is inside the terminal."""
    rows = pane.rows()
    for y, row in enumerate(rows):
        if text in row:
            return y, row.index(text)
    raise Failure("%r not on the screen:\n%s" % (text, "\n".join(rows)))


def ended(pane, *lines):
    pane.wait_text("exit=0")
    for line in lines:
        check(any(line == r.rstrip() for r in pane.rows()),
              "%r not printed; screen:\n%s" % (line, "\n".join(pane.rows())))


def with_script(source, body):
    pane = run_script(source)
    try:
        body(pane)
    finally:
        pane.close()


# --- alert --------------------------------------------------------------------------------

ALERT_FROM_WINDOW = """
count: 0
view [
	title "Main"
	button "Alert" focus [count: count + 1 alert "Hi" t/text: rejoin ["Alerts " count]]
	t: text 20 "No alert"
]
print ["closed after" count "alerts"]
"""


def alert_shown(pane):
    pane.wait_text("Hi")
    pane.wait_text("OK")
    y, x = box_around(pane, "OK")
    check(0 <= x < 80 and 0 <= y < 24, "OK button off the terminal")


def case_alert():
    def body(p):
        p.wait_text("Alert")
        # Space, Enter and Escape each close the alert; the main window
        # answers the next key.
        for n, key in enumerate(("Space", "Enter", "Escape"), 1):
            p.keys("Space")
            alert_shown(p)
            p.keys(key)
            p.wait_text("Alerts %d" % n)
            check(not any("Message" in r for r in p.rows()), "alert still shown after %s" % key)
        p.keys("Escape")
        ended(p, "closed after 3 alerts")
    with_script(ALERT_FROM_WINDOW, body)


# A message of wide characters is as wide as its columns: one row, whole.
def case_alert_wide():
    source = 'alert "中文字中文字中文字中文字" print "closed"'
    def body(p):
        p.wait_text("OK")
        check(any("中文字中文字中文字中文字" in r for r in p.rows()), "message cut")
        p.keys("Enter")
        ended(p, "closed")
    with_script(source, body)


# --- file and folder requesters -----------------------------------------------------------

# The results are printed once all dialogs are closed: an inline dialog is
# drawn over the rows printed before it.
FILES = """
write %a.txt ""
create-dir %sub/
write %sub/inner.txt ""
print ["picked" mold request-file]
"""


def case_request_file():
    def body(p):
        p.wait_text("Please choose a file:")
        p.wait_text(" Folders ")
        p.wait_text("sub/")
        p.wait_text("a.txt")
        check(any(r.rstrip().endswith("Open      Cancel") for r in p.rows()), "buttons off the screen")
        # The folder list has the focus: into sub/ and back by "../".
        p.keys("Down", "Enter")
        p.wait_text(p.dir + "/sub/")
        p.wait_text("inner.txt")
        check(not any("a.txt" in r for r in p.rows()), "a.txt listed in sub/")
        p.keys("Up", "Enter")
        p.wait_text("a.txt")
        # Right to the file list, a.txt into the field, then Tab to Open.
        p.keys("Right", "Enter")
        p.wait_text("Selected:  a.txt")
        p.keys("Tab", "Tab", "Enter")
        ended(p, "picked %" + p.dir + "/a.txt")
    with_script(FILES, body)


# A name wider than the file list keeps one row, cut at the list's edge:
# a click on the row of a name picks that name.
LONG_NAME = """
write %a-long-file-name-that-runs-well-past-the-list-edge.txt ""
write %b.txt ""
write %c.txt ""
print ["picked" mold request-file]
"""


def case_request_file_long():
    def body(p):
        p.wait_text("Please choose a file:")
        p.wait_text("c.txt")
        y, x = box_around(p, "b.txt")
        click(p, x + 1, y)
        p.keys("Enter")
        p.wait_text("Selected:  ")
        p.wait(lambda: any("Selected:" in r and ".txt" in r for r in p.rows()), "a name picked")
        p.keys("Tab", "Tab", "Enter")
        ended(p, "picked %" + p.dir + "/b.txt")
    with_script(LONG_NAME, body)


def case_request_file_none():
    # Open with an empty field, then Cancel.
    source = 'print ["picked" mold request-file/title "First" "and" mold request-file/title "Second"]'
    def body(p):
        p.wait_text("First")
        p.keys("Tab", "Tab", "Tab", "Enter")
        p.wait_text("Second")
        p.keys("Tab", "Tab", "Tab", "Tab", "Enter")
        ended(p, "picked none and none")
    with_script(source, body)


FOLDERS = """
create-dir %sub/
print ["picked" mold request-dir "and" mold request-dir/title/dir "Root" %/]
"""


def case_request_dir():
    def body(p):
        p.wait_text("sub/")
        p.keys("Down", "Enter")
        p.wait_text("Selected:  " + p.dir + "/sub/")
        p.keys("Tab", "Tab", "Enter")
        # From the root, "../" stays there.
        p.wait_text("Root")
        p.keys("Enter")
        p.wait_text("Selected:  /")
        p.keys("Tab", "Tab", "Enter")
        ended(p, "picked %" + p.dir + "/sub/ and %/")
    with_script(FOLDERS, body)


# Typed names: an absolute one stands alone, another is taken inside the
# folder shown; Enter in the "Selected:" field accepts as the button does.
TYPED = """
create-dir %sub/
print ["picked" mold request-file "and" mold request-dir]
"""


def case_request_typed():
    def body(p):
        p.wait_text("Please choose a file:")
        p.wait_text("sub/")
        p.keys("Tab", "Tab")
        p.text("/x/y.txt")
        p.wait_text("Selected:  /x/y.txt")
        p.keys("Enter")
        # The folder dialog has no file list.
        p.wait(lambda: not any(" Files " in r for r in p.rows()) and
               any(" Folders " in r for r in p.rows()), "the folder dialog")
        p.keys("Tab")
        p.text("sub")
        p.wait_text("Selected:  sub")
        p.keys("Enter")
        ended(p, "picked %/x/y.txt and %" + p.dir + "/sub/")
    with_script(TYPED, body)


# --- colour requester ---------------------------------------------------------------------

# Each dialog starts from another colour, so that the test knows when the
# next one is up.
COLOURS = """
results: collect [
	foreach colour [0.0.255 0.255.0 255.0.0 10.20.30 255.255.255] [keep request-color/color colour]
]
print ["picked" mold results]
c: context? first find body-of :request-color 'dialog!
print ["recent" mold c/recent]
"""


def case_request_color():
    def body(p):
        def shown(hex):
            p.wait_text(hex)

        shown("#0000FF")
        for channel, value in (("H", 240), ("S", 100), ("V", 100), ("R", 0), ("G", 0), ("B", 255), ("A", 0)):
            check(any((" %s " % channel) in r and r.rstrip(" │").endswith(" " + str(value))
                      for r in p.rows()), "%s not at %d:\n%s" % (channel, value, "\n".join(p.rows())))
        check(any("blue" in r for r in p.rows()), "the colour's name not shown")
        # After the canvas: seven bars, the swatches, two entries, OK, Cancel.
        p.keys(*["Tab"] * 11 + ["Enter"])
        shown("#00FF00")
        p.keys("Left", "Enter")
        shown("#FF0000")
        p.keys("Escape")
        shown("#0A141E")
        p.keys(*["Tab"] * 12 + ["Enter"])
        # A hex code typed into its entry; leaving the entry takes it.
        shown("#FFFFFF")
        p.keys(*["Tab"] * 10 + ["BSpace"] * 7)
        p.text("#00FF00")
        p.keys("Tab")
        p.wait_text("green")
        p.keys("Enter")
        ended(p, "picked [0.0.255 8.255.8 none none 0.255.0]", "recent [0.255.0 8.255.8 0.0.255]")
    with_script(COLOURS, body)


def mouse(pane, button, x, y, release=False):
    """An SGR mouse report at the 0-based cell x, y."""
    pane.text("\x1b[<%d;%d;%d%s" % (button, x + 1, y + 1, "m" if release else "M"))


def click(pane, x, y):
    mouse(pane, 0, x, y)
    mouse(pane, 0, x, y, release=True)


def case_request_color_pointer():
    # The dialog's box starts at 1x1; the canvas at 2x2, the preview at
    # 35x2 and the hue bar at 38x4 on the screen.
    source = 'print ["picked" mold request-color/color 0.0.255]'
    def body(p):
        p.wait_text("#0000FF")
        click(p, 2, 2)
        p.wait_text("#FFFFFF")
        click(p, 33, 9)
        p.wait_text("#000000")
        # Back to the original colour, then the hue bar pressed and dragged.
        click(p, 36, 2)
        p.wait_text("#0000FF")
        mouse(p, 0, 59, 4)
        p.wait_text("#FF0085")
        mouse(p, 32, 39, 4)
        p.wait_text("#FF4300")
        mouse(p, 0, 39, 4, release=True)
        p.keys("Enter")
        ended(p, "picked 255.67.0")
    with_script(source, body)


def main():
    global ZUV
    ZUV = os.path.abspath(sys.argv[1])
    return run_case(globals()["case_" + sys.argv[2]])


if __name__ == "__main__":
    sys.exit(main())
