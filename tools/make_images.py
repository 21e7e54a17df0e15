#!/usr/bin/env python3
"""Draws the two interface images and writes them as PNG files.

Usage: tools/make_images.py src/launcher/ui/images
  mm2.png    768 x 432 RGB: soft pink light over the dark background (control centre)
  bloom.png  1254 x 1254 RGBA: a five-petal bloom beside the launch button (launcher page)
"""
import math
import os
import struct
import sys
import zlib

BACKGROUND = (11, 9, 12)
PINK = (239, 139, 184)
CORAL = (255, 174, 107)


def png(width, height, channels, rows):
    kind = {3: 2, 4: 6}[channels]
    raw = b"".join(b"\x00" + bytes(row) for row in rows)

    def chunk(name, data):
        body = name + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, kind, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def mix(a, b, t):
    return a + (b - a) * t


def glow_rows(width, height):
    lights = ((0.28, 0.35, 0.42, PINK, 0.55), (0.78, 0.72, 0.35, CORAL, 0.35))
    for y in range(height):
        row = bytearray()
        for x in range(width):
            colour = list(BACKGROUND)
            for cx, cy, radius, tint, strength in lights:
                dx = (x / width - cx) * width / height
                dy = y / height - cy
                light = strength * math.exp(-(dx * dx + dy * dy) / (radius * radius))
                colour = [mix(colour[i], tint[i], light) for i in range(3)]
            grain = ((x * 7919 + y * 104729) % 13 - 6) * 0.35
            row += bytes(max(0, min(255, round(c + grain))) for c in colour)
        yield row


def bloom_rows(size):
    centre = size / 2
    for y in range(size):
        row = bytearray()
        for x in range(size):
            dx, dy = (x + 0.5 - centre) / centre, (y + 0.5 - centre) / centre
            r = math.hypot(dx, dy)
            angle = math.atan2(dy, dx)
            edge = 0.55 + 0.35 * abs(math.cos(2.5 * angle))
            coverage = max(0.0, min(1.0, (edge - r) * 60))
            if coverage == 0.0:
                row += b"\x00\x00\x00\x00"
                continue
            depth = min(1.0, r / edge)
            colour = [mix(CORAL[i], PINK[i], depth) for i in range(3)]
            heart = max(0.0, 1.0 - r / 0.16)
            colour = [mix(colour[i], 255, heart * 0.8) for i in range(3)]
            row += bytes(round(c) for c in colour) + bytes((round(255 * coverage),))
        yield row


def main(folder):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "mm2.png"), "wb") as out:
        out.write(png(768, 432, 3, glow_rows(768, 432)))
    with open(os.path.join(folder, "bloom.png"), "wb") as out:
        out.write(png(1254, 1254, 4, bloom_rows(1254)))


if __name__ == "__main__":
    main(sys.argv[1])
