"""The program's own bitmaps (res/bitmaps), to tell from a screenshot which image a control
shows."""

import os
import struct

RES_BITMAPS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "res", "bitmaps")


def load(name):
    """An uncompressed BMP of 4, 8 or 24 bits as rows of (r, g, b), top row first."""
    with open(os.path.join(RES_BITMAPS, name + ".bmp"), "rb") as f:
        data = f.read()
    if data[:2] != b"BM":
        raise ValueError(f"{name}: not a BMP")
    pixels_at = struct.unpack_from("<I", data, 10)[0]
    header_size, width, height, _, bits, compression = struct.unpack_from("<IiiHHI", data, 14)
    if compression != 0:
        raise ValueError(f"{name}: compressed")
    colours = struct.unpack_from("<I", data, 46)[0] or (1 << bits if bits <= 8 else 0)
    palette = [(data[o + 2], data[o + 1], data[o])
               for o in range(14 + header_size, 14 + header_size + 4 * colours, 4)]
    stride = (width * bits + 31) // 32 * 4
    rows = []
    for row in range(abs(height)):
        stored = row if height < 0 else abs(height) - 1 - row
        start = pixels_at + stored * stride
        rows.append([_pixel(data, start, x, bits, palette) for x in range(width)])
    return rows


def _pixel(data, start, x, bits, palette):
    if bits == 24:
        o = start + 3 * x
        return (data[o + 2], data[o + 1], data[o])
    if bits == 8:
        return palette[data[start + x]]
    if bits == 4:
        byte = data[start + x // 2]
        return palette[byte >> 4 if x % 2 == 0 else byte & 0x0F]
    raise ValueError(f"{bits} bits per pixel")


def difference(shown, image):
    """How many pixels differ clearly (by more than a rounding step in any channel)."""
    count = 0
    for shown_row, image_row in zip(shown, image):
        for a, b in zip(shown_row, image_row):
            if max(abs(a[i] - b[i]) for i in range(3)) > 8:
                count += 1
    return count


def which(shown, candidates):
    """The name of the candidate image that the shown pixels are, or None if none fits."""
    best = min(candidates, key=lambda name: difference(shown, candidates[name]))
    return best if difference(shown, candidates[best]) == 0 else None
