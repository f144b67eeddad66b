#!/usr/bin/env python3
"""Writes the module's icons and palette bitmap (src/module/res) from the pixel art below.

The views show their icons at the system's small-icon size: 16 pixels at 96 DPI, 20 at 120, 24 at 144 and
32 at 192. Each icon of the views holds an image of each of these sizes in 16 colours, so none is ever
scaled: the 16-pixel art is drawn by hand below, the larger ones by the drawing functions after it, which
draw the same shapes with one-pixel edges at any size (at 16 pixels they give the hand art exactly). The
control's own icon, shown at the system's large-icon size in the about box, has its 16-pixel art enlarged
2, 3 and 4 times (32, 48 and 64 pixels: 96, 144 and 192 DPI). Run it after changing the art.
"""
import math
import os
import struct

# The standard 16-colour palette (B, G, R, 0 in the file).
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
           (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
           (255, 0, 255), (0, 255, 255), (255, 255, 255)]
# Art characters to palette index; '.' is transparent.
KEY = {'k': 0, 'r': 1, 'g': 2, 'o': 3, 'b': 4, 'p': 5, 't': 6, 's': 7, 'd': 8, 'R': 9, 'G': 10, 'y': 11,
       'B': 12, 'P': 13, 'c': 14, 'w': 15}

ART = {
    'folder': """
................
................
..kkkkk.........
.kyyyyyk........
kyyyyyyykkkkkkk.
kywwwwwwwwwwwwyk
kywyyyyyyyyyyyok
kywyyyyyyyyyyyok
kywyyyyyyyyyyyok
kywyyyyyyyyyyyok
kywyyyyyyyyyyyok
kywyyyyyyyyyyyok
kyoooooooooooook
.kkkkkkkkkkkkkk.
................
................""",
    'document': """
..kkkkkkkkk.....
..kwwwwwwwkk....
..kwwwwwwwkwk...
..kwwwwwwwkkkk..
..kwwwwwwwwwwk..
..kwdddddddwwk..
..kwwwwwwwwwwk..
..kwdddddddwwk..
..kwwwwwwwwwwk..
..kwdddddddwwk..
..kwwwwwwwwwwk..
..kwdddddwwwwk..
..kwwwwwwwwwwk..
..kwwwwwwwwwwk..
..kkkkkkkkkkkk..
................""",
    'folder_open': """
................
................
..kkkkk.........
.kyyyyyk........
kyyyyyyykkkkkk..
kywwwwwwwwwwwyk.
kyw..kkkkkkkkkkk
kyw.kyyyyyyyyyok
kywkyyyyyyyyyyok
kyokyyyyyyyyyok.
kykyyyyyyyyyyok.
kkyyyyyyyyyyok..
kkoooooooooook..
.kkkkkkkkkkkk...
................
................""",
    'drive': """
................
................
................
................
..kkkkkkkkkkkk..
.kwwwwwwwwwwwdk.
kwssssssssssssdk
kssssssssssssssk
kssssssssssssssk
ksddddddddddGdsk
ksssssssssssssdk
kddddddddddddddk
.kkkkkkkkkkkkkk.
................
................
................""",
    'control': """
................
.kkkkkkkkkkkkkk.
.kbbbbbbbbbbbbk.
.kwwwwwwwwwwwwk.
.kwyyywkddddwwk.
.kwyoowwwwwwwwk.
.kwwwwwkddddwwk.
.kwyyywwwwwwwwk.
.kwyoowkddddwwk.
.kwwwwwwwwwwwwk.
.kwyyywkddddwwk.
.kwyoowwwwwwwwk.
.kwwwwwwwwwwwwk.
.kkkkkkkkkkkkkk.
................
................""",
}


def r(v):
    return int(math.floor(v + 0.5))


