#!/usr/bin/env python3
"""Draws every bitmap, cursor and icon of Varnek and writes them under res/.

Run from the repository root:  python3 tools/make_resources.py [--preview FILE.png] [--check]

The art is drawn here rather than kept as opaque binaries so that it can be improved and made
again. Only the standard library is used, and the output is the same byte for byte on every run:
the metal grain comes from a seeded generator of our own, not from the platform's.

--preview writes a PNG of the whole front panel with the keys, buttons, lamps, knob dot and LED
text pasted where the program puts them, which is the quickest way to judge a change. --check
writes nothing and fails, naming the files, where res/ is not what the generator makes: the
tests run it, so a change to the art and the files it makes go in together.
"""

import argparse
import math
import os
import struct
import sys
import zlib

# --------------------------------------------------------------------------------------------
# Deterministic noise
# --------------------------------------------------------------------------------------------


class Random:
    """A xorshift generator, so the grain never depends on Python's own random module."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF or 1

    def next(self):
        x = self.state
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        self.state = x
        return x / 4294967296.0

    def signed(self):
        return self.next() * 2.0 - 1.0


def clamp(value, low=0.0, high=1.0):
    return low if value < low else high if value > high else value


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def grey(level):
    return (level, level, level)


# --------------------------------------------------------------------------------------------
# Signed distance shapes: negative inside, in pixels. A pixel is sampled at its centre.
# --------------------------------------------------------------------------------------------


def sdf_box(x0, y0, x1, y1, radius=0.0):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - radius, (y1 - y0) / 2 - radius

    def distance(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - radius

    return distance


def sdf_circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def sdf_ring(cx, cy, r, half_width):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - r) - half_width


def segment_distance(x, y, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else clamp(((x - ax) * dx + (y - ay) * dy) / length2)
    return math.hypot(x - (ax + t * dx), y - (ay + t * dy))


def sdf_polyline(points, half_width):
    segments = list(zip(points, points[1:]))

    def distance(x, y):
        return min(segment_distance(x, y, a[0], a[1], b[0], b[1]) for a, b in segments) - half_width

    return distance


def sdf_union(*shapes):
    return lambda x, y: min(shape(x, y) for shape in shapes)


def sdf_intersection(*shapes):
    return lambda x, y: max(shape(x, y) for shape in shapes)


def sdf_subtract(shape, hole):
    return lambda x, y: max(shape(x, y), -hole(x, y))


def sdf_shift(shape, dx, dy):
    return lambda x, y: shape(x - dx, y - dy)


# --------------------------------------------------------------------------------------------
# Canvas: floating-point RGBA, painted with coverage from the shapes above
# --------------------------------------------------------------------------------------------


class Canvas:
    def __init__(self, width, height, colour=(0, 0, 0), alpha=1.0):
        self.width, self.height = width, height
        self.pixels = [[float(colour[0]), float(colour[1]), float(colour[2]), alpha] for _ in range(width * height)]

    def blend(self, x, y, colour, coverage=1.0):
        if coverage <= 0.0 or not (0 <= x < self.width and 0 <= y < self.height):
            return
        pixel = self.pixels[y * self.width + x]
        coverage = min(coverage, 1.0)
        alpha = coverage + pixel[3] * (1.0 - coverage)
        if alpha <= 0.0:
            return
        keep = pixel[3] * (1.0 - coverage)
        for i in range(3):
            pixel[i] = (colour[i] * coverage + pixel[i] * keep) / alpha
        pixel[3] = alpha

    def put(self, x, y, colour):
        self.blend(x, y, colour, 1.0)

    def fill(self, shape, paint, box=None):
        """Paints `shape` with a colour or with a function of (x, y) giving one."""
        x0, y0, x1, y1 = box if box else (0, 0, self.width, self.height)
        x0, y0 = max(0, int(x0)), max(0, int(y0))
        x1, y1 = min(self.width, int(math.ceil(x1))), min(self.height, int(math.ceil(y1)))
        for y in range(y0, y1):
            for x in range(x0, x1):
                coverage = 0.5 - shape(x + 0.5, y + 0.5)
                if coverage > 0.0:
                    colour = paint(x, y) if callable(paint) else paint
                    self.blend(x, y, colour, coverage)

    def rect(self, x, y, w, h, paint):
        for yy in range(y, y + h):
            for xx in range(x, x + w):
                self.put(xx, yy, paint(xx, yy) if callable(paint) else paint)

    def paste(self, other, x, y):
        for yy in range(other.height):
            for xx in range(other.width):
                source = other.pixels[yy * other.width + xx]
                self.blend(x + xx, y + yy, source[:3], source[3])

    def rgb_rows(self):
        rows = []
        for y in range(self.height):
            row = []
            for x in range(self.width):
                pixel = self.pixels[y * self.width + x]
                row.append(tuple(int(clamp(round(pixel[i]), 0, 255)) for i in range(3)))
            rows.append(row)
        return rows

    def rgba_rows(self):
        rows = []
        for y in range(self.height):
            row = []
            for x in range(self.width):
                pixel = self.pixels[y * self.width + x]
                rgb = tuple(int(clamp(round(pixel[i]), 0, 255)) for i in range(3))
                row.append(rgb + (int(clamp(round(pixel[3] * 255), 0, 255)),))
            rows.append(row)
        return rows


# --------------------------------------------------------------------------------------------
# Fonts
# --------------------------------------------------------------------------------------------

# The panel's engraved legends: 5 x 7 capitals, digits and the few signs the labels use.
LABEL_FONT = {
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "B": ["####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."],
    "C": [".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."],
    "D": ["####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "F": ["#####", "#....", "#....", "####.", "#....", "#....", "#...."],
    "G": [".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"],
    "H": ["#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "I": [".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "J": ["..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##.."],
    "K": ["#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"],
    "L": ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    "M": ["#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"],
    "N": ["#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "P": ["####.", "#...#", "#...#", "####.", "#....", "#....", "#...."],
    "Q": [".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "S": [".####", "#....", "#....", ".###.", "....#", "....#", "####."],
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "U": ["#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "V": ["#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    "W": ["#...#", "#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", ".#.#."],
    "X": ["#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"],
    "Y": ["#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."],
    "Z": ["#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"],
    "0": [".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."],
    "1": ["..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "2": [".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"],
    "3": ["#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###."],
    "4": ["...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."],
    "5": ["#####", "#....", "####.", "....#", "....#", "#...#", ".###."],
    "6": ["..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."],
    "7": ["#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."],
    "8": [".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."],
    "9": [".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."],
    "#": [".#.#.", ".#.#.", "#####", ".#.#.", "#####", ".#.#.", ".#.#."],
    "-": [".....", ".....", ".....", ".###.", ".....", ".....", "....."],
    "+": [".....", "..#..", "..#..", "#####", "..#..", "..#..", "....."],
    ":": [".....", "..#..", ".....", ".....", ".....", "..#..", "....."],
    ".": [".....", ".....", ".....", ".....", ".....", ".##..", ".##.."],
    " ": [".....", ".....", ".....", ".....", ".....", ".....", "....."],
}

# Small print for secondary legends: 3 x 5 capitals and digits.
SMALL_FONT = {
    "A": [".#.", "#.#", "###", "#.#", "#.#"],
    "B": ["##.", "#.#", "##.", "#.#", "##."],
    "C": [".##", "#..", "#..", "#..", ".##"],
    "D": ["##.", "#.#", "#.#", "#.#", "##."],
    "E": ["###", "#..", "##.", "#..", "###"],
    "F": ["###", "#..", "##.", "#..", "#.."],
    "G": [".##", "#..", "#.#", "#.#", ".##"],
    "H": ["#.#", "#.#", "###", "#.#", "#.#"],
    "I": ["###", ".#.", ".#.", ".#.", "###"],
    "K": ["#..#", "#.#.", "##..", "#.#.", "#..#"],
    "L": ["#..", "#..", "#..", "#..", "###"],
    "M": ["#...#", "##.##", "#.#.#", "#...#", "#...#"],
    "N": ["#..#", "##.#", "#.##", "#..#", "#..#"],
    "O": [".#.", "#.#", "#.#", "#.#", ".#."],
    "P": ["##.", "#.#", "##.", "#..", "#.."],
    "R": ["##.", "#.#", "##.", "#.#", "#.#"],
    "S": [".##", "#..", ".#.", "..#", "##."],
    "T": ["###", ".#.", ".#.", ".#.", ".#."],
    "U": ["#.#", "#.#", "#.#", "#.#", "###"],
    "V": ["#.#", "#.#", "#.#", "#.#", ".#."],
    "Y": ["#.#", "#.#", ".#.", ".#.", ".#."],
    "0": ["###", "#.#", "#.#", "#.#", "###"],
    "1": [".#.", "##.", ".#.", ".#.", "###"],
    "4": ["#.#", "#.#", "###", "..#", "..#"],
    "8": ["###", "#.#", "###", "#.#", "###"],
    "-": ["...", "...", "###", "...", "..."],
    " ": ["...", "...", "...", "...", "..."],
}


def text_width(text, font):
    return sum(len(font[c][0]) + 1 for c in text) - 1 if text else 0


def draw_text(canvas, x, y, text, colour, font=LABEL_FONT):
    for char in text:
        glyph = font[char]
        for row, line in enumerate(glyph):
            for col, bit in enumerate(line):
                if bit == "#":
                    canvas.put(x + col, y + row, colour)
        x += len(glyph[0]) + 1


ENGRAVE_INK = (34, 34, 36)
ENGRAVE_GLINT = (236, 236, 234)


def engrave(canvas, x, y, text, font=LABEL_FONT):
    """Cut lettering: the ink in the groove, and the lower edge of the cut catching the light."""
    draw_text(canvas, x + 1, y + 1, text, ENGRAVE_GLINT, font)
    draw_text(canvas, x, y, text, ENGRAVE_INK, font)


# The product name is drawn from strokes, so its diagonals come out smooth and bold.
# Each letter is a list of polylines in a box one unit wide and one unit high.
LOGO_STROKES = {
    "V": [[(0.0, 0.0), (0.5, 1.0), (1.0, 0.0)]],
    "A": [[(0.0, 1.0), (0.5, 0.0), (1.0, 1.0)], [(0.24, 0.66), (0.76, 0.66)]],
    "R": [[(0.0, 1.0), (0.0, 0.0), (0.66, 0.0), (0.9, 0.1), (0.96, 0.26), (0.9, 0.42), (0.66, 0.52), (0.0, 0.52)],
          [(0.52, 0.52), (0.98, 1.0)]],
    "N": [[(0.0, 1.0), (0.0, 0.0), (1.0, 1.0), (1.0, 0.0)]],
    "E": [[(0.96, 0.0), (0.0, 0.0), (0.0, 1.0), (0.96, 1.0)], [(0.0, 0.5), (0.78, 0.5)]],
    "K": [[(0.0, 0.0), (0.0, 1.0)], [(0.98, 0.0), (0.08, 0.62)], [(0.36, 0.42), (0.98, 1.0)]],
}


def logo_shape(text, x, y, letter_width, height, gap, stroke):
    half = stroke / 2
    shapes = []
    for i, char in enumerate(text):
        left = x + i * (letter_width + gap)
        points_scale = lambda p, l=left: (l + half + p[0] * (letter_width - stroke), y + half + p[1] * (height - stroke))
        letter = sdf_union(*[sdf_polyline([points_scale(p) for p in line], half) for line in LOGO_STROKES[char]])
        # Clipping each letter to its box squares off the stroke ends at the top and bottom.
        shapes.append(sdf_intersection(letter, sdf_box(left, y, left + letter_width, y + height)))
    return sdf_union(*shapes)


# --------------------------------------------------------------------------------------------
# Palettes
# --------------------------------------------------------------------------------------------


def nearest_index(palette, colour, cache):
    found = cache.get(colour)
    if found is None:
        r, g, b = colour
        found = min(range(len(palette)),
                    key=lambda i: (palette[i][0] - r) ** 2 * 3 + (palette[i][1] - g) ** 2 * 4 + (palette[i][2] - b) ** 2 * 2)
        cache[colour] = found
    return found


def median_cut(histogram, count):
    """Reduces a colour histogram to `count` colours, splitting the box with the widest spread."""
    boxes = [list(histogram.items())]
    while len(boxes) < count:
        best, best_spread, best_channel = None, 0, 0
        for index, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for channel in range(3):
                values = [c[channel] for c, _ in box]
                spread = (max(values) - min(values)) * math.sqrt(sum(n for _, n in box))
                if spread > best_spread:
                    best, best_spread, best_channel = index, spread, channel
        if best is None:
            break
        box = sorted(boxes.pop(best), key=lambda item: (item[0][best_channel], item[0]))
        total, running, split = sum(n for _, n in box), 0, 1
        for split in range(1, len(box)):
            running += box[split - 1][1]
            if running * 2 >= total:
                break
        boxes += [box[:split], box[split:]]
    palette = []
    for box in boxes:
        total = sum(n for _, n in box)
        palette.append(tuple(int(round(sum(c[i] * n for c, n in box) / total)) for i in range(3)))
    return palette


def indexed(rows, size=256, grey_levels=160):
    """Gives an image a colour table of `size` entries and its pixels as indices into it.

    Small images keep their exact colours. A large one gets a fine grey ramp, which carries the
    brushed metal and its gradients without banding, and the rest of the table for its colours.
    """
    colours = sorted({c for row in rows for c in row})
    if len(colours) <= size:
        palette = colours
    else:
        ramp = [grey(int(round(i * 255 / (grey_levels - 1)))) for i in range(grey_levels)]
        histogram = {}
        for row in rows:
            for c in row:
                if max(c) - min(c) > 3:
                    histogram[c] = histogram.get(c, 0) + 1
        palette = ramp + sorted(median_cut(histogram, size - grey_levels))
    palette = palette + [(0, 0, 0)] * (size - len(palette))
    exact = {c: i for i, c in enumerate(palette)}
    cache = dict(exact)
    return palette, [[cache[c] if c in cache else nearest_index(palette, c, cache) for c in row] for row in rows]


# --------------------------------------------------------------------------------------------
# File formats
# --------------------------------------------------------------------------------------------


def bmp_bytes(palette, indices, bits):
    """An uncompressed Windows bitmap with a colour table, rows stored bottom-up."""
    height, width = len(indices), len(indices[0])
    stride = (width * bits + 31) // 32 * 4
    body = bytearray()
    for row in reversed(indices):
        line = bytearray()
        if bits == 8:
            line += bytes(row)
        else:
            for x in range(0, width, 2):
                high = row[x]
                low = row[x + 1] if x + 1 < width else 0
                line.append(high << 4 | low)
        body += line + bytes(stride - len(line))
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    offset = 14 + 40 + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(body), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(body), 2835, 2835, len(palette), 0)
    return header + info + table + bytes(body)


def mask_rows_bytes(rows_of_bits):
    """1-bit rows, bottom-up, each padded to 32 bits."""
    body = bytearray()
    for row in reversed(rows_of_bits):
        line = bytearray((len(row) + 31) // 32 * 4)
        for x, bit in enumerate(row):
            if bit:
                line[x // 8] |= 0x80 >> (x % 8)
        body += line
    return bytes(body)


def cursor_bytes(mask, hot_x, hot_y):
    """A monochrome .cur file. `mask` holds rows of '.', '#' (black) and 'o' (white)."""
    size = len(mask)
    xor = mask_rows_bytes([[c == "o" for c in row] for row in mask])
    and_mask = mask_rows_bytes([[c == "." for c in row] for row in mask])
    table = struct.pack("<BBBBBBBB", 0, 0, 0, 0, 255, 255, 255, 0)
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 1, 0, len(xor) + len(and_mask), 0, 0, 2, 0)
    image = info + table + xor + and_mask
    directory = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", size, size, 2, 0, hot_x, hot_y, len(image), 6 + 16)
    return directory + entry + image


def icon_bytes(images):
    """A .ico file of 32-bit BGRA images, each with the AND mask older readers still want."""
    blobs = []
    for rows in images:
        height, width = len(rows), len(rows[0])
        xor = b"".join(bytes(b for r, g, b_, a in row for b in (b_, g, r, a)) for row in reversed(rows))
        and_mask = mask_rows_bytes([[a < 128 for *_, a in row] for row in rows])
        info = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
        blobs.append((width, height, info + xor + and_mask))
    directory = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    entries = b""
    for width, height, blob in blobs:
        entries += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    return directory + entries + b"".join(blob for *_, blob in blobs)


def png_bytes(rows):
    """An 8-bit RGBA PNG."""
    height, width = len(rows), len(rows[0])
    raw = b"".join(b"\0" + bytes(v for pixel in row for v in pixel) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def read_file(path):
    try:
        with open(path, "rb") as file:
            return file.read()
    except OSError:
        return None


def write_file(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as file:
        file.write(data)


# --------------------------------------------------------------------------------------------
# Piano keys (16 colours each)
# --------------------------------------------------------------------------------------------

KEY_COLOURS = {
    ".": (0, 0, 0),        # black
    "W": (255, 255, 255),  # white
    "i": (246, 246, 240),  # ivory, lower face
    "l": (228, 228, 222),  # light grey, key front
    "s": (196, 196, 188),  # shade under the keybed lip
    "m": (150, 150, 140),  # deeper shade
    "O": (112, 112, 52),   # olive
    "d": (70, 70, 30),     # dark olive
    "k": (26, 26, 26),     # black key face
    "g": (44, 44, 44),     # black key front
    "h": (210, 210, 210),  # black key highlight
}


def key_rows(width, height, painter):
    return [[painter(x, y) for x in range(width)] for y in range(height)]


def white_key_up(x, y):
    if x == 19 or y == 69:
        return "d"
    if x == 18 or y >= 67:
        return "O"
    if y == 66:
        return "l"
    if y == 0:
        return "m"
    if y == 1:
        return "s"
    return "W" if y < 62 else "i"


def white_key_down(x, y):
    if x in (0, 19) or y in (0, 69):
        return "."
    if y == 1:
        return "m"
    if y == 2:
        return "s"
    return "W" if y < 62 else "i"


def black_key_up(x, y):
    if x == 11 or y == 44:
        return "d"
    if x == 10 or y >= 41:
        return "O"
    if y == 0 or x == 0:
        return "h"
    return "g" if y >= 37 else "k"


def black_key_down(x, y):
    return "."


KEY_IMAGES = {
    "WHITE_NOTE_U": (20, 70, white_key_up),
    "WHITE_NOTE_D": (20, 70, white_key_down),
    "BLACK_NOTE_U": (12, 45, black_key_up),
    "BLACK_NOTE_D": (12, 45, black_key_down),
}


def key_canvas(name):
    width, height, painter = KEY_IMAGES[name]
    canvas = Canvas(width, height)
    for y, row in enumerate(key_rows(width, height, painter)):
        for x, code in enumerate(row):
            canvas.put(x, y, KEY_COLOURS[code])
    return canvas


def key_bitmap(name):
    width, height, painter = KEY_IMAGES[name]
    codes = list(KEY_COLOURS)
    palette = [KEY_COLOURS[c] for c in codes] + [(0, 0, 0)] * (16 - len(codes))
    indices = [[codes.index(c) for c in row] for row in key_rows(width, height, painter)]
    return bmp_bytes(palette, indices, 4)


# --------------------------------------------------------------------------------------------
# Rack buttons, lamps, program buttons, knob dot and LED field
# --------------------------------------------------------------------------------------------

LAMP_RED = {"core": (255, 226, 206), "lens": (236, 40, 28), "rim": (140, 14, 10), "glow": (255, 70, 50)}
LAMP_GREEN = {"core": (214, 255, 206), "lens": (42, 220, 56), "rim": (14, 110, 22), "glow": (80, 255, 90)}


KEY_CAP = {
    # pressed  face top..bottom  top edge  left edge  lower lip  outer edge
    False: {"face": (200, 176), "top": 238, "left": 238, "lip": 110, "edge": 58},
    True:  {"face": (182, 162), "top": 114, "left": 70,  "lip": 150, "edge": 58},
}


def key_cap(pressed):
    """The bevelled grey cap of a 30 x 12 rack key. Pushed in, it sits a pixel lower, its face
    darker and its top in the shadow of the panel's edge."""
    look = KEY_CAP[pressed]
    canvas = Canvas(30, 12, grey(52))
    top = 1 if pressed else 0
    face_top, face_bottom = look["face"]
    for y in range(top, 12):
        for x in range(30):
            canvas.put(x, y, grey(face_top + (face_bottom - face_top) * (y - top) / 11))
    for x in range(30):
        canvas.put(x, top, grey(look["top"]))
        canvas.put(x, 10, grey(look["lip"]))
        canvas.put(x, 11, grey(look["edge"]))
    for y in range(top, 12):
        canvas.put(0, y, grey(look["left"]))
        canvas.put(28, y, grey(look["lip"]))
        canvas.put(29, y, grey(look["edge"]))
    for corner in ((0, top), (29, top), (0, 11), (29, 11)):
        canvas.blend(corner[0], corner[1], grey(60), 0.6)
    return canvas


