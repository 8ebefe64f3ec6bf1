#!/usr/bin/env python3
"""Draws the restore tool's application icon and writes it as a .ico file.

The icon is ours: a backup box inside an arrow that turns back, on a blue
tile. It is drawn from shapes (no image editor, no source picture), each size
rendered on its own with 4x4 samples per pixel so that small sizes stay sharp.
The .ico holds 16, 24, 32 and 48 pixels as 32-bit bitmaps (what every Windows
version reads) and 256 pixels as PNG (what Explorer shows for large views).

    python3 app/make_icon.py app/Wiederherstellung.ico

The output is byte for byte the same on every run, so the checked-in file can
be compared with a fresh one.
"""
import math
import struct
import sys
import zlib

BITMAP_SIZES = (16, 24, 32, 48)
PNG_SIZE = 256
SAMPLES = 4  # per pixel and axis

TILE_TOP = (0x3A, 0x8E, 0xE0)
TILE_BOTTOM = (0x16, 0x4C, 0x8C)
TILE_EDGE = (0x0E, 0x35, 0x66)
ARROW = (0xFF, 0xFF, 0xFF)
BOX = (0xF2, 0xB1, 0x3C)
BOX_LID = (0xC9, 0x82, 0x1C)

CENTRE = (0.5, 0.53)
RING_RADIUS = 0.285
RING_WIDTH = 0.10
# Angles in degrees, screen coordinates (y down, so growing angles turn
# clockwise). The ring runs from ARC_FROM to ARC_TO; the head sits at ARC_FROM
# and points counter-clockwise: backwards, as a restore goes.
ARC_FROM = -50.0
ARC_TO = 215.0


def in_rounded_rect(x, y, left, top, right, bottom, radius):
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return left <= x <= right and top <= y <= bottom and (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def in_triangle(x, y, a, b, c):
    def side(p, q):
        return (q[0] - p[0]) * (y - p[1]) - (q[1] - p[1]) * (x - p[0])

    s1, s2, s3 = side(a, b), side(b, c), side(c, a)
    return (s1 >= 0 and s2 >= 0 and s3 >= 0) or (s1 <= 0 and s2 <= 0 and s3 <= 0)


def arrow_head():
    theta = math.radians(ARC_FROM)
    radial = (math.cos(theta), math.sin(theta))
    backwards = (math.sin(theta), -math.cos(theta))  # tangent, counter-clockwise
    base = (CENTRE[0] + RING_RADIUS * radial[0], CENTRE[1] + RING_RADIUS * radial[1])
    half = RING_WIDTH * 1.25
    length = RING_WIDTH * 1.7
    return (
        (base[0] + half * radial[0], base[1] + half * radial[1]),
        (base[0] - half * radial[0], base[1] - half * radial[1]),
        (base[0] + length * backwards[0], base[1] + length * backwards[1]),
    )


HEAD = arrow_head()


def in_arc(x, y):
    dx, dy = x - CENTRE[0], y - CENTRE[1]
    if abs(math.hypot(dx, dy) - RING_RADIUS) > RING_WIDTH / 2:
        return False
    angle = math.degrees(math.atan2(dy, dx))
    if angle < ARC_FROM:
        angle += 360.0
    return ARC_FROM <= angle <= ARC_TO


def sample(x, y):
    """Colour of one point of the unit square, or None outside the tile."""
    if not in_rounded_rect(x, y, 0.04, 0.04, 0.96, 0.96, 0.18):
        return None
    if not in_rounded_rect(x, y, 0.065, 0.065, 0.935, 0.935, 0.155):
        return TILE_EDGE
    if in_arc(x, y) or in_triangle(x, y, *HEAD):
        return ARROW
    if in_rounded_rect(x, y, 0.375, 0.445, 0.625, 0.665, 0.02):
        return BOX_LID if y < 0.505 or abs(x - 0.5) < 0.022 else BOX
    t = (y - 0.065) / 0.87
    return tuple(round(TILE_TOP[i] + (TILE_BOTTOM[i] - TILE_TOP[i]) * t) for i in range(3))


def render(size):
    """Rows of (r, g, b, a), top row first."""
    rows = []
    step = 1.0 / (size * SAMPLES)
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = covered = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    colour = sample((px * SAMPLES + sx + 0.5) * step, (py * SAMPLES + sy + 0.5) * step)
                    if colour is None:
                        continue
                    r += colour[0]
                    g += colour[1]
                    b += colour[2]
                    covered += 1
            if covered == 0:
                row.append((0, 0, 0, 0))
            else:
                alpha = round(255 * covered / (SAMPLES * SAMPLES))
                row.append((round(r / covered), round(g / covered), round(b / covered), alpha))
        rows.append(row)
    return rows


def bitmap_image(size, rows):
    """A 32-bit DIB as .ico stores it: header of double height, pixels bottom-up, then the mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + pixels + bytes(mask)


def png_image(size, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    raw = b"".join(b"\x00" + b"".join(bytes(p) for p in row) for row in rows)
    return (
        b"\x89PNG\r\n\x1a\n"
        + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
        + chunk(b"IDAT", zlib.compress(raw, 9))
        + chunk(b"IEND", b"")
    )


def icon_file():
    images = [(size, bitmap_image(size, render(size))) for size in BITMAP_SIZES]
    images.append((PNG_SIZE, png_image(PNG_SIZE, render(PNG_SIZE))))
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for size, data in images:
        side = size if size < 256 else 0  # 0 means 256
        entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(data for _, data in images)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    with open(sys.argv[1], "wb") as out:
        out.write(icon_file())


if __name__ == "__main__":
    main()