class Canvas:
    def __init__(self, size):
        self.size = size
        self.px = [['.'] * size for _ in range(size)]

    def set(self, x, y, c):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.px[y][x] = c

    def hline(self, y, x0, x1, c):
        for x in range(x0, x1 + 1):
            self.set(x, y, c)

    def vline(self, x, y0, y1, c):
        for y in range(y0, y1 + 1):
            self.set(x, y, c)

    def fill(self, x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            self.hline(y, x0, x1, c)

    def lines(self):
        return [''.join(row) for row in self.px]


def draw_tab(c, top, body, tab):
    """A folder's tab: its top edge, its sides, yellow inside; it runs into the body's top row."""
    c.hline(top, 2, tab - 1, 'k')
    for y in range(top + 1, body):
        c.set(1, y, 'k')
        c.hline(y, 2, tab - 1, 'y')
        c.set(tab, y, 'k')
    c.set(0, body, 'k')
    c.hline(body, 1, tab, 'y')


def folder(s):
    f = s / 16
    c = Canvas(s)
    right = s - 1
    top, body, tab = r(2 * f), r(4 * f), r(7 * f)
    bottom = s - 1 - top
    draw_tab(c, top, body, tab)
    c.hline(body, tab + 1, right - 1, 'k')
    # The body: outline, a light edge at the top and left, a shaded one at the right and bottom.
    for y in range(body + 1, bottom):
        c.set(0, y, 'k')
        c.set(1, y, 'y')
        c.hline(y, 2, right - 2, 'y')
        c.set(right - 1, y, 'o')
        c.set(right, y, 'k')
    c.hline(body + 1, 2, right - 2, 'w')
    c.set(right - 1, body + 1, 'y')
    c.vline(2, body + 1, bottom - 2, 'w')
    c.hline(bottom - 1, 2, right - 1, 'o')
    c.hline(bottom, 1, right - 1, 'k')
    return c.lines()


def document(s):
    f = s / 16
    c = Canvas(s)
    left, right, bottom, fold = r(2 * f), r(13 * f), r(14 * f), r(3 * f)
    corner = right - fold
    c.hline(0, left, corner, 'k')
    for y in range(1, bottom):
        c.set(left, y, 'k')
        c.hline(y, left + 1, right - 1, 'w')
        c.set(right, y, 'k')
    # The folded corner: the page's edge runs down the diagonal, the fold's own edges inside it.
    for i in range(1, fold + 1):
        c.hline(i, corner + i + 1, right, '.')
        c.set(corner + i, i, 'k')
        c.set(corner, i, 'k')
    c.hline(fold, corner, right, 'k')
    c.hline(bottom, left, right, 'k')
    # Lines of text, the last one shorter.
    step = 2 if s < 24 else 3
    rows = list(range(r(5 * f), bottom - 2, step))
    for y in rows:
        c.hline(y, left + 2, right - 3, 'd')
    c.hline(rows[-1], right - 4, right - 3, 'w')
    return c.lines()


def drive(s):
    f = s / 16
    c = Canvas(s)
    right = s - 1
    top, bottom, slot = r(4 * f), r(12 * f), r(9 * f)
    led = max(1, r(f))
    c.hline(top, 2, right - 2, 'k')
    c.set(1, top + 1, 'k')
    c.hline(top + 1, 2, right - 3, 'w')
    c.set(right - 2, top + 1, 'd')
    c.set(right - 1, top + 1, 'k')
    for y in range(top + 2, bottom):
        c.set(0, y, 'k')
        c.hline(y, 1, right - 1, 's')
        c.set(right, y, 'k')
    c.set(1, top + 2, 'w')
    c.set(right - 1, top + 2, 'd')
    for y in range(slot + 1, bottom - 1):
        c.set(right - 1, y, 'd')
    c.hline(slot, 2, right - 2, 'd')
    c.fill(right - 2 - led, slot, right - 3, slot + led - 1, 'G')
    c.hline(bottom - 1, 1, right - 1, 'd')
    c.hline(bottom, 1, right - 1, 'k')
    return c.lines()


def folder_open(s):
    f = s / 16
    c = Canvas(s)
    right = s - 1
    top, body, tab = r(2 * f), r(4 * f), r(7 * f)
    bottom = s - 1 - top
    flap = r(6 * f)   # the front's top edge
    # The back: the folder's tab and body, its right edge ending above the front.
    draw_tab(c, top, body, tab)
    c.hline(body, tab + 1, right - 2, 'k')
    for y in range(body + 1, bottom):
        c.set(0, y, 'k')
        c.set(1, y, 'y')
        c.hline(y, 2, right - 3, 'w' if y == body + 1 else 'o')
        c.set(2, y, 'w')
    for y in range(body + 1, flap):
        c.set(right - 2, y, 'y')
        c.set(right - 1, y, 'k')
    # The front: a slanted sheet from the flap's edge down to the bottom, over the back.
    top_left, top_right = r(5 * f), right
    bottom_left, bottom_right = 1, right - r(2 * f)
    span = bottom - 1 - flap
    prev = None
    for y in range(flap, bottom):
        t = (y - flap) / span if span else 0
        lx = r(top_left + (bottom_left - top_left) * t)
        rx = r(top_right + (bottom_right - top_right) * t)
        if y == flap:
            c.hline(y, lx, rx, 'k')
        else:
            c.hline(y, lx + 1, rx - 2, 'y')
            c.set(rx - 1, y, 'o')
            c.set(rx, y, 'k')
            # The slanted edge stays joined where it steps by more than a pixel.
            c.hline(y, lx, max(lx, prev - 1), 'k')
        prev = lx
    c.hline(bottom - 1, 2, bottom_right - 1, 'o')
    c.set(0, bottom - 1, 'k')
    c.hline(bottom, 1, bottom_right - 1, 'k')
    return c.lines()


# The drawings of the views' icons at the larger sizes.
DRAWN = {'folder': folder, 'document': document, 'drive': drive, 'folder_open': folder_open}
LARGER_SIZES = (20, 24, 32)


def rows(art):
    lines = [l for l in art.strip('\n').split('\n')]
    assert len(lines) == 16 and all(len(l) == 16 for l in lines), art
    return lines


def dib_4bpp(lines, size):
    """A 4bpp icon DIB (header with doubled height, palette, XOR bits, AND mask), bottom-up."""
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    xor = bytearray()
    mask = bytearray()
    row_xor = ((size * 4 + 31) // 32) * 4
    row_and = ((size + 31) // 32) * 4
    for y in range(size - 1, -1, -1):
        line = lines[y]
        px = [KEY.get(c, 0) for c in line]
        rx = bytearray(row_xor)
        for x in range(0, size, 2):
            rx[x // 2] = (px[x] << 4) | px[x + 1]
        xor += rx
        ra = bytearray(row_and)
        for x, c in enumerate(line):
            if c == '.':
                ra[x // 8] |= 0x80 >> (x % 8)
        mask += ra
    return header + pal + bytes(xor) + bytes(mask)


def enlarged(lines, factor):
    """Each pixel a factor-by-factor block: crisp, for the control's own icon at 2, 3 and 4 times."""
    return [''.join(c * factor for c in line) for line in lines for _ in range(factor)]


def write_icon(path, images):
    """images: (size, rows of art) pairs, smallest first."""
    images = [(size, dib_4bpp(lines, size)) for size, lines in images]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    with open(path, 'wb') as f:
        f.write(out)


def write_bitmap(path, lines):
    """The container's palette bitmap: 16x15, 4bpp, like a toolbox button."""
    size_x, size_y = 16, 15
    row = ((size_x * 4 + 31) // 32) * 4
    bits = bytearray()
    for y in range(size_y - 1, -1, -1):
        px = [KEY.get(c, 7) if c != '.' else 7 for c in lines[y]]
        r = bytearray(row)
        for x in range(0, size_x, 2):
            r[x // 2] = (px[x] << 4) | px[x + 1]
        bits += r
    info = struct.pack('<IiiHHIIiiII', 40, size_x, size_y, 1, 4, 0, len(bits), 0, 0, 16, 0)
    pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    off = 14 + len(info) + len(pal)
    head = struct.pack('<2sIHHI', b'BM', off + len(bits), 0, 0, off)
    with open(path, 'wb') as f:
        f.write(head + info + pal + bytes(bits))


if __name__ == '__main__':
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'src', 'module', 'res')
    os.makedirs(out, exist_ok=True)
    for name, art in ART.items():
        small = rows(art)
        if name in DRAWN:
            images = [(16, small)] + [(size, DRAWN[name](size)) for size in LARGER_SIZES]
        else:
            images = [(16, small)] + [(16 * factor, enlarged(small, factor)) for factor in (2, 3, 4)]
        write_icon(os.path.join(out, name + '.ico'), images)
    write_bitmap(os.path.join(out, 'palette.bmp'), rows(ART['control']))
