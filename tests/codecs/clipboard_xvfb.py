#!/usr/bin/env python3
"""The clipboard against a real X display and xclip.

    clipboard_xvfb.py ZUV PYTHON

Under xvfb-run: a clipboard nobody owns reads as none, an empty text as
"", an emptied clipboard as none; text that Zuv writes is read by `xclip
-selection clipboard -o`; text and a PNG that `xclip -i` places are read by
Zuv, the image's pixels equal to PIL's decode of the same file (PYTHON is a
Python with PIL).
"""
import os
import shutil
import subprocess
import sys
import tempfile

# xclip -i returns before its background copy has told the X server that it
# owns the selection, so on a loaded machine a reader that starts at once can
# find no owner yet. Each step waits until the selection is offered (at most
# five seconds) before the next program reads it.
SHELL = r"""
set -e
offered() {
    for i in $(seq 50); do
        xclip -selection clipboard -t TARGETS -o 2>/dev/null | grep -qx "$1" && return 0
        sleep 0.1
    done
    return 1
}
"$ZUV" read-text.zuv > fresh.out
"$ZUV" write-empty.zuv
offered UTF8_STRING
"$ZUV" read-text.zuv > empty-text.out
"$ZUV" write-none.zuv
offered application/x-zuv-empty
"$ZUV" read-text.zuv > emptied.out
"$ZUV" write.zuv
offered UTF8_STRING || offered STRING
xclip -selection clipboard -o > from-zuv.txt
printf 'from xclip\nline two' | xclip -selection clipboard -i
offered UTF8_STRING || offered STRING
"$ZUV" read-text.zuv > text.out
xclip -selection clipboard -t image/png -i picture.png
offered image/png
"$ZUV" read-image.zuv > image.out
"""

WRITE = 'Zuv []\nprint write-clipboard "written by zuv^/second line"\n'
WRITE_EMPTY = 'Zuv []\nprint write-clipboard ""\n'
WRITE_NONE = 'Zuv []\nprint write-clipboard none\n'
READ_TEXT = "Zuv []\nprint mold read-clipboard\n"
READ_IMAGE = """Zuv []
img: read-clipboard
print type? img
print img/size
write %rgb.bin img/rgb
write %alpha.bin img/alpha
"""

PICTURE = """
import sys
from PIL import Image
img = Image.new("RGBA", (5, 3))
img.putdata([(x * 50, y * 100, (x + y) * 30, 255 - x * 40) for y in range(3) for x in range(5)])
img.save(sys.argv[1])
decoded = Image.open(sys.argv[1]).convert("RGBA").tobytes()
open(sys.argv[2], "wb").write(decoded)
"""


def fail(why):
    print("FAIL:", why)
    sys.exit(1)


def main():
    zuv, python = os.path.abspath(sys.argv[1]), sys.argv[2]
    for tool in ("xvfb-run", "xclip"):
        if shutil.which(tool) is None:
            fail("%s is not installed (the Makefile's packages install it)" % tool)
    work = tempfile.mkdtemp(prefix="zuv-clipboard-")
    try:
        for name, text in (("write.zuv", WRITE), ("write-empty.zuv", WRITE_EMPTY), ("write-none.zuv", WRITE_NONE),
                           ("read-text.zuv", READ_TEXT), ("read-image.zuv", READ_IMAGE)):
            with open(os.path.join(work, name), "w") as f:
                f.write(text)
        subprocess.run([python, "-c", PICTURE, "picture.png", "pil.rgba"], cwd=work, check=True)
        env = dict(os.environ, ZUV=zuv, HOME=work)
        env.pop("WAYLAND_DISPLAY", None)
        done = subprocess.run(["xvfb-run", "-a", "sh", "-c", SHELL], cwd=work, env=env,
                              capture_output=True, timeout=60)
        if done.returncode != 0:
            fail("the session failed: %r %r" % (done.stdout[-500:], done.stderr[-500:]))

        def read(name, mode="r"):
            with open(os.path.join(work, name), mode) as f:
                return f.read()

        # A clipboard nobody owns is empty, not a failure; an empty text is
        # a text; an emptied clipboard is empty.
        for name, want in (("fresh.out", "none\n"), ("empty-text.out", '""\n'), ("emptied.out", "none\n")):
            if read(name) != want:
                fail("%s: zuv read %r" % (name, read(name)))
        if read("from-zuv.txt") != "written by zuv\nsecond line":
            fail("xclip read %r" % read("from-zuv.txt"))
        if read("text.out") != '"from xclip^/line two"\n':
            fail("zuv read %r" % read("text.out"))
        if read("image.out") != "image\n5x3\n":
            fail("zuv read the image as %r" % read("image.out"))
        rgba = read("pil.rgba", "rb")
        rgb = bytes(b for i, b in enumerate(rgba) if i % 4 != 3)
        alpha = bytes(255 - a for a in rgba[3::4])  # Zuv keeps transparency, PIL opacity
        if read("rgb.bin", "rb") != rgb or read("alpha.bin", "rb") != alpha:
            fail("the image's pixels differ from PIL's decode")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("ok")


if __name__ == "__main__":
    main()