def lamp_window(canvas, lamp, top):
    """The lamp in the key's right half: lit, with its light spilling onto the cap, or dark."""
    x0, y0 = 17, 3 + top
    cx, cy = x0 + 4.5, y0 + 2.5
    rim = sdf_box(x0 - 1.0, y0 - 1.0, x0 + 10.0, y0 + 6.0, 1.6)
    lens = sdf_box(x0 + 0.0, y0 + 0.0, x0 + 9.0, y0 + 5.0, 1.2)
    if lamp is None:
        canvas.fill(rim, grey(78))
        canvas.fill(lens, lambda x, y: grey(128 - 8 * (y - y0)))
        canvas.put(x0 + 2, y0 + 1, grey(176))
        canvas.put(x0 + 3, y0 + 1, grey(156))
        return
    for y in range(top + 1, 11):
        for x in range(1, 28):
            distance = math.hypot((x + 0.5 - cx) / 1.6, y + 0.5 - cy)
            canvas.blend(x, y, lamp["glow"], clamp(0.55 - distance * 0.075))
    canvas.fill(rim, lamp["rim"])

    def glass(x, y):
        distance = math.hypot((x + 0.5 - cx) / 2.2, (y + 0.5 - cy) / 1.3)
        return mix(lamp["core"], lamp["lens"], clamp(distance / 2.2))

    canvas.fill(lens, glass)


