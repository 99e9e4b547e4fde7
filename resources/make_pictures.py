#!/usr/bin/python3
"""Draws the program's pictures: the toolbar buttons, the start-up logo, the
program icon and the hand pointer. Run it from anywhere; it writes next to
itself. Needs Pillow (Debian: python3-pil)."""

import os
import struct

from PIL import Image, ImageDraw

HERE = os.path.dirname(os.path.abspath(__file__))

# A 3x5 pixel font, enough for the words the pictures carry.
GLYPHS = {
    "A": ["010", "101", "111", "101", "101"],
    "B": ["110", "101", "110", "101", "110"],
    "C": ["011", "100", "100", "100", "011"],
    "E": ["111", "100", "110", "100", "111"],
    "I": ["111", "010", "010", "010", "111"],
    "M": ["101", "111", "111", "101", "101"],
    "N": ["101", "111", "111", "111", "101"],
    "O": ["010", "101", "101", "101", "010"],
    "P": ["110", "101", "110", "100", "100"],
    "Q": ["010", "101", "101", "111", "011"],
    "S": ["011", "100", "010", "001", "110"],
    "T": ["111", "010", "010", "010", "010"],
    "U": ["101", "101", "101", "101", "111"],
    "V": ["101", "101", "101", "101", "010"],
    "Y": ["101", "101", "010", "010", "010"],
}

TRANSPARENT = (0, 0, 0, 0)
BLACK = (0, 0, 0, 255)
WHITE = (255, 255, 255, 255)


def text(draw, x, y, word, colour, scale=1, gap=1):
    for ch in word:
        for row, bits in enumerate(GLYPHS[ch]):
            for col, bit in enumerate(bits):
                if bit == "1":
                    draw.rectangle(
                        [x + col * scale, y + row * scale,
                         x + col * scale + scale - 1, y + row * scale + scale - 1],
                        fill=colour)
        x += 3 * scale + gap
    return x


def text_width(word, scale=1, gap=1):
    return len(word) * (3 * scale + gap) - gap


