#!/usr/bin/env python3
"""Draws the program's icons and eye-button bitmaps.

Run once after changing a picture; the generated files are committed:
  tavrolin_large.ico  48 x 48, 32-bit (icon 102)
  tavrolin_small.ico  16 x 16, 32-bit (icon 103)
  eye_clear.bmp       26 x 17, 24-bit green eye (bitmap 109, password in clear)
  eye_masked.bmp      27 x 16, 24-bit grey eye with a stroke (bitmap 110, masked)
  eye_*_150.bmp, eye_*_200.bmp  the same drawn at 150 % and 200 % (209/210,
                      309/310) for scaled displays: 39 x 26, 41 x 24, 52 x 34, 54 x 32
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def eye(width, height, iris, outline, masked, stroke=1.2):
    """Rows of (r, g, b), top row first, on a white background."""
    cx, cy = (width - 1) / 2.0, (height - 1) / 2.0
    a, b = width * 0.44, height * 0.36       # half axes of the eye outline
    r = height * 0.22                         # iris radius
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            dx, dy = x - cx, y - cy
            lens = (dx / a) ** 2 + (dy / b) ** 2
            px = (255, 255, 255)
            if 0.72 <= lens <= 1.0:
                px = outline
            elif lens < 0.72 and dx * dx + dy * dy <= r * r:
                px = iris
                if dx * dx + dy * dy <= (r * 0.45) ** 2:
                    px = (20, 20, 20)
            if masked and abs((dy * width / height) + dx) < stroke:
                px = outline
            row.append(px)
        rows.append(row)
    return rows


def write_bmp(path, rows):
    height, width = len(rows), len(rows[0])
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):               # bottom-up
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += b'\0' * (stride - len(line))
        pixels += line
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    head = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(path, 'wb') as f:
        f.write(head + info + pixels)


def icon_pixels(size):
    """A reader card with a signal arc, as (r, g, b, a) rows, top row first."""
    rows = []
    s = size / 48.0
    for y in range(size):
        row = []
        for x in range(size):
            X, Y = (x + 0.5) / s, (y + 0.5) / s
            px = (0, 0, 0, 0)
            # rounded card body
            if 6 <= X <= 42 and 10 <= Y <= 42:
                cxr = min(max(X, 10), 38)
                cyr = min(max(Y, 14), 38)
                if (X - cxr) ** 2 + (Y - cyr) ** 2 <= 16:
                    px = (30, 110, 200, 255)
            # chip
            if 12 <= X <= 22 and 24 <= Y <= 34:
                px = (235, 190, 60, 255)
            # signal arcs
            d = math.hypot(X - 30, Y - 30)
            ang = math.atan2(30 - Y, X - 30)
            if 0.2 < ang < 1.4 and (6 <= d <= 8.5 or 11 <= d <= 13.5):
                px = (255, 255, 255, 255)
            row.append(px)
        rows.append(row)
    return rows


def write_ico(path, rows):
    size = len(rows)
    xor = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    andmask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        andmask += bits
    info = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(xor) + len(andmask), 0, 0, 0, 0)
    image = info + xor + andmask
    header = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(image), 6 + 16)
    with open(path, 'wb') as f:
        f.write(header + entry + image)


if __name__ == '__main__':
    for percent, suffix in ((100, ''), (150, '_150'), (200, '_200')):
        def size(pixels):  # rounded half up, as the program scales
            return (pixels * percent + 50) // 100
        write_bmp(os.path.join(HERE, 'eye_clear%s.bmp' % suffix),
                  eye(size(26), size(17), (40, 170, 60), (20, 120, 40), False))
        write_bmp(os.path.join(HERE, 'eye_masked%s.bmp' % suffix),
                  eye(size(27), size(16), (150, 150, 150), (110, 110, 110), True, 1.2 * percent / 100))
    write_ico(os.path.join(HERE, 'tavrolin_large.ico'), icon_pixels(48))
    write_ico(os.path.join(HERE, 'tavrolin_small.ico'), icon_pixels(16))
