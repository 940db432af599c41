#!/usr/bin/env python3
"""The Draw dialect and rich text in a terminal.

    tui_draw.py ZUV CASE

Each case shows a VID window in a private tmux server (TERM=xterm-256color,
COLORTERM unset) and reads the cells with their colours from the pane;
`q` closes the window, and the terminal must be as it was.
Exit status 0 passes, 1 fails, 77 skips (no tmux; under CI=true a missing tmux fails).
"""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tui_loop  # noqa: E402
from line_editor import check  # noqa: E402

SGR = re.compile(r"\x1b\[([0-9;]*)m")


def cells(line):
    """The cells of a captured row: (character, foreground, background), the
    colours as 256-colour indexes, None for the default."""
    out, fg, bg, at = [], None, None, 0
    for m in SGR.finditer(line + "\x1b[m"):
        out.extend((ch, fg, bg) for ch in line[at:m.start()])
        at = m.end()
        params = [int(p) if p else 0 for p in m.group(1).split(";")]
        i = 0
        while i < len(params):
            p = params[i]
            if p == 0:
                fg = bg = None
            elif p in (38, 48) and i + 2 < len(params) and params[i + 1] == 5:
                if p == 38:
                    fg = params[i + 2]
                else:
                    bg = params[i + 2]
                i += 2
            elif p == 39:
                fg = None
            elif p == 49:
                bg = None
            i += 1
    return out


def coloured_rows(pane):
    return [cells(r) for r in pane.tmux("capture-pane", "-e", "-p", "-t", "t").split("\n")]


# A base drawn with a red frame and, inside it, a box filled with blue;
# a text above it marks the window's place.
DRAW_WINDOW = """
win: layout [
    below
    text "MARK-UI"
    base 20x5 draw [pen 255.0.0 box 0x0 19x4 fill-pen 0.0.255 box 2x1 5x3]
]
win/actors: object [on-key: func [f e] [if e/key = #"q" [unview]]]
view win
"""


def case_base_draw():
    def body(p):
        mark = tui_loop.marker_row(p)
        p.wait(lambda: any("┌" in r for r in p.rows()[mark:]), "the frame")
        top = next(y for y, r in enumerate(p.rows()) if y > mark and "┌" in r)
        rows = coloured_rows(p)
        left = [c for c, _, _ in rows[top]].index("┌")
        frame = "".join(c for c, _, _ in rows[top][left:left + 20])
        check(frame == "┌" + "─" * 18 + "┐", "top edge %r" % frame)
        bottom = "".join(c for c, _, _ in rows[top + 4][left:left + 20])
        check(bottom == "└" + "─" * 18 + "┘", "bottom edge %r" % bottom)
        for y in range(top, top + 5):
            for x in (left, left + 19):
                check(rows[y][x][1] == 196, "frame colour at %d,%d: %r" % (x, y, rows[y][x]))
        # The inner box: columns 2-5, rows 1-3 of the base, filled with 21.
        for y in range(top + 1, top + 4):
            for x in range(left + 2, left + 6):
                check(rows[y][x][2] == 21, "fill at %d,%d: %r" % (x, y, rows[y][x]))
        check(rows[top + 2][left + 1][2] != 21, "fill outside the inner box")
        inner = "".join(c for c, _, _ in rows[top + 1][left + 2:left + 6])
        check(inner == "┌──┐", "inner box %r" % inner)
        p.text("q")
    tui_loop.run(DRAW_WINDOW, body)