def mascot(draw, box, skin, outline=(70, 40, 20, 255)):
    """A round mascot face with eyes, cheeks and a smile inside box."""
    x0, y0, x1, y1 = box
    draw.ellipse(box, fill=skin, outline=outline)
    w, h = x1 - x0, y1 - y0
    # hair tuft
    draw.polygon([(x0 + w // 2 - 3, y0 + 1), (x0 + w // 2, y0 - 2), (x0 + w // 2 + 3, y0 + 1)],
                 fill=outline)
    ey = y0 + h * 2 // 5
    for ex in (x0 + w * 3 // 10, x0 + w * 7 // 10):
        draw.rectangle([ex - 1, ey - 1, ex, ey + 1], fill=BLACK)
        draw.point((ex, ey - 1), fill=WHITE)
    cy = y0 + h * 3 // 5
    for cx in (x0 + w // 6, x0 + w * 5 // 6 - 1):
        draw.rectangle([cx, cy, cx + 1, cy], fill=(255, 110, 130, 255))
    draw.arc([x0 + w // 3, y0 + h // 2, x1 - w // 3, y1 - h // 6], 20, 160, fill=(150, 20, 20, 255))


def banner(draw, word, colour):
    draw.rectangle([1, 0, 30, 8], fill=colour, outline=BLACK)
    w = text_width(word)
    text(draw, 16 - (w + 1) // 2, 2, word, WHITE)


def button(word, banner_colour, skin):
    img = Image.new("RGBA", (32, 32), TRANSPARENT)
    d = ImageDraw.Draw(img)
    mascot(d, (5, 11, 26, 31), skin)
    banner(d, word, banner_colour)
    return img


def browser_page(light):
    img = Image.new("RGBA", (32, 32), TRANSPARENT)
    d = ImageDraw.Draw(img)
    paper = (250, 250, 255, 255) if not light else (252, 252, 255, 255)
    page = [(5, 1), (21, 1), (27, 7), (27, 30), (5, 30)]
    d.polygon(page, fill=paper, outline=None if light else BLACK)
    d.polygon([(21, 1), (21, 7), (27, 7)], fill=(215, 215, 225, 255) if not light else (235, 235, 242, 255),
              outline=None if light else BLACK)
    blue = (30, 90, 210, 255) if not light else (150, 185, 240, 255)
    # the letter e emblem: a ring with a bar and an opening at the lower right
    d.ellipse([8, 11, 22, 25], outline=blue, width=3)
    d.rectangle([10, 17, 21, 19], fill=blue)
    d.polygon([(17, 21), (23, 21), (23, 25), (17, 25)], fill=paper)
    # the swoosh around it
    d.arc([5, 12, 25, 24], 200, 340, fill=blue, width=1)
    if not light:
        red = (220, 20, 20, 255)
        d.rectangle([24, 13, 26, 22], fill=red, outline=BLACK)
        d.rectangle([24, 25, 26, 27], fill=red, outline=BLACK)
    return img


def logo():
    img = Image.new("RGBA", (64, 64), TRANSPARENT)
    d = ImageDraw.Draw(img)
    d.rounded_rectangle([0, 4, 63, 59], radius=6, fill=(40, 150, 60, 255))
    d.rounded_rectangle([4, 8, 59, 55], radius=4, fill=(255, 230, 40, 255))
    for word, y in (("MIPO", 13), ("QUIBBO", 33)):
        scale = 2
        w = text_width(word, scale, 2)
        x = 32 - w // 2
        text(d, x + 1, y + 1, word, (120, 80, 0, 255), scale, 2)  # shadow
        text(d, x, y, word, (200, 30, 60, 255), scale, 2)
    return img


def program_icon():
    img = Image.new("RGBA", (32, 32), TRANSPARENT)
    d = ImageDraw.Draw(img)
    mascot(d, (6, 12, 25, 31), (110, 200, 90, 255), outline=(20, 80, 20, 255))
    d.rectangle([1, 0, 30, 9], fill=(255, 230, 40, 255), outline=(40, 150, 60, 255))
    w = text_width("MIPO")
    text(d, 16 - (w + 1) // 2, 3, "MIPO", (200, 30, 60, 255))
    return img


def program_icon_large(size):
    """The program icon drawn again at a larger size (for desktop menus), with
    smooth edges: drawn four times larger, then scaled down."""
    k = size * 4 / 32.0
    big = Image.new("RGBA", (size * 4, size * 4), TRANSPARENT)
    d = ImageDraw.Draw(big)

    def box(x0, y0, x1, y1):
        return [x0 * k, y0 * k, x1 * k, y1 * k]

    green, dark = (110, 200, 90, 255), (20, 80, 20, 255)
    d.ellipse(box(6, 12, 25.5, 31.5), fill=green, outline=dark, width=int(k))
    d.polygon([(13 * k, 13 * k), (16 * k, 9.5 * k), (19 * k, 13 * k)], fill=dark)
    for ex in (11.5, 20):
        d.ellipse(box(ex - 1.2, 18.5, ex + 1.2, 21.5), fill=BLACK)
        d.ellipse(box(ex - 0.6, 18.8, ex + 0.2, 19.8), fill=WHITE)
    for cx in (8.5, 22):
        d.ellipse(box(cx - 1.3, 22.3, cx + 1.3, 23.7), fill=(255, 110, 130, 255))
    d.arc(box(12.5, 20, 19.5, 28), 20, 160, fill=(150, 20, 20, 255), width=int(k * 0.8))
    d.rounded_rectangle(box(0.5, 0, 31.5, 10), radius=k * 1.5, fill=(255, 230, 40, 255),
                        outline=(40, 150, 60, 255), width=int(k))
    w = text_width("MIPO", 1, 1)
    scale = 1.4
    x = 16 - w * scale / 2
    for ch in "MIPO":
        for row, bits in enumerate(GLYPHS[ch]):
            for col, bit in enumerate(bits):
                if bit == "1":
                    d.rectangle(box(x + col * scale, 1.6 + row * scale,
                                    x + (col + 1) * scale, 1.6 + (row + 1) * scale),
                                fill=(200, 30, 60, 255))
        x += 4 * scale
    return big.resize((size, size), Image.LANCZOS)


def save_gif(img, name):
    """GIF with one transparent colour: every fully transparent pixel."""
    rgb = Image.new("RGB", img.size, (255, 0, 255))
    rgb.paste(img, mask=img.split()[3].point(lambda a: 255 if a >= 128 else 0))
    pal = rgb.quantize(colors=255, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    palette = pal.getpalette()[: 255 * 3]
    palette += [255, 0, 255] * (256 - len(palette) // 3)
    out = Image.new("P", img.size, 255)
    out.putpalette(palette)
    alpha = img.split()[3]
    px_in, px_out, px_a = pal.load(), out.load(), alpha.load()
    for y in range(img.size[1]):
        for x in range(img.size[0]):
            px_out[x, y] = px_in[x, y] if px_a[x, y] >= 128 else 255
    out.save(os.path.join(HERE, name), transparency=255, optimize=False)


def save_ico(img, name):
    """A one-image 32x32 icon with a 256-colour palette and an AND mask."""
    rgb = Image.new("RGB", img.size, (0, 0, 0))
    rgb.paste(img, mask=img.split()[3])
    pal = rgb.quantize(colors=256, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    palette = pal.getpalette()
    palette += [0] * (768 - len(palette))
    w, h = img.size
    alpha = img.split()[3].load()
    idx = pal.load()
    xor_rows, and_rows = [], []
    for y in reversed(range(h)):  # bottom-up
        xor_rows.append(bytes(idx[x, y] for x in range(w)))
        bits = 0
        row = bytearray()
        for x in range(w):
            bits = (bits << 1) | (0 if alpha[x, y] >= 128 else 1)
            if x % 8 == 7:
                row.append(bits)
                bits = 0
        row += b"\0" * ((4 - len(row) % 4) % 4)
        and_rows.append(bytes(row))
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    pal_bytes = b"".join(bytes([palette[i * 3 + 2], palette[i * 3 + 1], palette[i * 3], 0]) for i in range(256))
    dib = header + pal_bytes + b"".join(xor_rows) + b"".join(and_rows)
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", w, h, 0, 0, 1, 8, len(dib), 6 + 16)
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(icondir + entry + dib)


# The hand pointer: rows of '#' (black), '.' (white), ' ' (transparent).
# Its hot spot is the fingertip at (6, 0).
HAND = [
    "     ##",
    "    #..#",
    "    #..#",
    "    #..#",
    "    #..#",
    "    #..###",
    "    #..#..###",
    "    #..#..#..##",
    " ## #..#..#..#.#",
    "#..##........#..#",
    "#...#...........#",
    " #..#...........#",
    "  #.............#",
    "  #.............#",
    "   #............#",
    "   #...........#",
    "    #..........#",
    "    #.........#",
    "     #........#",
    "     #........#",
    "     ##########",
]


def save_xbm(rows, name, ink):
    w = h = 32
    data = []
    for y in range(h):
        line = rows[y] if y < len(rows) else ""
        for xb in range(0, w, 8):
            byte = 0
            for bit in range(8):
                x = xb + bit
                ch = line[x] if x < len(line) else " "
                if ch in ink:
                    byte |= 1 << bit  # XBM: least significant bit first
            data.append(byte)
    base = os.path.splitext(name)[0]
    body = ",".join("0x%02x" % b for b in data)
    with open(os.path.join(HERE, name), "w") as f:
        f.write("#define %s_width %d\n#define %s_height %d\n" % (base, w, base, h))
        f.write("#define %s_x_hot 6\n#define %s_y_hot 0\n" % (base, base))
        f.write("static unsigned char %s_bits[] = {%s};\n" % (base, body))


def main():
    save_gif(button("OPEN", (200, 60, 40, 255), (255, 160, 60, 255)), "open.gif")
    save_gif(button("SAVE", (60, 60, 160, 255), (255, 160, 200, 255)), "save.gif")
    save_gif(button("COPY", (40, 120, 60, 255), (255, 160, 60, 255)), "copy.gif")
    save_gif(button("SET", (160, 60, 140, 255), (60, 190, 180, 255)), "set.gif")
    save_gif(browser_page(light=False), "browser.gif")
    save_gif(browser_page(light=True), "browser_down.gif")
    save_gif(logo(), "logo.gif")
    save_ico(program_icon(), "program.ico")
    # The same 32x32 picture for the desktop's icon theme, and a larger one.
    program_icon().save(os.path.join(HERE, "icon-32.png"))
    program_icon_large(128).save(os.path.join(HERE, "icon-128.png"))
    save_xbm(HAND, "hand.xbm", "#")
    save_xbm(HAND, "hand_mask.xbm", "#.")


if __name__ == "__main__":
    main()