def rack_key(lamp, pressed, has_lamp=True):
    canvas = key_cap(pressed)
    if has_lamp:
        lamp_window(canvas, lamp, 1 if pressed else 0)
    return canvas


def program_button(pressed):
    """The 6 x 15 grip strip beside the knob: three engraved dots, yellow while held."""
    canvas = Canvas(6, 15)
    base = (232, 188, 40) if pressed else (186, 186, 186)
    light = (255, 238, 150) if pressed else (240, 240, 240)
    dark = (150, 104, 0) if pressed else (96, 96, 96)
    deep = (100, 66, 0) if pressed else (60, 60, 60)
    for y in range(15):
        for x in range(6):
            t = y / 14
            canvas.put(x, y, mix(mix(base, light, 0.25), mix(base, dark, 0.25), t))
    for y in range(15):
        canvas.put(0, y, light)
        canvas.put(5, y, deep)
        canvas.put(4, y, mix(base, dark, 0.6))
    for x in range(6):
        canvas.put(x, 0, light)
        canvas.put(x, 14, deep)
    canvas.put(0, 14, mix(light, deep, 0.5))
    canvas.put(5, 0, mix(light, deep, 0.5))
    for y in (3, 6, 9):
        for dy in (0, 1):
            canvas.put(2, y + dy + 0, deep)
            canvas.put(3, y + dy + 0, deep)
        canvas.put(2, y + 2, light)
        canvas.put(3, y + 2, light)
    return canvas


