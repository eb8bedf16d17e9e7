#!/usr/bin/env python3
"""Draws the two images of the keyboard strip.

keys.png (142 x 390, RGBA): a sprite sheet of 13 rows of 30 pixels. Row 0, column 0
(x 0 to 70) is one opaque octave: frame, separators and black keys black, white keys
white, with the closing line at x 70. Row k + 1 holds the shape of key k (0 = C to
11 = B) alone: in column 0 (x 0 to 70) in the pressed colour, in column 1 (x 71 to 141)
in the key's own colour; everything else is transparent. A white key's shape is its
visible area inside the separators and around the black keys; a black key's shape is
inset one pixel, so a pressed black key keeps a black rim.

key_labels.png (251 x 30, RGBA): the computer keys that play notes, as small green
letters over transparent ground, placed so that drawing the image at
x = 70 * octave - 110 puts each letter on the key it plays.

Only the standard library is used and the output is byte-for-byte reproducible:

    make_key_images.py OUT_DIR                 writes keys.png and key_labels.png
    make_key_images.py --check DIR             exit status 1 when DIR's files differ
"""
import os
import struct
import sys
import zlib

BLACK = (0x00, 0x00, 0x00, 0xFF)
WHITE = (0xFF, 0xFF, 0xFF, 0xFF)
PRESSED = (0xFF, 0x64, 0x64, 0xFF)
CLEAR = (0x00, 0x00, 0x00, 0x00)
LABEL_ON_WHITE = (0x00, 0xC0, 0x00, 0xFF)
LABEL_ON_BLACK = (0x00, 0xE0, 0x00, 0xFF)

OCTAVE = 70
ROW = 30
RELEASED_COLUMN = 71
SHEET_SIZE = (142, 13 * ROW)
LABELS_SIZE = (251, 30)

WHITE_SEMITONES = (0, 2, 4, 5, 7, 9, 11)
# Semitone of the black key standing over each boundary of the octave.
BLACK_BOUNDARIES = {1: 10, 3: 20, 6: 40, 8: 50, 10: 60}
BLACK_ROWS = range(1, 17)  # rows 1 to 16


def in_black_key(x, y):
    """True on the drawn black keys of an octave (x 0 to 70 within it)."""
    return y in BLACK_ROWS and any(b - 4 <= x <= b + 4 for b in BLACK_BOUNDARIES.values())


def key_shape(k):
    """Pixels (x, y) of key k's shape inside one 70 x 30 sprite."""
    if k in BLACK_BOUNDARIES:
        b = BLACK_BOUNDARIES[k]
        return [(x, y) for y in range(1, 16) for x in range(b - 3, b + 4)]
    j = WHITE_SEMITONES.index(k)
    return [(x, y) for y in range(1, 29) for x in range(10 * j + 1, 10 * j + 10) if not in_black_key(x, y)]


def octave_pixel(x, y):
    if y == 0 or y == ROW - 1 or x % 10 == 0 or in_black_key(x, y):
        return BLACK
    return WHITE


def draw_sheet():
    w, h = SHEET_SIZE
    px = [[CLEAR] * w for _ in range(h)]
    for y in range(ROW):
        for x in range(OCTAVE + 1):
            px[y][x] = octave_pixel(x, y)
    for k in range(12):
        top = ROW * (k + 1)
        own = BLACK if k in BLACK_BOUNDARIES else WHITE
        for x, y in key_shape(k):
            px[top + y][x] = PRESSED
            px[top + y][RELEASED_COLUMN + x] = own
    return px


