#!/usr/bin/env python3
"""PIL and ImageMagick as the oracles of the image codecs.

Usage: image_oracle.py ZUV [MAGICK_DIR]

Fixtures are made here: by PIL, by ImageMagick (what PIL does not write:
interlaced and 16-bit PNG, 4-bit BMP, tiled, 16-bit and planar TIFF) and by hand (BMP with
RLE4, RLE8, top-down rows and odd bit fields). Zuv decodes each and prints
the size and the raw pixels (B, G, R, opacity); they must equal PIL's RGBA
(JPEG within a small tolerance), or, for the hand-packed files, the pixels
the packer meant. Garbage, truncated and forged input must raise bad-media
through the binary decoder and cannot-open through a file.

The other way, Zuv encodes an image with varied colours and transparency to
each format: PIL must read the same pixels back (GIF: an exact palette with
one transparent index; JPEG: RMSE from ImageMagick's compare within a bound),
identify must accept every file, and a zero-size image must not encode.
"""

import io
import os
import re
import struct
import subprocess
import sys
import tempfile

from PIL import Image

from zuv_driver import fail, run

# ImageMagick by absolute path: a wrapper earlier on PATH is not the oracle.
MAGICK_DIR = sys.argv[2] if len(sys.argv) > 2 else "/usr/bin"
IDENTIFY = os.path.join(MAGICK_DIR, "identify")
COMPARE = os.path.join(MAGICK_DIR, "compare")
CONVERT = os.path.join(MAGICK_DIR, "convert")
W, H = 13, 7
JPEG_TOLERANCE = 6  # mean absolute difference per channel, decoding


def varied(mode, w=W, h=H):
    """An image whose every pixel differs, with transparency where the mode has it."""
    im = Image.new("RGBA", (w, h))
    im.putdata([((x * 37 + y * 11) % 256, (y * 53 + 7) % 256, (x * y * 29 + 3) % 256,
                 (255 if (x + y) % 4 else (x * 40) % 256)) for y in range(h) for x in range(w)])
    return im if mode == "RGBA" else im.convert(mode)


def faint():
    """RGBA whose alpha takes every low value: premultiplied colour loses most there."""
    im = Image.new("RGBA", (W, H))
    im.putdata([((x * 37 + y * 11) % 256, (y * 53 + 7) % 256, (x * y * 29 + 3) % 256, (x * 16 + y * 3) % 256)
                for y in range(H) for x in range(W)])
    return im


def saved(im, fmt, **options):
    out = io.BytesIO()
    im.save(out, fmt, **options)
    return out.getvalue()


def magick(data, *args, out_fmt):
    with tempfile.TemporaryDirectory() as d:
        src = os.path.join(d, "in.png")
        dst = os.path.join(d, "out")
        with open(src, "wb") as f:
            f.write(data)
        subprocess.run([CONVERT, src, *args, out_fmt + ":" + dst], check=True)
        with open(dst, "rb") as f:
            return f.read()


def pil_rgba(data):
    im = Image.open(io.BytesIO(data))
    im.seek(0)
    return im.size, im.convert("RGBA").tobytes()


def bgra_of(rgba):
    out = bytearray(rgba)
    out[0::4], out[2::4] = rgba[2::4], rgba[0::4]
    return bytes(out)


# --- hand-packed BMP files ---------------------------------------------------------------------

def bmp_file(width, height, bits, compression, pixels, palette=b"", masks=b"", header_size=40):
    """A BMP of the given pixel bytes; a negative height is top-down."""
    dib = struct.pack("<IiiHHIIiiII", header_size, width, height, 1, bits, compression, len(pixels), 2835, 2835,
                      len(palette) // 4, 0)
    dib += masks if header_size > 40 else b""
    dib = dib.ljust(header_size, b"\0")
    extra = masks if header_size == 40 else b""
    offset = 14 + len(dib) + len(extra) + len(palette)
    head = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return head + dib + extra + palette + pixels


PALETTE = [(0, 0, 0), (255, 0, 0), (0, 255, 0), (0, 0, 255), (200, 100, 50)] + [(i, i, i) for i in range(5, 16)]


def palette_bytes(n):
    return b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE[:n])