def yellow_lamp(lit):
    canvas = Canvas(9, 4)
    if lit:
        rows = [(255, 252, 196), (255, 232, 60), (255, 208, 20), (196, 140, 0)]
        edge = (214, 150, 0)
    else:
        rows = [(150, 150, 118), (112, 112, 82), (100, 100, 72), (72, 72, 50)]
        edge = (84, 84, 60)
    for y, colour in enumerate(rows):
        for x in range(9):
            canvas.put(x, y, colour)
        canvas.put(0, y, mix(colour, edge, 0.7))
        canvas.put(8, y, mix(colour, edge, 0.7))
    if lit:
        canvas.put(3, 1, (255, 250, 200))
        canvas.put(4, 1, (255, 255, 230))
        canvas.put(5, 1, (255, 250, 200))
    return canvas


# The knob's track: the dot rides in it, so the dot's corners are painted in the same grey.
KNOB_TRACK = (66, 66, 66)


def knob_dot(held):
    canvas = Canvas(5, 5, KNOB_TRACK)
    arm, centre = ((255, 214, 0), (255, 250, 170)) if held else ((206, 206, 206), (250, 250, 250))
    for i in range(5):
        canvas.put(2, i, arm)
        canvas.put(i, 2, arm)
    canvas.put(2, 2, centre)
    for corner in ((1, 1), (3, 1), (1, 3), (3, 3)):
        canvas.put(corner[0], corner[1], mix(KNOB_TRACK, arm, 0.25))
    return canvas


def led_field():
    return Canvas(220, 15, (60, 60, 60))


# --------------------------------------------------------------------------------------------
# The panel
# --------------------------------------------------------------------------------------------

RACK_W, RACK_H = 600, 200
DISPLAY = (157, 0, 442, 61)          # inclusive pixel bounds of the display window
LED_AT = (200, 24, 220, 15)
KNOB_CENTRE = (299.5, 89.5)          # the dot's centre circles here, 13 pixels out
POWER_AT = (36, 53)
SIDE_BUTTONS = [("MENU", 537, 32), ("HOT-KEY", 537, 53), ("ABOUT", 537, 74)]
PROGRAM_BUTTONS = [(274, 81), (319, 81)]
STYLE_BUTTONS = [
    # name       x    y   label side
    ("NONE",    174, 64, "right"),
    ("WALTZ",   158, 80, "right"),
    ("ROCK",    158, 96, "right"),
    ("MARCH",   174, 112, "right"),
    ("CHA-CHA", 396, 64, "left"),
    ("RUMBA",   412, 80, "left"),
    ("TANGO",   412, 96, "left"),
    ("DISCO",   396, 112, "left"),
]
CHORD_LAMPS = [
    # label  x
    ("F",  23), ("#",  35), ("G",  45), ("#",  55), ("A",  65), ("#",  75),
    ("B",  87), ("C", 103), ("#", 115), ("D", 125), ("#", 135), ("E", 147),
]
LAMP_Y = 122
KEY_TOP = 128
BLACK_NOTES = (1, 3, 5, 8, 10)