# 5 x 7 glyphs, one string per row, '#' set.
GLYPHS = {
    "Z": ["#####", "    #", "   # ", "  #  ", " #   ", "#    ", "#####"],
    "X": ["#   #", "#   #", " # # ", "  #  ", " # # ", "#   #", "#   #"],
    "C": [" ### ", "#   #", "#    ", "#    ", "#    ", "#   #", " ### "],
    "V": ["#   #", "#   #", "#   #", "#   #", "#   #", " # # ", "  #  "],
    "B": ["#### ", "#   #", "#   #", "#### ", "#   #", "#   #", "#### "],
    "N": ["#   #", "##  #", "# # #", "#  ##", "#   #", "#   #", "#   #"],
    "M": ["#   #", "## ##", "# # #", "# # #", "#   #", "#   #", "#   #"],
    "<": ["   # ", "  #  ", " #   ", "#    ", " #   ", "  #  ", "   # "],
    ">": [" #   ", "  #  ", "   # ", "    #", "   # ", "  #  ", " #   "],
    "Q": [" ### ", "#   #", "#   #", "#   #", "# # #", "#  # ", " ## #"],
    "W": ["#   #", "#   #", "#   #", "# # #", "# # #", "## ##", "#   #"],
    "E": ["#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#####"],
    "R": ["#### ", "#   #", "#   #", "#### ", "# #  ", "#  # ", "#   #"],
    "T": ["#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  "],
    "Y": ["#   #", "#   #", " # # ", "  #  ", "  #  ", "  #  ", "  #  "],
    "U": ["#   #", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "],
    "I": [" ### ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "],
    "O": [" ### ", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "],
    "P": ["#### ", "#   #", "#   #", "#### ", "#    ", "#    ", "#    "],
    "@": [" ### ", "#   #", "# ###", "# # #", "# ###", "#    ", " ####"],
    "[": [" ### ", " #   ", " #   ", " #   ", " #   ", " #   ", " ### "],
    "A": [" ### ", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"],
    "S": [" ####", "#    ", "#    ", " ### ", "    #", "    #", "#### "],
    "F": ["#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#    "],
    "G": [" ### ", "#   #", "#    ", "# ###", "#   #", "#   #", " ####"],
    "J": ["  ###", "   # ", "   # ", "   # ", "   # ", "#  # ", " ##  "],
    "K": ["#   #", "#  # ", "# #  ", "##   ", "# #  ", "#  # ", "#   #"],
    "L": ["#    ", "#    ", "#    ", "#    ", "#    ", "#    ", "#####"],
    "2": [" ### ", "#   #", "    #", "   # ", "  #  ", " #   ", "#####"],
    "3": ["#####", "   # ", "  #  ", "   # ", "    #", "#   #", " ### "],
    "5": ["#####", "#    ", "#### ", "    #", "    #", "#   #", " ### "],
    "6": ["  ## ", " #   ", "#    ", "#### ", "#   #", "#   #", " ### "],
    "7": ["#####", "    #", "   # ", "  #  ", " #   ", " #   ", " #   "],
    "9": [" ### ", "#   #", "#   #", " ####", "    #", "   # ", " ##  "],
    "0": [" ### ", "#   #", "#  ##", "# # #", "##  #", "#   #", " ### "],
    "^": ["  #  ", " # # ", "#   #", "     ", "     ", "     ", "     "],
    "\u00a5": ["#   #", " # # ", "#####", "  #  ", "#####", "  #  ", "  #  "],
}

WHITE_LABELS = "ZXCVBNM<>QWERTYUIOP@["
BLACK_LABEL_X = (20, 30, 50, 60, 80, 90, 100, 120, 130, 150, 160, 170, 190, 200, 220, 230)
BLACK_LABELS = "ASFGJKL235679" + "0^\u00a5"


def stretch(glyph, rows):
    """Stretches a 7-row glyph to 8 or 9 rows by repeating rows near its middle."""
    repeat = {8: (3,), 9: (2, 4)}[rows]
    out = []
    for i, line in enumerate(glyph):
        out.append(line)
        if i in repeat:
            out.append(line)
    return out


def draw_labels():
    w, h = LABELS_SIZE
    px = [[CLEAR] * w for _ in range(h)]

    def put(ch, cx, top, rows, colour):
        for dy, line in enumerate(stretch(GLYPHS[ch], rows)):
            for dx, c in enumerate(line):
                if c == "#":
                    px[top + dy][cx - 2 + dx] = colour

    for i, ch in enumerate(WHITE_LABELS):
        put(ch, 25 + 10 * i, 19, 8, LABEL_ON_WHITE)      # rows 19 to 26
    for cx, ch in zip(BLACK_LABEL_X, BLACK_LABELS):
        put(ch, cx, 6, 9, LABEL_ON_BLACK)                # rows 6 to 14
    return px


def png_bytes(px):
    h, w = len(px), len(px[0])

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + bytes(c for p in row for c in p) for row in px)
    ihdr = struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)  # 8-bit RGBA, no interlace
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def images():
    return {"keys.png": png_bytes(draw_sheet()), "key_labels.png": png_bytes(draw_labels())}


def main(argv):
    if len(argv) == 3 and argv[1] == "--check":
        stale = []
        for name, data in images().items():
            try:
                with open(os.path.join(argv[2], name), "rb") as f:
                    if f.read() != data:
                        stale.append(name)
            except FileNotFoundError:
                stale.append(name)
        for name in stale:
            print("%s differs from what the generator draws" % name)
        return 1 if stale else 0
    if len(argv) == 2:
        os.makedirs(argv[1], exist_ok=True)
        for name, data in images().items():
            with open(os.path.join(argv[1], name), "wb") as f:
                f.write(data)
        return 0
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
