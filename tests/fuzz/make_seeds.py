#!/usr/bin/python3
"""Writes the fuzzers' seed corpus into the folder given: small JPEG, BMP
(1/4/8/16/24/32-bit, RLE, top-down) and GIF (interlaced, animated,
transparent, one-colour) files, and truncated and bit-flipped variants."""

import io
import os
import random
import struct
import sys

from PIL import Image


def picture(w, h, mode="RGB"):
    img = Image.new("RGB", (w, h))
    img.putdata([((x * 37) % 256, (y * 53) % 256, ((x ^ y) * 11) % 256)
                 for y in range(h) for x in range(w)])
    return img.convert(mode) if mode != "RGB" else img


def saved(img, fmt, **kw):
    out = io.BytesIO()
    img.save(out, fmt, **kw)
    return out.getvalue()


def bmp(w, h, bits, rows, palette=b"", compression=0, top_down=False):
    """A BMP from raw row data (already padded), any depth."""
    header_size = 40
    offset = 14 + header_size + len(palette)
    info = struct.pack("<IiiHHIIiiII", header_size, w, -h if top_down else h, 1, bits,
                       compression, len(rows), 2835, 2835, len(palette) // 4, 0)
    return b"BM" + struct.pack("<IHHI", offset + len(rows), 0, 0, offset) + info + palette + rows


def rows_of(w, h, bits, value):
    stride = ((w * bits + 31) // 32) * 4
    return bytes((value(y, i) & 255) for y in range(h) for i in range(stride))


def main(folder):
    os.makedirs(folder, exist_ok=True)
    seeds = {}
    img = picture(23, 17)
    seeds["photo.jpg"] = saved(img, "JPEG", quality=80)
    seeds["progressive.jpg"] = saved(img, "JPEG", quality=60, progressive=True)
    seeds["gray.jpg"] = saved(img.convert("L"), "JPEG")
    seeds["1bit.bmp"] = saved(img.convert("1"), "BMP")
    seeds["8bit.bmp"] = saved(img.convert("P"), "BMP")
    seeds["24bit.bmp"] = saved(img, "BMP")
    seeds["32bit.bmp"] = saved(img.convert("RGBA"), "BMP")
    pal16 = b"".join(struct.pack("<BBBB", i * 16, 255 - i * 16, i * 8, 0) for i in range(16))
    seeds["4bit.bmp"] = bmp(13, 7, 4, rows_of(13, 7, 4, lambda y, i: y * 16 + i), pal16)
    seeds["16bit.bmp"] = bmp(9, 5, 16, rows_of(9, 5, 16, lambda y, i: y * 31 + i * 7))
    seeds["topdown.bmp"] = bmp(8, 4, 24, rows_of(8, 4, 24, lambda y, i: y * 40 + i), top_down=True)
    pal256 = b"".join(struct.pack("<BBBB", i, i, 255 - i, 0) for i in range(256))
    rle = bytes([4, 1, 3, 2, 0, 0, 2, 7, 5, 9, 0, 0, 0, 1])  # runs, end of line, end of picture
    seeds["rle8.bmp"] = bmp(6, 2, 8, rle, pal256, compression=1)
    seeds["interlaced.gif"] = saved(img.convert("P"), "GIF", interlace=True)
    frames = [picture(12, 9).convert("P"), picture(12, 9).rotate(90).convert("P")]
    seeds["animated.gif"] = saved(frames[0], "GIF", save_all=True, append_images=frames[1:],
                                  duration=50, loop=0)
    seeds["transparent.gif"] = saved(img.convert("P"), "GIF", transparency=0)
    one = Image.new("P", (5, 5), 0)
    one.putpalette([200, 30, 30])
    seeds["onecolour.gif"] = saved(one, "GIF")
    seeds["small.png"] = saved(img, "PNG")

    rng = random.Random(7)
    for name, data in list(seeds.items()):
        seeds["cut-" + name] = data[: max(1, len(data) * 2 // 3)]
        flipped = bytearray(data)
        for _ in range(3):
            i = rng.randrange(len(flipped))
            flipped[i] ^= 1 << rng.randrange(8)
        seeds["flip-" + name] = bytes(flipped)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
