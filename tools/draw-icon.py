#!/usr/bin/env python3
"""Draws the programs' icon, a terminal screen with a prompt: an .ico file for the Windows
program, or PNG files in the sizes a Linux desktop asks for (hicolor theme).

The icon is drawn here rather than kept as a picture so that it can be changed by editing
shapes; the files it writes are kept in the repository, so building needs no Python.
Usage: tools/draw-icon.py shell/win32/terminal.ico
       tools/draw-icon.py --png shell/qt/icons
"""
import os
import struct
import sys
import zlib

FRAME = (0x3a, 0x44, 0x52)
SCREEN = (0x10, 0x18, 0x20)
PROMPT = (0x4c, 0xd9, 0x64)


def inside_rounded(x, y, left, top, right, bottom, radius):
    if not (left <= x < right and top <= y < bottom):
        return False
    cx = min(max(x, left + radius), right - 1 - radius)
    cy = min(max(y, top + radius), bottom - 1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def on_segment(x, y, x0, y0, x1, y1, half_width):
    """Whether pixel (x, y) lies within half_width of the segment (x0, y0)-(x1, y1)."""
    dx, dy = x1 - x0, y1 - y0
    t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / float(dx * dx + dy * dy)))
    px, py = x0 + t * dx, y0 + t * dy
    return (x - px) ** 2 + (y - py) ** 2 <= half_width * half_width


def pixel(x, y, size):
    """Colour (r, g, b) or None for transparent, at pixel centre (x, y) of a size x size icon."""
    s = size / 32.0
    cx, cy = x + 0.5, y + 0.5
    if not inside_rounded(cx, cy, 1 * s, 3 * s, 31 * s, 27 * s, 3 * s):
        # The stand under the screen.
        if 12 * s <= cx < 20 * s and 27 * s <= cy < 29 * s:
            return FRAME
        if 8 * s <= cx < 24 * s and 29 * s <= cy < 31 * s:
            return FRAME
        return None
    if not inside_rounded(cx, cy, 3 * s, 5 * s, 29 * s, 25 * s, 2 * s):
        return FRAME
    stroke = max(1.0, 1.6 * s) / 2 + 0.35
    if on_segment(cx, cy, 7 * s, 10 * s, 13 * s, 15 * s, stroke) or on_segment(
        cx, cy, 13 * s, 15 * s, 7 * s, 20 * s, stroke
    ):
        return PROMPT
    if 16 * s <= cx < 24 * s and 19 * s <= cy < 21 * s:
        return PROMPT
    return SCREEN


def image(size):
    """One icon image: BITMAPINFOHEADER, 32-bit BGRA rows bottom-up, then the AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    mask = bytearray()
    mask_stride = ((size + 31) // 32) * 4
    for y in reversed(range(size)):
        row_mask = bytearray(mask_stride)
        for x in range(size):
            rgb = pixel(x, y, size)
            if rgb is None:
                colour += bytes((0, 0, 0, 0))
                row_mask[x // 8] |= 0x80 >> (x % 8)
            else:
                colour += bytes((rgb[2], rgb[1], rgb[0], 0xFF))
        mask += row_mask
    return header + bytes(colour) + bytes(mask)


# The sizes of the hicolor icon theme's fixed-size folders that desktops look in.
PNG_SIZES = (16, 24, 32, 48, 64, 128, 256)
# Each PNG pixel averages this many samples a side, so edges are smooth at large sizes. The
# .ico keeps one sample a pixel: at 32 pixels its hard edges are what Windows draws crisply.
SAMPLES = 4


def png(size):
    """A PNG image, RGBA, each pixel the average of its samples, transparency included."""
    rows = bytearray()
    for y in range(size):
        rows.append(0)  # filter: none
        for x in range(size):
            covered = [
                pixel(x + (i + 0.5) / SAMPLES - 0.5, y + (j + 0.5) / SAMPLES - 0.5, size)
                for j in range(SAMPLES)
                for i in range(SAMPLES)
            ]
            colours = [c for c in covered if c is not None]
            if not colours:
                rows += bytes(4)
                continue
            rows += bytes(round(sum(c[k] for c in colours) / len(colours)) for k in range(3))
            rows.append(round(255 * len(colours) / len(covered)))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--png":
        for size in PNG_SIZES:
            with open(os.path.join(sys.argv[2], "varnoth-terminal-%d.png" % size), "wb") as out:
                out.write(png(size))
        return
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sizes = (16, 32, 48)
    images = [image(size) for size in sizes]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    for size, data in zip(sizes, images):
        directory += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as out:
        out.write(directory + b"".join(images))


if __name__ == "__main__":
    main()
