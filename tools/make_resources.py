#!/usr/bin/env python3
"""Draws the program's icon (corvalin.ico, and icons/corvalin-SIZE.png for the
desktop's icon theme) and hand pointer (HAND-M.CUR).

Run from anywhere: python3 tools/make_resources.py. The output is committed
under resources/, so the build needs no Python. Only the standard library is
used: both files are written as BMP-in-ICO by hand.
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "resources")


def coverage(inside, x, y, samples=4):
    hits = 0
    for sy in range(samples):
        for sx in range(samples):
            if inside(x + (sx + 0.5) / samples, y + (sy + 0.5) / samples):
                hits += 1
    return hits / (samples * samples)


def rounded_rect(u, v, x0, y0, x1, y1, r):
    if not (x0 <= u <= x1 and y0 <= v <= y1):
        return False
    cx = min(max(u, x0 + r), x1 - r)
    cy = min(max(v, y0 + r), y1 - r)
    return (u - cx) ** 2 + (v - cy) ** 2 <= r * r


def icon_layers():
    """The picture in unit coordinates: a blue tile with two tables and a
    green arrow from the lower table into the upper one (records appended)."""
    def tile(u, v):
        return rounded_rect(u, v, 0.04, 0.04, 0.96, 0.96, 0.16)

    def table(top):
        def inside(u, v):
            return 0.18 <= u <= 0.66 and top <= v <= top + 0.28
        return inside

    def grid(top):
        def inside(u, v):
            if not (0.18 <= u <= 0.66 and top <= v <= top + 0.28):
                return False
            row = (v - top) / 0.28 * 3
            col = (u - 0.18) / 0.48 * 3
            return (abs(row - round(row)) < 0.07 and 0 < round(row) < 3) or \
                (abs(col - round(col)) < 0.06 and 0 < round(col) < 3) or \
                v - top < 0.07
        return inside

    def arrow(u, v):
        shaft = 0.74 <= u <= 0.84 and 0.36 <= v <= 0.72
        head = v >= 0.18 and v <= 0.40 and abs(u - 0.79) <= (v - 0.18) * 0.75
        return shaft or head

    return [
        (tile, (30, 90, 170, 255)),
        (table(0.14), (255, 255, 255, 255)),
        (grid(0.14), (30, 60, 120, 255)),
        (table(0.58), (255, 255, 255, 255)),
        (grid(0.58), (30, 60, 120, 255)),
        (arrow, (70, 200, 90, 255)),
    ]


def render(size, layers):
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            r = g = b = a = 0.0
            for inside, (lr, lg, lb, la) in layers:
                c = coverage(lambda u, v: inside(u / size, v / size), x, y)
                if c == 0:
                    continue
                al = c * la / 255
                r = lr * al + r * (1 - al)
                g = lg * al + g * (1 - al)
                b = lb * al + b * (1 - al)
                a = al + a * (1 - al)
            row.append((r, g, b, a))
        pixels.append(row)
    return pixels


def dib(pixels, bits):
    """A BMP without file header as ICO and CUR hold it: height doubled,
    rows bottom-up, then the 1-bit AND mask."""
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for row in reversed(pixels):
        line = bytearray()
        for r, g, b, a in row:
            if bits == 32:
                # premultiplied colours must be undone: ICO stores straight alpha
                if a > 0:
                    line += bytes((round(b / a) if a else 0, round(g / a), round(r / a), round(a * 255)))
                else:
                    line += bytes((0, 0, 0, 0))
            else:
                # 24-bit: no alpha channel, so blend onto white and mask the rest
                line += bytes((round(b + 255 * (1 - a)), round(g + 255 * (1 - a)), round(r + 255 * (1 - a))))
        while len(line) % 4:
            line.append(0)
        xor += line
    mask = bytearray()
    for row in reversed(pixels):
        line = bytearray((size + 31) // 32 * 4)
        for x, (_, _, _, a) in enumerate(row):
            if a < 0.5:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(xor) + bytes(mask)


def straight(pixels):
    # render() accumulates premultiplied colour; keep it that way for dib()
    return pixels


def write_container(path, kind, images):
    """kind 1 = icon, 2 = cursor; images = (size, bits, data, hotspot)."""
    out = bytearray(struct.pack("<HHH", 0, kind, len(images)))
    offset = 6 + 16 * len(images)
    blobs = b""
    for size, bits, data, hotspot in images:
        dim = 0 if size >= 256 else size
        planes, count = (1, bits) if kind == 1 else hotspot
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, planes, count, len(data), offset + len(blobs))
        blobs += data
    with open(path, "wb") as f:
        f.write(bytes(out) + blobs)


def hand_pixels():
    """A white pointing hand with a black outline, 32x32, tip at (9, 1)."""
    def body(u, v):
        finger = 7 <= u <= 11.5 and 1 <= v <= 15
        tip = (u - 9.25) ** 2 + (v - 2.5) ** 2 <= 5.2
        knuckles = 11 <= u <= 21.5 and 10 <= v <= 16
        palm = rounded_rect(u, v, 5, 13, 22, 28, 3)
        thumb = 2 <= u <= 7 and 15 <= v <= 22 and (u - 2) + (22 - v) > 2
        return finger or tip or knuckles or palm or thumb

    def outline(u, v):
        if not body(u, v):
            return False
        return any(not body(u + dx, v + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))

    def gaps(u, v):
        return v >= 11 and v <= 15 and any(abs(u - g) < 0.5 for g in (14.5, 18))

    pixels = []
    for y in range(32):
        row = []
        for x in range(32):
            u, v = x + 0.5, y + 0.5
            if outline(u, v) or (body(u, v) and gaps(u, v)):
                row.append((0, 0, 0, 1))
            elif body(u, v):
                row.append((255, 255, 255, 1))
            else:
                row.append((0, 0, 0, 0))
        pixels.append(row)
    return pixels


def write_png(path, pixels):
    """An RGBA PNG with straight alpha, for the desktop's icon theme."""
    size = len(pixels)
    raw = bytearray()
    for row in pixels:
        raw.append(0)  # no filter
        for r, g, b, a in row:
            if a > 0:
                raw += bytes((round(r / a), round(g / a), round(b / a), round(a * 255)))
            else:
                raw += bytes((0, 0, 0, 0))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def main():
    layers = icon_layers()
    images = []
    os.makedirs(os.path.join(OUT, "icons"), exist_ok=True)
    for size, bits in ((32, 24), (48, 32), (128, 32), (256, 32)):
        pixels = render(size, layers)
        images.append((size, bits, dib(pixels, bits), None))
        # The same sizes for the icon theme of the installed program.
        write_png(os.path.join(OUT, "icons", "corvalin-%d.png" % size), pixels)
    write_container(os.path.join(OUT, "corvalin.ico"), 1, images)
    write_container(os.path.join(OUT, "HAND-M.CUR"), 2,
                    [(32, 32, dib(hand_pixels(), 32), (9, 1))])


if __name__ == "__main__":
    main()
