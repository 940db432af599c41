#!/usr/bin/env python3
"""Writes seed inputs for image_fuzz into the folder given.

Each seed is one selector byte (the signature the target puts first; 5:
none, the file as it is) followed by a small image file made by PIL, one
per format and a few variants (palette, transparency, interlace,
progressive). The images are the same on every run.
"""
import io
import os
import sys

from PIL import Image

NONE = 5


def images():
    im = Image.new("RGBA", (9, 6))
    im.putdata([((x * 29) % 256, (y * 41) % 256, (x * y * 7) % 256, 255 if (x + y) % 3 else 90)
                for y in range(6) for x in range(9)])
    rgb = im.convert("RGB")
    pal = rgb.quantize(8)
    out = []
    for img, fmt, options in [(im, "PNG", {}), (pal, "PNG", {"transparency": 2}), (im.convert("LA"), "PNG", {}),
                              (rgb, "JPEG", {}), (rgb, "JPEG", {"progressive": True}), (rgb, "BMP", {}),
                              (pal, "BMP", {}), (pal, "GIF", {"transparency": 1}), (pal, "GIF", {"interlace": True}),
                              (im, "TIFF", {"compression": "tiff_lzw"}), (rgb, "TIFF", {})]:
        data = io.BytesIO()
        img.save(data, fmt, **options)
        out.append(data.getvalue())
    return out


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for i, data in enumerate(images()):
        with open(os.path.join(folder, "seed-%02d" % i), "wb") as f:
            f.write(bytes([NONE]) + data)


if __name__ == "__main__":
    main()
