#!/usr/bin/env python3
"""Writes the program's icon file: a white "Q" with an orange tail on a blue disk.

The file holds nine images, in this order: 32x32 and 16x16 at 4 bits per pixel,
48x48, 32x32 and 16x16 at 8 bits, 256x256 at 32 bits stored as PNG, and 48x48,
32x32 and 16x16 at 32 bits. Only the standard library is used, and the output
is the same byte for byte on every run.

Usage: make_icon.py OUTPUT.ico
"""

import struct
import sys
import zlib

# (size, bits per pixel); 256 is stored as PNG, every other image as a DIB.
IMAGES = [(32, 4), (16, 4), (48, 8), (32, 8), (16, 8),
          (256, 32), (48, 32), (32, 32), (16, 32)]

DISK_TOP = (70, 150, 235)
DISK_BOTTOM = (25, 70, 160)
COLOURS = {"rim": (15, 40, 100), "letter": (255, 255, 255), "tail": (255, 160, 30)}

# The 4-bit images draw each region in one entry of the classic palette
# (below), since the nearest entry to the disk's blues is teal.
CLASSIC_INDEX = {"disk": 12, "rim": 4, "letter": 15, "tail": 11}

# Samples per pixel along each axis for the 8- and 32-bit images, which
# blend the edges; the 4-bit images take one sample at each pixel's centre.
SUPERSAMPLE = 4


def _segment_distance(px, py, ax, ay, bx, by):
    """Distance from point p to the segment a-b."""
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    ex, ey = ax + t * dx - px, ay + t * dy - py
    return (ex * ex + ey * ey) ** 0.5


def _region(x, y):
    """The part of the drawing at (x, y) in the unit square (y down), or None."""
    dx, dy = x - 0.5, y - 0.5
    r = (dx * dx + dy * dy) ** 0.5
    if r > 0.48:
        return None
    # The tail is drawn over the ring, so it is tested first.
    if _segment_distance(x, y, 0.56, 0.58, 0.76, 0.78) < 0.055:
        return "tail"
    qx, qy = x - 0.48, y - 0.47
    qr = (qx * qx + qy * qy) ** 0.5
    if 0.15 < qr < 0.26:
        return "letter"
    return "rim" if r > 0.44 else "disk"


def _colour(region, y):
    """The colour of a region; the disk shades from top to bottom."""
    if region == "disk":
        return tuple(round(top + (bottom - top) * y)
                     for top, bottom in zip(DISK_TOP, DISK_BOTTOM))
    return COLOURS[region]


def render(size):
    """Rows of (r, g, b, a) pixels, top row first, averaged over the samples."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0]
            hits = 0
            for sy in range(n):
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) / size
                    y = (py + (sy + 0.5) / n) / size
                    region = _region(x, y)
                    if region is not None:
                        hits += 1
                        for i, c in enumerate(_colour(region, y)):
                            acc[i] += c
            if hits == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(round(v / hits) for v in acc)
                           + (round(255 * hits / (n * n)),))
        rows.append(row)
    return rows


def render_classic(size):
    """Rows of classic palette indices (None: transparent), top row first."""
    return [[CLASSIC_INDEX.get(_region((px + 0.5) / size, (py + 0.5) / size))
             for px in range(size)] for py in range(size)]


def _palette(bits):
    """The colour table of a paletted image, as (r, g, b) triples."""
    if bits == 4:
        # The classic 16-colour palette, which is what 4-bit icons are for.
        return [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
                (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
                (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
                (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
    # A 6x6x6 colour cube, then a ramp of 40 greys.
    cube = [(r * 51, g * 51, b * 51)
            for r in range(6) for g in range(6) for b in range(6)]
    greys = [(round(i * 255 / 39),) * 3 for i in range(40)]
    return cube + greys


def _nearest(palette, colour):
    """Index of the palette entry closest to colour (first one on ties)."""
    return min(range(len(palette)),
               key=lambda i: sum((p - c) ** 2 for p, c in zip(palette[i], colour)))


def _pack_row(indices, bits):
    """One scan line of `bits`-per-pixel values, padded to four bytes."""
    out = bytearray()
    per_byte = 8 // bits
    for start in range(0, len(indices), per_byte):
        byte = 0
        for i, value in enumerate(indices[start:start + per_byte]):
            byte |= value << (8 - bits * (i + 1))
        out.append(byte)
    return bytes(out) + b"\0" * (-len(out) % 4)


def _scan_lines(size, bits):
    """Colour bits and AND-mask bits per pixel, as rows, top row first.

    The AND mask marks transparent pixels: no coverage for the 4-bit images,
    under half coverage for the 8-bit ones, which have no alpha, and no
    coverage at all for the 32-bit ones, whose alpha does the blending.
    """
    if bits == 4:
        return [([0 if i is None else i for i in row], [int(i is None) for i in row])
                for row in render_classic(size)]
    lines = []
    if bits == 32:
        for row in render(size):
            colour = [bytes((b, g, r, a)) for r, g, b, a in row]
            lines.append((colour, [int(a == 0) for *_, a in row]))
        return lines
    palette = _palette(bits)
    nearest = {}
    for row in render(size):
        colour = []
        for r, g, b, a in row:
            if a < 128:
                colour.append(0)
                continue
            if (r, g, b) not in nearest:
                nearest[(r, g, b)] = _nearest(palette, (r, g, b))
            colour.append(nearest[(r, g, b)])
        lines.append((colour, [int(a < 128) for *_, a in row]))
    return lines


def dib(size, bits):
    """An icon image as a DIB: header, colour table, colour bits, AND mask."""
    pixels = bytearray()
    mask = bytearray()
    # Bitmaps are stored bottom row first.
    for colour, transparent in reversed(_scan_lines(size, bits)):
        pixels += b"".join(colour) if bits == 32 else _pack_row(colour, bits)
        mask += _pack_row(transparent, 1)
    colours = b""
    if bits != 32:
        colours = b"".join(bytes((b, g, r, 0)) for r, g, b in _palette(bits))
    # The height counts the colour bits and the mask together.
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    return header + colours + bytes(pixels) + bytes(mask)


def _png_chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data
            + struct.pack(">I", zlib.crc32(kind + data)))


def png(size):
    """An icon image as an 8-bit RGBA PNG."""
    raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in render(size))
    return (b"\x89PNG\r\n\x1a\n"
            + _png_chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + _png_chunk(b"IDAT", zlib.compress(raw, 9))
            + _png_chunk(b"IEND", b""))


def icon_file():
    """The whole .ico: directory, then the images in IMAGES order."""
    images = [png(size) if size == 256 else dib(size, bits) for size, bits in IMAGES]
    offset = 6 + 16 * len(images)
    entries = b""
    for (size, bits), data in zip(IMAGES, images):
        # A width or height of 256 is written as 0; 16 colours are counted,
        # 256 and more are written as 0.
        entries += struct.pack("<BBBBHHII", size % 256, size % 256,
                               16 if bits == 4 else 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    return struct.pack("<HHH", 0, 1, len(images)) + entries + b"".join(images)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[1], "wb") as out:
        out.write(icon_file())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