def piano_keys():
    """(x, is_white) for the 48 keys, F to E over four octaves."""
    keys = []
    for i in range(48):
        n, o = i % 12, i // 12
        if n in BLACK_NOTES:
            keys.append((20 * (7 * o + n // 2) + 33, False))
        else:
            keys.append((20 * (7 * o + (n + 1) // 2 + 1), True))
    return keys


def brushed_metal(canvas):
    """Grey sheet with a long horizontal grain, lit a little more at the top than the bottom."""
    rng = Random(0x5EED)
    streak_length = 48
    for y in range(RACK_H):
        line = [rng.signed() for _ in range(RACK_W + streak_length)]
        running = sum(line[:streak_length])
        row_offset = rng.signed() * 1.6
        vertical = 184 - 20 * (y / (RACK_H - 1)) + 6 * math.exp(-y / 10.0)
        for x in range(RACK_W):
            grain = running / math.sqrt(streak_length) * 2.2
            running += line[x + streak_length] - line[x]
            fine = rng.signed() * 1.3
            sheen = 4.0 * math.cos((x - 170) / RACK_W * math.pi)
            canvas.put(x, y, grey(vertical + grain + fine + row_offset + sheen))


def edge_frame(canvas):
    """The sheet's folded edges: lit along the top and left, in shadow along the bottom and right."""
    for x in range(RACK_W):
        canvas.blend(x, 0, grey(246), 0.8)
        canvas.blend(x, 1, grey(230), 0.3)
        canvas.blend(x, RACK_H - 1, grey(64), 0.9)
        canvas.blend(x, RACK_H - 2, grey(96), 0.5)
    for y in range(RACK_H):
        canvas.blend(0, y, grey(240), 0.7)
        canvas.blend(RACK_W - 1, y, grey(70), 0.85)
        canvas.blend(RACK_W - 2, y, grey(110), 0.4)


def groove_vertical(canvas, x, y0, y1):
    for y in range(y0, y1):
        canvas.blend(x, y, grey(70), 0.75)
        canvas.blend(x + 1, y, grey(240), 0.7)


def screw(canvas, cx, cy):
    """A countersunk Phillips screw in a rack-ear slot."""
    canvas.fill(sdf_box(cx - 4.6, cy - 6.2, cx + 4.6, cy + 6.2, 4.6), grey(56), (cx - 6, cy - 8, cx + 6, cy + 8))
    canvas.fill(sdf_box(cx - 3.8, cy - 5.4, cx + 4.6, cy + 6.2, 4.2), grey(30), (cx - 6, cy - 8, cx + 6, cy + 8))
    canvas.fill(sdf_ring(cx, cy, 4.0, 0.7), grey(38))

    def head(x, y):
        # A dome lit from the upper left.
        dx, dy = (x + 0.5 - cx) / 3.6, (y + 0.5 - cy) / 3.6
        light = clamp(1.0 - math.hypot(dx + 0.45, dy + 0.45) * 0.7)
        return grey(92 + 150 * light)

    canvas.fill(sdf_circle(cx, cy, 3.6), head, (cx - 5, cy - 5, cx + 5, cy + 5))
    slot = sdf_union(sdf_polyline([(cx - 2.3, cy), (cx + 2.3, cy)], 0.55),
                     sdf_polyline([(cx, cy - 2.3), (cx, cy + 2.3)], 0.55))
    canvas.fill(sdf_shift(slot, 0.6, 0.6), grey(220), (cx - 5, cy - 5, cx + 5, cy + 5))
    canvas.fill(slot, grey(40), (cx - 5, cy - 5, cx + 5, cy + 5))


def rack_ears(canvas):
    for x in (14, RACK_W - 16):
        groove_vertical(canvas, x, 2, RACK_H - 2)
    for cx in (7.5, RACK_W - 7.5):
        for cy in (13.5, RACK_H - 13.5):
            screw(canvas, cx, cy)


def display_window(canvas):
    x0, y0, x1, y1 = DISPLAY
    lx, ly, lw, lh = LED_AT
    # A chamfer around the cut-out: in shadow on the left, catching the light on the right and
    # below, as the sheet bends down into the window.
    for y in range(y0, y1 + 3):
        canvas.blend(x0 - 2, y, grey(230), 0.55)
        canvas.blend(x0 - 1, y, grey(120), 0.8)
        canvas.blend(x1 + 1, y, grey(250), 0.8)
        canvas.blend(x1 + 2, y, grey(214), 0.5)
    for x in range(x0 - 1, x1 + 2):
        canvas.blend(x, y1 + 1, grey(252), 0.85)
        canvas.blend(x, y1 + 2, grey(150), 0.5)

    def glass(x, y):
        # Smoked glass: near black, a faint cool tint, deeper towards the top where the bezel
        # overhangs, with one soft diagonal reflection.
        depth = clamp((y - y0) / (y1 - y0))
        edge = min(x - x0, x1 - x, y - y0 + 2, y1 - y) / 6.0
        base = 12 + 12 * depth + 6 * clamp(edge) - 6
        band = (x - x0) - (y - y0) * 1.6
        reflection = 7.0 * math.exp(-((band - 210) / 26.0) ** 2) + 4.0 * math.exp(-((band - 60) / 14.0) ** 2)
        level = base + reflection
        return (level * 0.92, level * 0.97, level * 1.12 + 2)

    canvas.rect(x0, y0, x1 - x0 + 1, y1 - y0 + 1, glass)
    # The inner bevel of the window: its walls in shadow above and to the left, lit below and right.
    for y in range(y0, y1 + 1):
        canvas.put(x0, y, grey(8))
        canvas.blend(x0 + 1, y, grey(4), 0.6)
        canvas.put(x1, y, grey(88))
        canvas.blend(x1 - 1, y, grey(58), 0.6)
    for x in range(x0, x1 + 1):
        canvas.put(x, y1, grey(104 if x > x0 else 40))
        canvas.blend(x, y1 - 1, grey(64), 0.6)
        canvas.blend(x, y0, grey(0), 0.8)
        canvas.blend(x, y0 + 1, grey(0), 0.5)

    # The LED strip sits in its own shallow bezel so the flat grey field reads as a screen.
    bezel = sdf_box(lx - 5, ly - 5, lx + lw + 5, ly + lh + 5, 3.0)
    canvas.fill(bezel, lambda x, y: grey(42 - 10 * clamp((y - ly + 5) / (lh + 10))))
    canvas.fill(sdf_subtract(bezel, sdf_box(lx - 4, ly - 4, lx + lw + 4, ly + lh + 4, 2.5)), grey(66))
    canvas.fill(sdf_box(lx - 4, ly - 4, lx + lw + 4, ly - 3, 1.0), grey(74))
    for x in range(lx - 1, lx + lw + 1):
        canvas.put(x, ly - 1, grey(6))
        canvas.put(x, ly + lh, grey(92))
    for y in range(ly - 1, ly + lh + 1):
        canvas.put(lx - 1, y, grey(6))
        canvas.put(lx + lw, y, grey(84))
    canvas.rect(lx, ly, lw, lh, (60, 60, 60))
    # Dim print on the glass above the screen.
    draw_text(canvas, lx, ly - 12, "VOICE", grey(96), SMALL_FONT)
    label = "MIDI OUT"
    draw_text(canvas, lx + lw - text_width(label, SMALL_FONT), ly - 12, label, grey(96), SMALL_FONT)
    canvas.fill(sdf_circle(lx + lw - text_width(label, SMALL_FONT) - 6.5, ly - 9.5, 1.6), (40, 110, 40))


def recess(canvas, x, y, w, h):
    """The hole a key or lamp sits in: a dark wall above and to the left, a lit lip below and right."""
    for xx in range(x - 1, x + w + 1):
        canvas.blend(xx, y - 1, grey(40), 0.85)
        canvas.blend(xx, y - 2, grey(90), 0.25)
        canvas.blend(xx, y + h, grey(246), 0.85)
    for yy in range(y - 1, y + h + 1):
        canvas.blend(x - 1, yy, grey(50), 0.85)
        canvas.blend(x - 2, yy, grey(90), 0.2)
        canvas.blend(x + w, yy, grey(240), 0.8)


def bezel(canvas, keys, margin=3):
    """A darker moulded surround, raised a little off the sheet, holding one group of keys."""
    plate = sdf_union(*[sdf_box(x - margin, y - margin, x + 30 + margin, y + 12 + margin, 2.5) for x, y in keys])
    top, bottom = min(y for _, y in keys) - margin, max(y for _, y in keys) + 12 + margin
    box = (min(x for x, _ in keys) - margin - 2, top - 2, max(x for x, _ in keys) + 30 + margin + 2, bottom + 2)
    canvas.fill(sdf_shift(plate, 1, 1), grey(104), box)
    canvas.fill(sdf_shift(plate, -0.6, -0.6), grey(228), box)
    canvas.fill(plate, lambda xx, yy: grey(148 - 14 * clamp((yy - top) / (bottom - top))), box)
    for x, y in keys:
        recess(canvas, x, y, 30, 12)
        canvas.rect(x, y, 30, 12, grey(60))


def grille(canvas, x, y, columns, rows, slot=26, gap=5, pitch=5):
    """Ventilation slots punched through the sheet."""
    for row in range(rows):
        for column in range(columns):
            left, top = x + column * (slot + gap), y + row * pitch
            hole = sdf_box(left, top, left + slot, top + 2, 1.0)
            box = (left - 1, top - 1, left + slot + 2, top + 4)
            canvas.fill(sdf_shift(hole, 0, 1), grey(240), box)
            canvas.fill(hole, lambda xx, yy, t=top: grey(40 + 30 * (yy - t)), box)


def section_heading(canvas, text, x0, x1, y):
    """Small engraved print centred between two rules."""
    width = text_width(text, SMALL_FONT)
    left = (x0 + x1) // 2 - width // 2
    engrave(canvas, left, y, text, SMALL_FONT)
    engraved_line(canvas, x0, y + 2, left - 4, y + 2)
    engraved_line(canvas, left + width + 3, y + 2, x1, y + 2)


def engraved_line(canvas, x0, y0, x1, y1):
    for x in range(x0, x1 + 1):
        for y in range(y0, y1 + 1):
            canvas.put(x + 1, y + 1, ENGRAVE_GLINT)
    for x in range(x0, x1 + 1):
        for y in range(y0, y1 + 1):
            canvas.put(x, y, ENGRAVE_INK)


def logo(canvas):
    x, y, letter_w, letter_h, gap = 20, 11, 15, 17, 4
    shape = logo_shape("VARNEK", x, y, letter_w, letter_h, gap, 3.6)
    box = (x - 2, y - 2, x + 6 * (letter_w + gap) + 2, y + letter_h + 3)
    canvas.fill(sdf_shift(shape, 1.0, 1.0), ENGRAVE_GLINT, box)
    canvas.fill(shape, lambda xx, yy: mix((20, 20, 22), (58, 58, 62), clamp((yy - y) / letter_h)), box)
    # A red rule and the product line under the name.
    right = x + 6 * letter_w + 5 * gap
    for xx in range(x, x + 24):
        canvas.put(xx, y + letter_h + 5, (196, 32, 28))
        canvas.put(xx, y + letter_h + 6, (150, 20, 18))
        canvas.put(xx, y + letter_h + 7, ENGRAVE_GLINT)
    model = "MODEL VK-48"
    engrave(canvas, RACK_W - 22 - text_width(model, SMALL_FONT), 9, model, SMALL_FONT)
    sub = "MIDI KEYBOARD"
    engrave(canvas, right - text_width(sub, SMALL_FONT), y + letter_h + 4, sub, SMALL_FONT)


def knob(canvas):
    cx, cy = KNOB_CENTRE
    box = (cx - 32, cy - 24, cx + 32, cy + 24)
    # Grips on both sides carry the program buttons.
    for bx, by in PROGRAM_BUTTONS:
        grip = sdf_box(bx - 3, by - 3, bx + 9, by + 18, 3.0)
        canvas.fill(sdf_shift(grip, 1.2, 1.4), grey(84), box)
        canvas.fill(grip, lambda x, y: grey(132 - 24 * clamp((y - by + 3) / 21)), box)
        canvas.fill(sdf_subtract(grip, sdf_shift(grip, 0.9, 0.9)), grey(214), box)
        recess(canvas, bx, by, 6, 15)
        canvas.rect(bx, by, 6, 15, grey(60))
    # The well the knob turns in, then its skirt with knurls, then the face.
    canvas.fill(sdf_circle(cx + 0.8, cy + 1.0, 21.5), grey(70), box)
    canvas.fill(sdf_circle(cx - 0.6, cy - 0.6, 21.0), grey(236), box)
    canvas.fill(sdf_circle(cx, cy, 20.5), grey(44), box)

    def skirt(x, y):
        angle = math.atan2(y + 0.5 - cy, x + 0.5 - cx)
        lit = 0.5 + 0.5 * math.cos(angle + 2.3)
        knurl = 0.5 + 0.5 * math.cos(angle * 36)
        return grey(84 + 100 * lit + 34 * knurl * (0.4 + lit))

    canvas.fill(sdf_circle(cx, cy, 19.5), skirt, box)
    canvas.fill(sdf_ring(cx, cy, 17.5, 0.35), grey(30), box)
    canvas.fill(sdf_circle(cx, cy, 17.2), KNOB_TRACK, box)

    def rim(x, y):
        # The track's outer lip, lit where it faces the upper left.
        angle = math.atan2(y + 0.5 - cy, x + 0.5 - cx)
        return grey(70 + 90 * clamp(math.cos(angle + 2.35)) ** 1.5)

    canvas.fill(sdf_ring(cx, cy, 16.9, 0.4), rim, box)

    def cap(x, y):
        # Spun aluminium: fine concentric rings and a broad highlight from the upper left.
        dx, dy = x + 0.5 - cx, y + 0.5 - cy
        r = math.hypot(dx, dy)
        angle = math.atan2(dy, dx)
        light = 0.5 + 0.5 * math.cos(2 * (angle + 2.35))
        rings = 4.0 * math.sin(r * 2.6)
        return grey(150 + 70 * light + rings - 1.5 * r)

    canvas.fill(sdf_circle(cx, cy, 9.6), grey(30), box)
    canvas.fill(sdf_circle(cx, cy, 9.0), cap, box)
    canvas.fill(sdf_circle(cx, cy, 1.6), grey(120), box)


def program_legend(canvas):
    cx, cy = KNOB_CENTRE
    radius = 25.5
    for side in (1, -1):
        points = [(cx + side * radius * math.sin(a), cy + radius * math.cos(a))
                  for a in [0.28 + i * 0.06 for i in range(13)]]
        end = points[-1]
        heading = math.atan2(end[1] - points[-2][1], end[0] - points[-2][0])
        head = [(end[0] + 4.2 * math.cos(heading + s * 2.45), end[1] + 4.2 * math.sin(heading + s * 2.45)) for s in (1, -1)]
        arrow = sdf_union(sdf_polyline(points, 0.6), sdf_polyline([head[0], end, head[1]], 0.65))
        box = (cx - 40, cy + 2, cx + 40, cy + 40)
        canvas.fill(sdf_shift(arrow, 1, 1), ENGRAVE_GLINT, box)
        canvas.fill(arrow, ENGRAVE_INK, box)
    word = "PROGRAM"
    wx = int(cx) - text_width(word, LABEL_FONT) // 2
    engrave(canvas, wx, 116, word)
    engrave(canvas, wx - 10, 116, "-")
    engrave(canvas, wx + text_width(word, LABEL_FONT) + 4, 116, "+")


def labels(canvas):
    power = "POWER"
    engrave(canvas, POWER_AT[0] + 15 - text_width(power, LABEL_FONT) // 2, POWER_AT[1] - 11, power)
    for name, x, y in SIDE_BUTTONS:
        engrave(canvas, x - 6 - text_width(name, LABEL_FONT), y + 2, name)
    for name, x, y, side in STYLE_BUTTONS:
        lx = x + 30 + 6 if side == "right" else x - 6 - text_width(name, LABEL_FONT)
        engrave(canvas, lx, y + 2, name)
    for name, x in CHORD_LAMPS:
        engrave(canvas, x + 2, LAMP_Y - 9, name)


def keybed(canvas):
    keys = piano_keys()
    left, right = 20, 580
    # Cheeks and back rail of the keybed, and the felt strip the keys rest under.
    canvas.fill(sdf_box(left - 5, KEY_TOP - 2, right + 5, RACK_H + 4, 1.5),
                lambda x, y: grey(30 + 10 * clamp((y - KEY_TOP) / 70)), (0, KEY_TOP - 4, RACK_W, RACK_H))
    for x in range(left - 5, right + 5):
        canvas.blend(x, KEY_TOP - 3, grey(250), 0.6)
    for y in range(KEY_TOP - 2, RACK_H - 1):
        canvas.blend(left - 5, y, grey(12), 0.7)
        canvas.blend(right + 4, y, grey(80), 0.7)
    for x in range(left, right):
        canvas.put(x, KEY_TOP - 2, (120, 26, 30))
        canvas.put(x, KEY_TOP - 1, (84, 14, 18))
    for x, white in keys:
        if white:
            canvas.paste(key_canvas("WHITE_NOTE_U"), x, KEY_TOP)
    for x, white in keys:
        if not white:
            canvas.paste(key_canvas("BLACK_NOTE_U"), x, KEY_TOP)


def rack():
    canvas = Canvas(RACK_W, RACK_H)
    brushed_metal(canvas)
    edge_frame(canvas)
    rack_ears(canvas)
    display_window(canvas)
    logo(canvas)
    bezel(canvas, [POWER_AT])
    bezel(canvas, [(x, y) for _, x, y in SIDE_BUTTONS])
    bezel(canvas, [(x, y) for _, x, y, side in STYLE_BUTTONS if side == "right"])
    bezel(canvas, [(x, y) for _, x, y, side in STYLE_BUTTONS if side == "left"])
    grille(canvas, 25, 74, 4, 5)
    grille(canvas, 456, 98, 4, 4)
    section_heading(canvas, "CHORD KEY", 23, 150, 102)
    for _, x in CHORD_LAMPS:
        recess(canvas, x, LAMP_Y, 9, 4)
        canvas.rect(x, LAMP_Y, 9, 4, (72, 72, 50))
    knob(canvas)
    program_legend(canvas)
    labels(canvas)
    keybed(canvas)
    return canvas


# --------------------------------------------------------------------------------------------
# Cursors
# --------------------------------------------------------------------------------------------


class Pose:
    """Places a hand drawn upright (fingers towards -y) on the cursor: turned by `angle`
    (negative leans it to the left) and moved by (dx, dy)."""

    def __init__(self, angle, dx=0.0, dy=0.0):
        self.cos, self.sin, self.dx, self.dy = math.cos(angle), math.sin(angle), dx, dy

    def point(self, p):
        return (p[0] * self.cos - p[1] * self.sin + self.dx, p[0] * self.sin + p[1] * self.cos + self.dy)

    def shape(self, local):
        def distance(x, y):
            x, y = x - self.dx, y - self.dy
            return local(x * self.cos + y * self.sin, -x * self.sin + y * self.cos)

        return distance

    def anchored(self, local_point, target):
        """The same turn, moved so that `local_point` lands on `target`."""
        placed = Pose(0.0)
        placed.cos, placed.sin = self.cos, self.sin
        x, y = self.point(local_point)
        placed.dx, placed.dy = self.dx + target[0] - x, self.dy + target[1] - y
        return placed


def capsule(a, b, half):
    return sdf_polyline([a, b], half)


def finger(base, lean, length, half=2.1):
    tip = (base[0] + length * math.sin(lean), base[1] - length * math.cos(lean))
    return (base, tip, half)


def finger_tip(part):
    (bx, by), (tx, ty), half = part
    length = math.hypot(tx - bx, ty - by)
    return (tx + (tx - bx) / length * half, ty + (ty - by) / length * half)


def crease_between(a, b, reach):
    """A line from the joint of two neighbouring fingers up to where they part."""
    start = ((a[0][0] + b[0][0]) / 2, (a[0][1] + b[0][1]) / 2)
    ax = a[0][0] + (a[1][0] - a[0][0]) * reach
    ay = a[0][1] + (a[1][1] - a[0][1]) * reach
    bx = b[0][0] + (b[1][0] - b[0][0]) * reach
    by = b[0][1] + (b[1][1] - b[0][1]) * reach
    return (start, ((ax + bx) / 2, (ay + by) / 2))


def render_cursor(layers, creases=()):
    """Draws a hand as layers, back to front: each layer a white fill inside a black outline, so a
    finger lying over the palm keeps its own edge. Creases are black lines drawn inside a fill."""
    grid = [["."] * 32 for _ in range(32)]
    for layer in layers:
        inside = [[layer(x + 0.5, y + 0.5) < 0.3 for x in range(32)] for y in range(32)]
        for y in range(32):
            for x in range(32):
                if inside[y][x]:
                    edge = any(not (0 <= x + dx < 32 and 0 <= y + dy < 32 and inside[y + dy][x + dx])
                               for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
                    grid[y][x] = "#" if edge else "o"
    for (ax, ay), (bx, by) in creases:
        steps = max(1, int(math.ceil(max(abs(bx - ax), abs(by - ay)) * 2)))
        for i in range(steps + 1):
            t = i / steps
            x, y = int(ax + (bx - ax) * t), int(ay + (by - ay) * t)
            if 0 <= x < 32 and 0 <= y < 32 and grid[y][x] == "o":
                grid[y][x] = "#"
    return ["".join(row) for row in grid]


def open_hand():
    """Cursor 138: an open hand, fingers spread, the index finger's tip on the hot spot."""
    fingers = [
        finger((-4.4, -3.0), -0.46, 11.5),    # index
        finger((-1.3, -3.5), -0.14, 12.5),    # middle
        finger((1.9, -3.2), 0.16, 11.5),      # ring
        finger((4.7, -2.0), 0.50, 8.5, 1.9),  # little finger
    ]
    thumb = finger((-5.5, 4.0), -0.8, 8.5, 2.2)
    pose = Pose(-0.3).anchored(finger_tip(fingers[0]), (3.0, 3.6))
    palm = sdf_box(-6.5, -4.5, 6.5, 8.0, 3.5)
    hand = sdf_union(palm, *[capsule(a, b, h) for a, b, h in fingers])
    creases = [crease_between(fingers[i], fingers[i + 1], 0.3) for i in range(3)]
    creases = [(pose.point(a), pose.point(b)) for a, b in creases]
    return render_cursor([pose.shape(hand), pose.shape(capsule(*thumb))], creases)


def pointing_hand():
    """Cursor 144: the index finger stretched to the top left, its tip on the hot spot; the other
    fingers curled against the palm and the thumb folded along it."""
    index = finger((-3.6, -2.0), 0.0, 13.5, 2.2)
    curled = sdf_union(*[capsule((-0.5, y), (4.8, y), 2.1) for y in (-2.5, 1.5, 5.5)])
    thumb = capsule((-5.0, 7.0), (-8.2, 0.5), 2.2)
    palm = sdf_box(-6.5, -4.0, 6.0, 10.0, 3.0)
    cuff = sdf_box(-5.5, 9.0, 5.0, 14.5, 1.0)
    pose = Pose(-0.74).anchored(finger_tip(index), (3.0, 3.6))
    creases = [(pose.point((2.0, y)), pose.point((7.5, y))) for y in (-0.5, 3.5)]
    layers = [cuff, sdf_union(palm, curled), thumb, capsule(*index)]
    return render_cursor([pose.shape(layer) for layer in layers], creases)


def ring_hand():
    """Cursor 137: thumb and index finger closed into a ring at the left, the hot spot in its
    hole; the other three fingers raised."""
    raised = [
        finger((15.6, 13.0), -0.08, 9.5),     # middle
        finger((19.6, 13.0), 0.04, 10.5),     # ring
        finger((23.4, 14.0), 0.2, 8.0, 1.9),  # little finger
    ]
    palm = sdf_box(12.5, 11.5, 26.5, 25.0, 4.0)
    cuff = sdf_box(14.0, 23.0, 25.5, 31.0, 1.0)
    centre, radius = (6.2, 14.5), 4.0

    def arc(start, stop):
        steps = 8
        return [(centre[0] + radius * math.cos(math.radians(start + (stop - start) * i / steps)),
                 centre[1] + radius * math.sin(math.radians(start + (stop - start) * i / steps)))
                for i in range(steps + 1)]

    index = sdf_polyline([(15.0, 13.5), (11.0, 10.8)] + arc(-55, -185), 1.75)
    thumb = sdf_polyline([(15.0, 21.5), (10.5, 19.5)] + arc(55, 170), 1.9)
    back = sdf_union(palm, *[capsule(a, b, h) for a, b, h in raised])
    creases = [crease_between(raised[i], raised[i + 1], 0.3) for i in range(2)]
    return render_cursor([cuff, back, thumb, index], creases)


CURSORS = {
    # id   drawing        hot spot
    137: (ring_hand,     (4, 14)),
    138: (open_hand,     (3, 4)),
    144: (pointing_hand, (3, 4)),
}


# --------------------------------------------------------------------------------------------
# Icons: a small rack unit with its display and keyboard
# --------------------------------------------------------------------------------------------


def motif(width, height=None):
    height = height or width
    s = min(width, height)
    canvas = Canvas(width, height, (0, 0, 0), 0.0)
    small = s <= 24
    snap = (lambda v: float(round(v))) if s <= 48 else (lambda v: v)
    ox, oy = (width - s) / 2, (height - s) / 2
    edge = max(1.0, s / 40)

    def at(fx, fy):
        return snap(ox + fx * s), snap(oy + fy * s)

    top = 0.08 if height < width else 0.14
    bottom = 0.92 if height < width else 0.86
    x0, y0 = at(0.0 if small else 0.02, top)
    x1, y1 = at(1.0 if small else 0.98, bottom)
    body = sdf_box(x0, y0, x1, y1, max(1.0, s * 0.07))
    canvas.fill(body, (38, 38, 40))
    canvas.fill(sdf_box(x0 + edge, y0 + edge, x1 - edge, y1 - edge, max(0.5, s * 0.06)),
                lambda x, y: grey(222 - 66 * clamp((y - y0) / (y1 - y0))))
    # Display with a line of green text.
    dx0, dy0 = at(0.36, top + 0.08)
    dx1, dy1 = at(0.90, top + (0.24 if not small else 0.27))
    canvas.fill(sdf_box(dx0, dy0, dx1, dy1, s * 0.02), (20, 24, 30))
    if s >= 32:
        gx0, gy = dx0 + (dx1 - dx0) * 0.1, (dy0 + dy1) / 2
        for i in range(5):
            a = gx0 + i * (dx1 - dx0) * 0.16
            canvas.fill(sdf_box(a, gy - s * 0.025, a + (dx1 - dx0) * 0.11, gy + s * 0.025), (40, 255, 60))
    else:
        canvas.fill(sdf_box(dx0 + 1, (dy0 + dy1) / 2 - 0.5, dx1 - 1, (dy0 + dy1) / 2 + 0.5), (40, 230, 60))
    # Power lamp.
    lx, ly = at(0.17, top + 0.16)
    canvas.fill(sdf_circle(lx, ly, max(1.2, s * 0.055)), (110, 10, 10))
    canvas.fill(sdf_circle(lx, ly, max(0.9, s * 0.04)), (255, 50, 40))
    if s >= 32:
        canvas.fill(sdf_circle(lx - s * 0.012, ly - s * 0.012, s * 0.015), (255, 200, 190))
    # Keyboard.
    kx0, ky0 = at(0.1 if not small else 0.0625, top + (0.33 if not small else 0.36))
    kx1, ky1 = at(0.9 if not small else 0.9375, bottom - 0.06)
    canvas.fill(sdf_box(kx0 - edge, ky0 - edge, kx1 + edge, ky1 + edge), (28, 28, 30))
    whites = 7 if s >= 24 else 5
    key_w = (kx1 - kx0) / whites
    for i in range(whites):
        a = snap(kx0 + i * key_w)
        b = snap(kx0 + (i + 1) * key_w) - (edge if s >= 24 else 1.0)
        canvas.fill(sdf_box(a, ky0, b, ky1, 0.0), lambda x, y: grey(255 - 30 * clamp((y - ky0) / (ky1 - ky0))))
    pattern = (0, 1, 3, 4, 5) if whites == 7 else (0, 1, 3)
    for i in pattern:
        centre = kx0 + (i + 1) * key_w
        half = key_w * 0.32
        canvas.fill(sdf_box(snap(centre - half) - (0 if s >= 24 else 0.5), ky0, snap(centre + half) + (0 if s >= 24 else 0.5),
                            ky0 + (ky1 - ky0) * 0.6), (20, 20, 22))
    return canvas


# At 16 pixels the motif is drawn by hand: scaled down it would blur into grey.
SMALL_MOTIF = [
    "................",
    ".KKKKKKKKKKKKKK.",
    "KLLLLLLLLLLLLLLK",
    "KLrrLDDDDDDDDDLK",
    "KLRRLDGGGGGGGDLK",
    "KMMMMDDDDDDDDDMK",
    "KMMMMMMMMMMMMMMK",
    "KkkkkkkkkkkkkkkK",
    "KWWBBBWBBBWWkWWK",
    "KWWBBBWBBBWWkWWK",
    "KWWBBBWBBBWWkWWK",
    "KWWWkWWWkWWWkWWK",
    "KWWWkWWWkWWWkWWK",
    "KwwwkwwwkwwwkwwK",
    ".KKKKKKKKKKKKKK.",
    "................",
]
SMALL_MOTIF_COLOURS = {
    "K": (38, 38, 40, 255),    # outline
    "L": (222, 222, 222, 255),  # metal, upper
    "M": (180, 180, 180, 255),  # metal, lower
    "R": (255, 52, 40, 255),   # power lamp
    "r": (255, 150, 130, 255),  # its highlight
    "D": (20, 24, 30, 255),    # display glass
    "G": (40, 230, 60, 255),   # display text
    "k": (28, 28, 30, 255),    # keybed
    "B": (18, 18, 20, 255),    # black keys
    "W": (255, 255, 255, 255),  # white keys
    "w": (214, 214, 214, 255),  # white key fronts
    ".": (0, 0, 0, 0),
}


def icon(size):
    if size == 16:
        return [[SMALL_MOTIF_COLOURS[c] for c in row] for row in SMALL_MOTIF]
    return motif(size).rgba_rows()


def about_logo():
    """Bitmap 153: the small motif, its rounded corners filled in so no background shows."""
    canvas = Canvas(16, 14)
    for y, row in enumerate(SMALL_MOTIF[1:15]):
        for x, code in enumerate(row):
            canvas.put(x, y, SMALL_MOTIF_COLOURS["K" if code == "." else code][:3])
    return canvas


# --------------------------------------------------------------------------------------------
# Output
# --------------------------------------------------------------------------------------------


def stored(canvas):
    """The canvas as its 8-bit file holds it: a colour table and indices into it."""
    palette, indices = indexed(canvas.rgb_rows())
    return palette, indices


def canvas_of(palette, indices):
    canvas = Canvas(len(indices[0]), len(indices))
    for y, row in enumerate(indices):
        for x, index in enumerate(row):
            canvas.put(x, y, palette[index])
    return canvas


def small_bitmaps():
    return {
        "RED_ON_U": rack_key(LAMP_RED, False),
        "RED_ON_D": rack_key(LAMP_RED, True),
        "GREEN_ON_U": rack_key(LAMP_GREEN, False),
        "GREEN_ON_D": rack_key(LAMP_GREEN, True),
        "ALL_OFF_U": rack_key(None, False),
        "ALL_OFF_D": rack_key(None, True),
        "NORMAL_U": rack_key(None, False, has_lamp=False),
        "NORMAL_D": rack_key(None, True, has_lamp=False),
        "PROGRAM_U": program_button(False),
        "PROGRAM_D": program_button(True),
        "YELLOW_ON": yellow_lamp(True),
        "YELLOW_OFF": yellow_lamp(False),
        "LED": led_field(),
        "VOLUME_U": knob_dot(False),
        "VOLUME_D": knob_dot(True),
        "153": about_logo(),
    }


def preview(bitmaps):
    """The front panel as the program shows it, with a few keys and one style button held."""
    face = Canvas(RACK_W, RACK_H)
    face.paste(bitmaps["RACK"], 0, 0)
    face.paste(bitmaps["RED_ON_U"], *POWER_AT)
    face.paste(bitmaps["GREEN_ON_U"], *SIDE_BUTTONS[0][1:])
    face.paste(bitmaps["NORMAL_U"], *SIDE_BUTTONS[1][1:])
    face.paste(bitmaps["NORMAL_D"], *SIDE_BUTTONS[2][1:])
    for x, y in PROGRAM_BUTTONS:
        face.paste(bitmaps["PROGRAM_U"], x, y)
    for i, (_, x) in enumerate(CHORD_LAMPS):
        face.paste(bitmaps["YELLOW_ON" if i == 7 else "YELLOW_OFF"], x, LAMP_Y)
    for i, (_, x, y, _) in enumerate(STYLE_BUTTONS):
        face.paste(bitmaps["GREEN_ON_U" if i == 0 else "ALL_OFF_D" if i == 6 else "ALL_OFF_U"], x, y)
    face.paste(bitmaps["LED"], LED_AT[0], LED_AT[1])
    draw_text(face, LED_AT[0] + 2, LED_AT[1] + 4, "PROGRAM 0:  ACOUSTIC GRAND PIANO", (0, 255, 0))
    face.paste(bitmaps["VOLUME_U"], 297, 100)
    keys = piano_keys()
    pressed = {7, 11}
    for i, (x, white) in enumerate(keys):
        if white:
            face.paste(key_canvas("WHITE_NOTE_D" if i in pressed else "WHITE_NOTE_U"), x, KEY_TOP)
    for i, (x, white) in enumerate(keys):
        if not white:
            face.paste(key_canvas("BLACK_NOTE_D" if i in pressed else "BLACK_NOTE_U"), x, KEY_TOP)
    return face


def resources():
    """Every file the generator makes, by its path under res/."""
    files = {}
    images = {"RACK": stored(rack())}
    for name, canvas in small_bitmaps().items():
        images[name] = stored(canvas)
    for name, (palette, indices) in images.items():
        files[f"bitmaps/{name}.bmp"] = bmp_bytes(palette, indices, 8)
    for name in KEY_IMAGES:
        files[f"bitmaps/{name}.bmp"] = key_bitmap(name)
    for cursor_id, (draw, (hot_x, hot_y)) in CURSORS.items():
        files[f"cursors/{cursor_id}.cur"] = cursor_bytes(draw(), hot_x, hot_y)
    files["icons/155.ico"] = icon_bytes([icon(32)])
    files["icons/128.ico"] = icon_bytes([icon(32), icon(16)])
    for size in (16, 32, 48, 64, 128, 256):
        files[f"hicolor/{size}x{size}/varnek.png"] = png_bytes(icon(size))
    return files, images


def main():
    parser = argparse.ArgumentParser(
        description="Draws every bitmap, cursor and icon of Varnek and writes them under res/.")
    parser.add_argument("--preview", metavar="FILE.png",
                        help="also write a picture of the whole front panel, as the program shows it")
    parser.add_argument("--check", action="store_true",
                        help="write nothing; name each file under res/ that differs from what would be written")
    args = parser.parse_args()
    root = "res"
    files, images = resources()
    if args.check:
        stale = [name for name, data in sorted(files.items()) if read_file(f"{root}/{name}") != data]
        for name in stale:
            print(f"{root}/{name} differs from what tools/make_resources.py makes", file=sys.stderr)
        return 1 if stale else 0
    for name, data in files.items():
        write_file(f"{root}/{name}", data)
    if args.preview:
        shown = {name: canvas_of(*image) for name, image in images.items()}
        face = preview(shown).rgb_rows()
        write_file(os.path.abspath(args.preview), png_bytes([[c + (255,) for c in row] for row in face]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
