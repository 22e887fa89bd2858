#!/usr/bin/env python3
"""Draws the icons of Korvane.exe and writes them as .ico files.

    scripts/make_icons.py [OUTPUT_DIR]   (default: platform/win32/app)

The picture is a small mixing-console strip: a dark panel with three fader
tracks, their caps at different heights, and a level lamp above each track.
Every image uses the 16-colour Windows palette (4 bits per pixel) with a
transparency mask. The output depends only on this script, so running it
again gives the same octets:

    Korvane.ico  icon 107: 32 x 32 and 16 x 16
    small.ico    icon 108: 16 x 16
"""

import os
import struct
import sys

# The standard 16-colour palette, in index order.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, NAVY, SILVER, GREY, RED, LIME, YELLOW, WHITE = 0, 4, 7, 8, 9, 10, 11, 15
CLEAR = None  # transparent pixel


class Canvas:
    """A size x size grid of palette indexes (or CLEAR), row 0 at the top."""

    def __init__(self, size):
        self.size = size
        self.pixels = [[CLEAR] * size for _ in range(size)]

    def fill(self, x0, y0, x1, y1, colour):
        """Fills the rectangle with corners (x0, y0) and (x1, y1), inclusive."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.pixels[y][x] = colour

    def outline(self, x0, y0, x1, y1, colour):
        self.fill(x0, y0, x1, y0, colour)
        self.fill(x0, y1, x1, y1, colour)
        self.fill(x0, y0, x0, y1, colour)
        self.fill(x1, y0, x1, y1, colour)

    def put(self, x, y, colour):
        self.pixels[y][x] = colour


def draw_console(size):
    """The fader strip, laid out for 32 x 32 or 16 x 16."""
    c = Canvas(size)
    if size == 32:
        left, top, right, bottom = 2, 1, 29, 30
        tracks = (8, 15, 22)           # x of each fader's slot (2 px wide)
        slot = (9, 27)                 # y range of the slots
        caps = (20, 11, 15)            # y of each cap's top row
        cap_w, cap_h = 6, 4
        lamps = (LIME, LIME, YELLOW)
        lamp_y = (4, 5)
    else:
        left, top, right, bottom = 0, 0, 15, 15
        tracks = (3, 7, 11)
        slot = (5, 13)
        caps = (10, 6, 8)
        cap_w, cap_h = 4, 2
        lamps = (LIME, LIME, YELLOW)
        lamp_y = (2, 2)

    # Panel with a bevel: light top-left edge, dark bottom-right edge.
    c.fill(left, top, right, bottom, NAVY)
    c.fill(left, top, right, top, SILVER)
    c.fill(left, top, left, bottom, SILVER)
    c.fill(left, bottom, right, bottom, BLACK)
    c.fill(right, top, right, bottom, BLACK)
    if size == 32:
        # Rounded corners.
        for x, y in ((left, top), (right, top), (left, bottom), (right, bottom)):
            c.put(x, y, CLEAR)

    for track, cap_top, lamp in zip(tracks, caps, lamps):
        # The slot the fader runs in.
        c.fill(track, slot[0], track + 1, slot[1], BLACK)
        # The level lamp above it.
        c.fill(track, lamp_y[0], track + 1, lamp_y[1], lamp)
        # The cap, centred on the slot: silver with a white top edge, a grey
        # bottom edge and a black index line across the middle.
        x0 = track + 1 - cap_w // 2
        x1 = x0 + cap_w - 1
        y1 = cap_top + cap_h - 1
        c.fill(x0, cap_top, x1, y1, SILVER)
        c.fill(x0, cap_top, x1, cap_top, WHITE)
        if cap_h >= 4:
            c.fill(x0, y1, x1, y1, GREY)
            c.fill(x0, cap_top + cap_h // 2, x1, cap_top + cap_h // 2, BLACK)
        else:
            c.fill(x0, y1, x1, y1, GREY)
    if size == 32:
        # A red peak lamp on the loudest channel.
        c.fill(tracks[2], lamp_y[0] - 2, tracks[2] + 1, lamp_y[0] - 1, RED)
    return c


def row_bytes(bits_per_pixel, width):
    """Bytes of one bitmap row, padded to a multiple of 4."""
    return ((width * bits_per_pixel + 31) // 32) * 4


def encode_image(canvas):
    """One icon image: BITMAPINFOHEADER, palette, 4-bit colours, 1-bit mask."""
    size = canvas.size
    header = struct.pack(
        "<IiiHHIIiiII",
        40,           # biSize
        size,         # biWidth
        size * 2,     # biHeight: colour and mask together
        1,            # biPlanes
        4,            # biBitCount
        0,            # biCompression (BI_RGB)
        0,            # biSizeImage (may be 0 for BI_RGB)
        0, 0,         # resolution
        16,           # biClrUsed
        0)            # biClrImportant
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)

    colour = bytearray()
    mask = bytearray()
    for y in reversed(range(size)):  # bitmaps are stored bottom-up
        row = canvas.pixels[y]
        packed = bytearray()
        for x in range(0, size, 2):
            hi = row[x] if row[x] is not None else 0
            lo = row[x + 1] if row[x + 1] is not None else 0
            packed.append((hi << 4) | lo)
        packed.extend(b"\0" * (row_bytes(4, size) - len(packed)))
        colour.extend(packed)

        bits = bytearray(row_bytes(1, size))
        for x in range(size):
            if row[x] is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask.extend(bits)
    return header + palette + bytes(colour) + bytes(mask)


def encode_icon(canvases):
    """An .ico file holding the given images."""
    images = [encode_image(c) for c in canvases]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for canvas, image in zip(canvases, images):
        out += struct.pack(
            "<BBBBHHII",
            canvas.size, canvas.size,  # width, height
            16,                        # colours
            0,                         # reserved
            1,                         # planes
            4,                         # bits per pixel
            len(image),
            offset)
        offset += len(image)
    for image in images:
        out += image
    return bytes(out)


def main(argv):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out_dir = argv[1] if len(argv) > 1 else os.path.join(root, "platform", "win32", "app")
    os.makedirs(out_dir, exist_ok=True)
    files = {
        "Korvane.ico": [draw_console(32), draw_console(16)],
        "small.ico": [draw_console(16)],
    }
    for name, canvases in files.items():
        path = os.path.join(out_dir, name)
        with open(path, "wb") as f:
            f.write(encode_icon(canvases))
        print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