def case_marks_and_text():
    """Combining marks show with their base characters (a text, a field,
    a text list); Draw's text keeps the face's background."""
    script = """
win: layout [
    below
    text "MARK-UI"
    text "cafe^(0301)"
    field 12 "nai^(0308)ve"
    text-list 12x2 data ["re^(0301)sume^(0301)" "x"]
    base 12x2 0.0.255 draw [pen 255.255.0 text 1x0 "hi there"]
]
win/actors: object [on-key: func [f e] [if e/key = #"q" [unview]]]
view win
"""
    def body(p):
        tui_loop.marker_row(p)
        for word in ("cafe\u0301", "nai\u0308ve", "re\u0301sume\u0301"):
            p.wait(lambda: any(word in r for r in p.rows()), repr(word))
        p.wait_text("hi there")
        rows = coloured_rows(p)
        y = next(i for i, r in enumerate(p.rows()) if "hi there" in r)
        x = p.rows()[y].index("hi there")
        for cell in rows[y][x:x + 8]:
            check(cell[1] == 226 and cell[2] == 21, "Draw text cell %r" % (cell,))
        p.text("q")
    tui_loop.run(script, body)


def case_draw_error():
    """A face's bad Draw block, found as the face is drawn, is reported
    where it stands (the command missing its argument), as the face's
    `draw` block's error, with the functions running; then the window goes
    on without it."""
    script = """
win: layout [
    below
    text "MARK-UI"
    base 20x2 draw [pen 255.0.0 line 0x0]
]
win/actors: object [on-key: func [f e] [if e/key = #"q" [unview]]]
view win
print "END"
"""
    def body(p):
        tui_loop.marker_row(p)
        p.wait_text("*** Stack:")
        rows = [r.rstrip() for r in p.rows()]
        for line in ("*** Script Error: DRAW - invalid input at: [line 0x0]", "*** Where: draw",
                     "*** Near : pen 255.0.0 line 0x0"):
            check(line in rows, "%r not shown:\n%s" % (line, "\n".join(rows)))
        stack = next((r for r in rows if r.startswith("*** Stack:")), "")
        check("view" in stack.split(), "the stack: %r" % stack)
        p.text("q")
        p.wait_text("END")
    tui_loop.run(script, body)


# Zero-width characters, each text as wide as its columns. Where a terminal
# may draw a sequence otherwise (one emoji for a joined family, a wide heart
# for U+2764 U+FE0F), the row is checked by where it ends.
ZERO_WIDTH = [
    ("a^(200D)b^(200D)cd", 4, "abcd"),
    ("w^(200B)x^(FEFF)y^(200E)z^(2060)", 4, "wxyz"),
    ("^(0915)^(094D)^(200C)^(0937)", 2, None),
    ("^(1F468)^(200D)^(1F469)^(200D)^(1F467)", 6, None),
    ("^(1F3F4)^(E0067)^(E0062)^(E0065)^(E006E)^(E0067)^(E007F)", 2, None),
    ("^(2764)^(FE0F)", 1, None),
]
INVISIBLE = dict.fromkeys(map(ord, "\u200b\u200c\u200d\u200e\u2060\ufeff"))


def case_zero_width():
    """Zero-width characters (joiners, zero-width spaces, direction marks,
    variation selectors, tags) take no column: a text shows all of its
    characters, and what follows it on the row stays in its place. Each
    text is shown in a window of one row, a marker after it."""
    cases = " ".join('"%s" %d' % (text, width) for text, width, _ in ZERO_WIDTH)
    script = """
n: 0
foreach [t w] [%s] [
    n: n + 1
    view make face! [type: 'window size: as-pair w + 4 1 pane: reduce [
        make face! [type: 'text offset: 0x0 size: as-pair w 1 text: t]
        make face! [type: 'text offset: as-pair w + 1 0 size: 3x1 text: rejoin ["|" n "|"]]
    ] actors: object [on-key: func [f e] [unview]]]
]
""" % cases

    def body(p):
        for n, (text, width, shown) in enumerate(ZERO_WIDTH, 1):
            marker = "|%d|" % n
            y = tui_loop.marker_row(p, marker)
            # The row ends where the grid has it: the cursor after its last cell.
            p.wait_cursor((width + 4, y))
            row = p.rows()[y].translate(INVISIBLE)
            if shown:
                check(row.startswith(shown + " " + marker), "row %r for %s" % (row, text))
            p.text("q")
    tui_loop.run(script, body)


if __name__ == "__main__":
    sys.exit(tui_loop.main(globals()))
