#!/usr/bin/env python3
"""Draws Pomaro's application icon: a tomato with a white eighth note on it.

Writes a Windows .ico with 16x16 and 32x32 images, 32-bit BGRA with an AND mask,
rendered from a few analytic shapes with 8x8 supersampling. Only the standard
library is used and the output is byte-for-byte reproducible, so the committed
res/Pomaro.ico can be checked against this script.

    make_icon.py OUT.ico [--preview OUT.png]
    make_icon.py --check COMMITTED.ico     exit status 1 when the file differs
"""
import math
import struct
import sys
import zlib

SIZES = (16, 32)
SUPERSAMPLE = 8

TOMATO = (0xE0, 0x3A, 0x24)
TOMATO_EDGE = (0x9E, 0x1E, 0x12)
HIGHLIGHT = (0xFF, 0x9A, 0x80)
LEAF = (0x2E, 0x8B, 0x3A)
NOTE = (0xFF, 0xFF, 0xFF)


def in_ellipse(x, y, cx, cy, rx, ry, angle=0.0):
    """Implicit value of a rotated ellipse: below 1 inside."""
    dx, dy = x - cx, y - cy
    c, s = math.cos(angle), math.sin(angle)
    u, v = dx * c + dy * s, -dx * s + dy * c
    return (u / rx) ** 2 + (v / ry) ** 2


def sample(x, y, size):
    """Colour (r, g, b) and coverage 0/1 of one point in unit coordinates."""
    small = size <= 16
    body = in_ellipse(x, y, 0.5, 0.57, 0.45, 0.40)
    colour = None
    if body < 1.0:
        # Darker rim gives the round shape an edge against any background.
        rim = 0.80 if small else 0.86
        colour = TOMATO if body < rim else TOMATO_EDGE
        if not small and in_ellipse(x, y, 0.30, 0.42, 0.08, 0.05, -0.6) < 1.0:
            colour = HIGHLIGHT
    # Calyx: three leaves and a short stem above the body.
    leaves = (
        in_ellipse(x, y, 0.38, 0.20, 0.15, 0.055, 0.35),
        in_ellipse(x, y, 0.62, 0.20, 0.15, 0.055, -0.35),
        in_ellipse(x, y, 0.50, 0.23, 0.06, 0.11),
    )
    if min(leaves) < 1.0 or (0.47 <= x <= 0.53 and 0.06 <= y <= 0.20):
        colour = LEAF
    # Eighth note: tilted head, stem and a flag bowing to the right.
    head = in_ellipse(x, y, 0.43, 0.73, 0.12, 0.085, -0.35)
    stem_l, stem_r = (0.495, 0.585) if small else (0.505, 0.565)
    stem = stem_l <= x <= stem_r and 0.36 <= y <= 0.72
    flag = (x >= stem_r - 0.01 and 0.36 <= y <= 0.62
            and in_ellipse(x, y, stem_r - 0.01, 0.47, 0.17, 0.13) < 1.0
            and in_ellipse(x, y, stem_r - 0.01, 0.56, 0.11, 0.13) >= 1.0)
    if head < 1.0 or stem or flag:
        colour = NOTE
    return colour


def render(size):
    """Rows top-down of (r, g, b, a) with coverage-weighted colour."""
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
                    c = sample(x, y, size)
                    if c is not None:
                        hits += 1
                        for i in range(3):
                            acc[i] += c[i]
            if hits:
                rgb = tuple((acc[i] + hits // 2) // hits for i in range(3))
                alpha = (255 * hits + n * n // 2) // (n * n)
            else:
                rgb, alpha = (0, 0, 0), 0
            row.append(rgb + (alpha,))
        rows.append(row)
    return rows


def dib(rows):
    """One icon image: BITMAPINFOHEADER, bottom-up BGRA, bottom-up AND mask."""
    size = len(rows)
    mask_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (r, g, b, a) in enumerate(row):
            xor += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + bytes(xor) + bytes(mask)


def ico(images):
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    blobs = []
    for size, rows in images:
        blob = dib(rows)
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
        blobs.append(blob)
    for blob in blobs:
        out += blob
    return bytes(out)


def preview_png(images, scale=8):
    """The images side by side, enlarged, over a grey checkerboard (to judge them by eye)."""
    width = sum(s for s, _ in images) * scale + scale * (len(images) + 1)
    height = max(s for s, _ in images) * scale + 2 * scale
    pixels = [[(0xC8, 0xC8, 0xC8) if ((x // 8 + y // 8) % 2) else (0xA0, 0xA0, 0xA0)
               for x in range(width)] for y in range(height)]
    left = scale
    for size, rows in images:
        for y in range(size * scale):
            for x in range(size * scale):
                r, g, b, a = rows[y // scale][x // scale]
                br, bg, bb = pixels[y + scale][x + left]
                pixels[y + scale][x + left] = tuple(
                    (c * a + d * (255 - a)) // 255 for c, d in ((r, br), (g, bg), (b, bb)))
        left += size * scale + scale
    raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in pixels)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main(argv):
    if len(argv) == 3 and argv[1] == "--check":
        with open(argv[2], "rb") as f:
            committed = f.read()
        if committed != ico([(s, render(s)) for s in SIZES]):
            sys.stderr.write("%s differs from what make_icon.py draws; regenerate it\n" % argv[2])
            return 1
        return 0
    if len(argv) not in (2, 4) or (len(argv) == 4 and argv[2] != "--preview"):
        sys.stderr.write(__doc__)
        return 2
    images = [(s, render(s)) for s in SIZES]
    with open(argv[1], "wb") as f:
        f.write(ico(images))
    if len(argv) == 4:
        with open(argv[3], "wb") as f:
            f.write(preview_png(images))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
