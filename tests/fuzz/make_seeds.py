#!/usr/bin/python3
"""Writes the fuzzers' seed corpus into the folder given: small JPEG, BMP
(1/4/8/16/24/32-bit, RLE, top-down) and GIF (interlaced, animated,
transparent, one-colour) files; WebP, TIFF (8 and 16 bits) and PNG; JPEG and
PNG with colour profiles (iCCP, gAMA and cHRM, a CMYK JPEG with a press
profile) and with Exif and XMP; the HEIC, AVIF and JPEG XL files kept in
seeds/ beside this script (made with libheif and libjxl, turned 90 degrees);
and truncated and bit-flipped variants of all."""

import io
import os
import random
import struct
import sys
import zlib

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


def png_chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data +
            struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def with_chunks(png, chunks):
    """Chunks right after the header chunk, where colour chunks belong."""
    return png[:33] + chunks + png[33:]


def profile(name):
    try:
        with open("/usr/share/color/icc/ghostscript/" + name, "rb") as f:
            return f.read()
    except OSError:
        return None


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
    seeds["lossy.webp"] = saved(img, "WEBP", quality=50)
    seeds["lossless.webp"] = saved(img.convert("RGBA"), "WEBP", lossless=True)
    seeds["small.tif"] = saved(img, "TIFF")
    seeds["16bit.tif"] = saved(img.convert("L").convert("I").convert("I;16"), "TIFF")
    rgb_profile = profile("a98.icc")
    if rgb_profile:
        seeds["profile.jpg"] = saved(img, "JPEG", icc_profile=rgb_profile)
        seeds["profile.png"] = saved(img, "PNG", icc_profile=rgb_profile)
    cmyk_profile = profile("default_cmyk.icc")
    seeds["cmyk.jpg"] = saved(img.convert("CMYK"), "JPEG", icc_profile=cmyk_profile or b"")
    chrm = struct.pack(">8I", 31270, 32900, 64000, 33000, 21000, 71000, 15000, 6000)
    seeds["gamma-chrm.png"] = with_chunks(saved(img, "PNG"), png_chunk(b"gAMA", struct.pack(">I", 55556)) +
                                          png_chunk(b"cHRM", chrm))
    seeds["srgb.png"] = with_chunks(saved(img, "PNG"), png_chunk(b"sRGB", b"\0"))
    exif = Image.Exif()
    exif[0x0112] = 6  # turned
    exif[0x010F] = "Hollowphone"
    exif.get_ifd(0x8825)[1] = "N"  # a latitude
    xmp = (b'<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf='
           b'"http://www.w3.org/1999/02/22-rdf-syntax-ns#"><rdf:Description '
           b'xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:creator><rdf:Seq><rdf:li>A'
           b'</rdf:li></rdf:Seq></dc:creator></rdf:Description></rdf:RDF></x:xmpmeta>')
    tagged = saved(img, "JPEG", exif=exif.tobytes())
    app1 = b"http://ns.adobe.com/xap/1.0/\0" + xmp
    seeds["tagged.jpg"] = tagged[:2] + b"\xFF\xE1" + struct.pack(">H", len(app1) + 2) + app1 + tagged[2:]
    kept = os.path.join(os.path.dirname(os.path.abspath(__file__)), "seeds")
    for name in sorted(os.listdir(kept)):
        with open(os.path.join(kept, name), "rb") as f:
            seeds[name] = f.read()

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
