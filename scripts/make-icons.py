#!/usr/bin/env python3
"""Writes the module's icons and palette bitmap (src/module/res) from the pixel art below.

Each icon of the views holds a 16x16 image in 16 colours and a 32x32 image that is fully transparent, so
the views must take the small image from the resource rather than a scaled large one; the control's own
icon has a real 32x32 image for the about box. Run it after changing the art.
"""
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
        line = lines[y] if lines else '.' * size
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


def doubled(lines):
    return [''.join(c * 2 for c in line) for line in lines for _ in range(2)]


def write_icon(path, lines, large=False):
    """large: the 32x32 image is the small one doubled, for icons shown at full size (the about box)."""
    images = [(16, dib_4bpp(lines, 16)), (32, dib_4bpp(doubled(lines) if large else None, 32))]
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
        write_icon(os.path.join(out, name + '.ico'), rows(art), large=(name == 'control'))
    write_bitmap(os.path.join(out, 'palette.bmp'), rows(ART['control']))
