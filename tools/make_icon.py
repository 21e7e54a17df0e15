#!/usr/bin/env python3
"""Draws the launcher icon (an M on a rounded square) and writes it as a 32-bit .ico file.

Usage: tools/make_icon.py src/app/muvra.ico
"""
import math
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 128, 256)
SAMPLES = 4  # per axis, for smooth edges

TOP = (255, 56, 100)
BOTTOM = (176, 38, 122)
INK = (255, 240, 246)


def inside_rounded_square(x, y):
    radius = 0.22
    dx = max(abs(x - 0.5) - (0.5 - radius), 0.0)
    dy = max(abs(y - 0.5) - (0.5 - radius), 0.0)
    return dx * dx + dy * dy <= radius * radius


def distance_to_segment(px, py, ax, ay, bx, by):
    vx, vy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * vx + (py - ay) * vy) / (vx * vx + vy * vy)))
    return math.hypot(px - (ax + t * vx), py - (ay + t * vy))


# The strokes of the M, in unit coordinates.
STROKES = (
    (0.25, 0.74, 0.25, 0.28),
    (0.25, 0.28, 0.50, 0.58),
    (0.50, 0.58, 0.75, 0.28),
    (0.75, 0.28, 0.75, 0.74),
)


def on_letter(x, y):
    return any(distance_to_segment(x, y, *stroke) <= 0.075 for stroke in STROKES)


def pixel(size, column, row):
    shape = ink = 0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            x = (column + (sx + 0.5) / SAMPLES) / size
            y = (row + (sy + 0.5) / SAMPLES) / size
            if inside_rounded_square(x, y):
                shape += 1
                ink += on_letter(x, y)
    if shape == 0:
        return (0, 0, 0, 0)
    mix = (row + 0.5) / size
    base = [TOP[i] + (BOTTOM[i] - TOP[i]) * mix for i in range(3)]
    share = ink / shape
    colour = [round(base[i] + (INK[i] - base[i]) * share) for i in range(3)]
    alpha = round(255 * shape / (SAMPLES * SAMPLES))
    return (colour[0], colour[1], colour[2], alpha)


def rows_of(size):
    return [[pixel(size, column, row) for column in range(size)] for row in range(size)]


def bitmap_entry(size):
    rows = rows_of(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colours = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_row = ((size + 31) // 32) * 4
    mask = bytes(mask_row * size)  # transparency comes from the alpha channel
    return header + colours + mask


def png_entry(size):
    rows = rows_of(size)
    raw = b"".join(b"\x00" + b"".join(bytes(p) for p in row) for row in rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main(target):
    images = [png_entry(s) if s == 256 else bitmap_entry(s) for s in SIZES]
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, image in zip(SIZES, images):
        side = 0 if size == 256 else size
        directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(target, "wb") as out:
        out.write(directory + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1])