def expect(rows, w):
    """BGRA bytes of rows of palette indexes (top row first)."""
    return b"".join(bytes((PALETTE[i][2], PALETTE[i][1], PALETTE[i][0], 255)) for row in rows for i in row)


def hand_made():
    cases = []
    rows = [[1, 2, 3, 4], [0, 1, 0, 1], [4, 3, 2, 1]]
    # RLE8: a run, an absolute run, then the line ends; bottom-up rows.
    rle8 = b""
    for row in reversed(rows):
        rle8 += bytes((1, row[0])) + bytes((0, 3)) + bytes(row[1:]) + b"\0" + b"\0\0"
    rle8 += b"\0\1"
    cases.append(("rle8.bmp", bmp_file(4, 3, 8, 1, rle8, palette_bytes(5)), ((4, 3), expect(rows, 4))))
    # RLE4: a run of one nibble, then an absolute run of three.
    rle4 = b""
    for row in reversed(rows):
        rle4 += bytes((1, row[0] << 4)) + bytes((0, 3, row[1] << 4 | row[2], row[3] << 4)) + b"\0\0"
    rle4 += b"\0\1"
    cases.append(("rle4.bmp", bmp_file(4, 3, 4, 2, rle4, palette_bytes(16)), ((4, 3), expect(rows, 4))))
    # Top-down 24-bit rows (negative height), each row padded to 4 bytes.
    px = [[(10, 20, 30), (40, 50, 60)], [(70, 80, 90), (100, 110, 120)]]
    data = b"".join(b"".join(bytes((b, g, r)) for r, g, b in row) + b"\0\0" for row in px)
    want = b"".join(bytes((b, g, r, 255)) for row in px for r, g, b in row)
    cases.append(("topdown.bmp", bmp_file(2, -2, 24, 0, data), ((2, 2), want)))
    # 16-bit 5-6-5 bit fields in a version-3 header; 32-bit odd fields with alpha.
    values = [0xF800, 0x07E0, 0x001F, 0xFFFF]
    data = struct.pack("<4H", *values)
    want = bytes((0, 0, 255, 255, 0, 255, 0, 255, 255, 0, 0, 255, 255, 255, 255, 255))
    cases.append(("bits565.bmp", bmp_file(4, 1, 16, 3, data, masks=struct.pack("<3I", 0xF800, 0x07E0, 0x1F)),
                  ((4, 1), want)))
    # 10 bits of red at the top, 2 of alpha at the bottom, as a version-4 header holds them.
    masks = struct.pack("<4I", 0xFFC00000, 0x003FF000, 0x00000FFC, 0x00000003)
    value = (1023 << 22) | (0 << 12) | (511 << 2) | 2
    data = struct.pack("<I", value)
    want = bytes((511 * 255 // 1023, 0, 255, 2 * 255 // 3))
    cases.append(("odd32.bmp", bmp_file(1, 1, 32, 3, data, masks=masks, header_size=108), ((1, 1), want)))
    # 32-bit without masks: the fourth byte is not alpha.
    cases.append(("rgb32.bmp", bmp_file(1, 1, 32, 0, bytes((1, 2, 3, 0))), ((1, 1), bytes((1, 2, 3, 255)))))
    return cases


# --- fixtures ----------------------------------------------------------------------------------

def decodable():
    rgba = varied("RGBA")
    png_rgba = saved(rgba, "PNG")
    png_faint = saved(faint(), "PNG")
    p = varied("RGB").quantize(16)
    p_trns = p.copy()
    p_trns.info["transparency"] = 3
    cases = {
        "rgb.png": saved(varied("RGB"), "PNG"),
        "rgba.png": png_rgba,
        "grey.png": saved(varied("L"), "PNG"),
        "greyalpha.png": saved(varied("LA"), "PNG"),
        "palette-trns.png": saved(p_trns, "PNG"),
        "bits1.png": saved(varied("1"), "PNG"),
        "bits4.png": saved(p, "PNG", bits=4),
        "interlaced.png": magick(png_rgba, "-interlace", "PNG", out_fmt="PNG"),
        "rgb16.png": magick(saved(varied("RGB"), "PNG"), "-depth", "16", out_fmt="PNG48"),
        "baseline.jpg": saved(varied("RGB"), "JPEG", quality=95),
        "progressive.jpg": saved(varied("RGB"), "JPEG", quality=95, progressive=True),
        "grey.jpg": saved(varied("L"), "JPEG", quality=95),
        "cmyk.jpg": saved(varied("RGB").convert("CMYK"), "JPEG", quality=95),
        "bits1.bmp": saved(varied("1"), "BMP"),
        "bits4.bmp": magick(saved(p, "PNG"), "-type", "Palette", "-colors", "16", "-compress", "None",
                            out_fmt="BMP3"),
        "bits8.bmp": saved(varied("RGB").quantize(200), "BMP"),
        "rgb24.bmp": saved(varied("RGB"), "BMP"),
        "rgba32.bmp": magick(png_rgba, out_fmt="BMP"),
        "transparent.gif": saved(p_trns, "GIF", transparency=3, interlace=False),
        "interlaced.gif": saved(p, "GIF", interlace=True),
        "animated.gif": saved(p, "GIF", save_all=True, append_images=[varied("RGB").rotate(90).quantize(8)],
                              duration=100),
        "rgb.tif": saved(varied("RGB"), "TIFF"),
        "rgba-lzw.tif": saved(rgba, "TIFF", compression="tiff_lzw"),
        "grey.tif": saved(varied("L"), "TIFF"),
        "tiled.tif": magick(png_rgba, "-define", "tiff:tile-geometry=16x16", "-alpha", "associate",
                            out_fmt="TIFF"),
        "palette.tif": saved(p, "TIFF"),
        # Straight alpha that only the library's RGBA reader took: tiles,
        # 16-bit samples (any value, not only multiples of 257), one plane a
        # sample; the colour of nearly transparent pixels must stay exact.
        "tiled-straight.tif": magick(png_faint, "-define", "tiff:tile-geometry=8x8", out_fmt="TIFF"),
        "rgba16.tif": magick(png_faint, "-depth", "16", out_fmt="TIFF"),
        "noise16.tif": magick(png_faint, "-depth", "16", "-attenuate", "0.5", "+noise", "Uniform",
                              out_fmt="TIFF"),
        "planar.tif": magick(png_faint, "-interlace", "plane", out_fmt="TIFF"),
        "planar16-tiled.tif": magick(png_faint, "-interlace", "plane", "-depth", "16", "-define",
                                     "tiff:tile-geometry=16x16", out_fmt="TIFF"),
        "rgb16-planar.tif": magick(saved(varied("RGB"), "PNG"), "-interlace", "plane", "-depth", "16",
                                   out_fmt="TIFF"),
    }
    return cases


def forged():
    png = saved(varied("RGB"), "PNG")
    # IHDR of 100000 x 100000, its CRC made right so only the size is wrong.
    import zlib
    ihdr = b"IHDR" + struct.pack(">IIBBBBB", 100000, 100000, 8, 2, 0, 0, 0)
    huge = png[:12] + ihdr + struct.pack(">I", zlib.crc32(ihdr)) + png[33:]
    bmp = bytearray(saved(varied("RGB"), "BMP"))
    struct.pack_into("<I", bmp, 10, len(bmp) + 1000)
    wide_bmp = bytearray(saved(varied("RGB"), "BMP"))
    struct.pack_into("<i", wide_bmp, 18, 0x7FFFFFFF)
    gif = saved(varied("P"), "GIF")
    tall_gif = bytearray(gif)
    tall_gif[8:10] = b"\xff\xff"
    return {
        "garbage.png": b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 3,
        "garbage.jpg": b"\xff\xd8\xff" + b"\x13" * 500,
        "garbage.gif": b"GIF89a" + b"\x01" * 100,
        "garbage.tif": b"II*\0" + b"\xff" * 100,
        "garbage.bmp": b"BM" + b"\xff" * 100,
        "unknown.png": b"not an image at all",
        "huge.png": huge,
        "offset.bmp": bytes(bmp),
        "wide.bmp": bytes(wide_bmp),
        "truncated.png": png[:len(png) // 2],
        "truncated.jpg": saved(varied("RGB"), "JPEG")[:300],
        "truncated.gif": gif[:len(gif) // 2],
        "truncated.tif": saved(varied("RGB"), "TIFF")[:100],
        "truncated.bmp": saved(varied("RGB"), "BMP")[:80],
        "gif88a.gif": b"GIF88a" + gif[6:],
    }


def decode_script(names, bad):
    lines = ['Zuv []']
    for n in names:
        lines.append('r: try [load %%%s] print ["%s" either error? r [r/id] [rejoin [r/size " " enbase/base r/argb 16]]]'
                     % (n, n))
    for n in bad:
        lines.append('r: try [load/as read/binary %%%s \'png] print ["%s" either error? r [r/id] ["decoded"]]' % (n, n))
        lines.append('r: try [load %%%s] print ["%s-file" either error? r [r/id] ["decoded"]]' % (n, n))
    return "\n".join(lines) + "\n"


def check_decoding(zuv):
    good = decodable()
    hand = {name: (data, want) for name, data, want in hand_made()}
    bad = forged()
    files = dict(good)
    files.update({name: data for name, (data, _) in hand.items()})
    files.update(bad)
    out = run(zuv, decode_script(list(good) + list(hand), list(bad)), files).decode()
    results = dict(line.split(" ", 1) for line in out.splitlines())
    for name, data in good.items():
        size, rgba = pil_rgba(data)
        got = results.get(name, "missing")
        m = re.fullmatch(r"(\d+)x(\d+) ([0-9A-F]*)", got)
        if not m:
            fail("%s: %s" % (name, got))
        if (int(m.group(1)), int(m.group(2))) != size:
            fail("%s: size %sx%s, PIL %s" % (name, m.group(1), m.group(2), size))
        mine = bytes.fromhex(m.group(3))
        want = bgra_of(rgba)
        if name.endswith(".jpg"):
            diff = sum(abs(a - b) for a, b in zip(mine, want)) / len(want)
            if diff > JPEG_TOLERANCE:
                fail("%s: mean difference %.2f from PIL" % (name, diff))
        elif mine != want:
            at = next(i for i in range(len(want)) if mine[i] != want[i])
            fail("%s: pixel %d differs: %s, PIL %s" % (name, at // 4, mine[at // 4 * 4:at // 4 * 4 + 4].hex(),
                                                      want[at // 4 * 4:at // 4 * 4 + 4].hex()))
    for name, (_, (size, want)) in hand.items():
        got = results.get(name, "missing")
        if got != "%dx%d %s" % (size[0], size[1], want.hex().upper()):
            fail("%s: %s, packed %dx%d %s" % (name, got, size[0], size[1], want.hex().upper()))
    for name in bad:
        if results.get(name) != "bad-media":
            fail("%s through the binary decoder: %s" % (name, results.get(name)))
        if results.get(name + "-file") != "cannot-open":
            fail("%s through a file: %s" % (name, results.get(name + "-file")))
    return len(good) + len(hand) + len(bad)


def rmse(a, b):
    done = subprocess.run([COMPARE, "-metric", "RMSE", a, b, "null:"], capture_output=True)
    return float(re.search(rb"\(([0-9.e-]+)\)", done.stderr).group(1))


ENCODE_SCRIPT = """Zuv []
img: make image! [%dx%d #{%s} #{%s}]
foreach fmt [png bmp tiff gif jpeg] [
    print [fmt enbase/base save/as none img fmt 16]
]
few: make image! [%dx%d #{%s} #{%s}]
print ["gif255" enbase/base save/as none few 'gif 16]
print ["gif256" enbase/base save/as none make image! [16x16 #{%s}] 'gif 16]
print ["gif-many" enbase/base save/as none make image! [64x64 #{%s}] 'gif 16]
save %%t.png img
print ["round-trip" (load %%t.png) = img]
print ["empty" either error? r: try [save/as none make image! 0x3 'png] [r/id] ["encoded"]]
"""


def check_encoding(zuv):
    rgba = varied("RGBA")
    rgb = rgba.convert("RGB").tobytes()
    alpha = bytes(255 - a for a in rgba.tobytes()[3::4])
    # 255 colours and a transparent pixel: the GIF palette stays exact.
    few = Image.new("RGBA", (16, 16))
    few.putdata([((i * 7) % 256, i, 255 - i, 0 if i == 255 else 255) for i in range(256)])
    few_rgb = few.convert("RGB").tobytes()
    few_alpha = bytes(255 - a for a in few.tobytes()[3::4])
    # 256 opaque colours: exact too, with no index spared for transparency.
    full = bytes(c for i in range(256) for c in (i, 255 - i, (i * 3) % 256))
    many = bytes((x * 4 + y) % 256 for y in range(64) for x in range(64) for _ in range(3))
    out = run(zuv, ENCODE_SCRIPT % (W, H, rgb.hex(), alpha.hex(), 16, 16, few_rgb.hex(), few_alpha.hex(),
                                    full.hex(), many.hex())).decode()
    results = dict(line.split(" ", 1) for line in out.splitlines())
    want = rgba.tobytes()
    with tempfile.TemporaryDirectory() as d:
        for fmt in ["png", "bmp", "tiff", "gif", "jpeg", "gif255", "gif256", "gif-many"]:
            data = bytes.fromhex(results[fmt])
            path = os.path.join(d, "x." + re.sub(r"[-0-9].*", "", fmt))
            with open(path, "wb") as f:
                f.write(data)
            done = subprocess.run([IDENTIFY, path], capture_output=True)
            if done.returncode != 0:
                fail("identify refuses the %s: %s" % (fmt, done.stderr.decode()))
            im = Image.open(path)
            got = im.convert("RGBA").tobytes()
            if fmt in ("png", "bmp", "tiff"):
                if got != want:
                    fail("%s: PIL reads other pixels" % fmt)
            elif fmt == "gif":
                # Pixels under half opacity become the transparent index.
                for i in range(0, len(want), 4):
                    if want[i + 3] < 128:
                        ok = got[i + 3] == 0
                    else:
                        ok = got[i:i + 3] == want[i:i + 3] and got[i + 3] == 255
                    if not ok:
                        fail("gif: pixel %d is %s, written %s" % (i // 4, got[i:i + 4].hex(), want[i:i + 4].hex()))
            elif fmt == "gif256":
                if im.convert("RGB").tobytes() != full:
                    fail("gif256: 256 colours did not keep their values")
            elif fmt == "gif255":
                fw = few.tobytes()
                for i in range(0, len(fw), 4):
                    exp = (0,) if fw[i + 3] == 0 else tuple(fw[i:i + 3]) + (255,)
                    if (fw[i + 3] == 0 and got[i + 3] != 0) or (fw[i + 3] and tuple(got[i:i + 4]) != exp):
                        fail("gif255: pixel %d is %s" % (i // 4, got[i:i + 4].hex()))
            elif fmt == "gif-many":
                # Through the colour cube: every channel within half a step.
                g = im.convert("RGB").tobytes()
                worst = max(abs(a - b) for a, b in zip(g, many))
                if worst > 26:
                    fail("gif-many: a channel is %d away" % worst)
            elif fmt == "jpeg":
                # The colours vary from pixel to pixel, which no JPEG keeps
                # well: the bound is PIL's own error at the same quality.
                ref = os.path.join(d, "ref.png")
                pil = os.path.join(d, "pil.jpg")
                rgba.convert("RGB").save(ref)
                rgba.convert("RGB").save(pil, quality=90)
                mine, theirs = rmse(path, ref), rmse(pil, ref)
                if mine > theirs * 1.25 + 0.01:
                    fail("jpeg: RMSE %.4f, PIL's %.4f" % (mine, theirs))
    if results["round-trip"] != "true":
        fail("save then load of a PNG changed the image")
    if results["empty"] != "bad-media":
        fail("encoding a zero-size image: %s" % results["empty"])


def main():
    if len(sys.argv) < 2:
        fail("usage: image_oracle.py ZUV")
    n = check_decoding(sys.argv[1])
    check_encoding(sys.argv[1])
    print("ok: %d files decoded, 5 formats encoded" % n)


if __name__ == "__main__":
    main()
