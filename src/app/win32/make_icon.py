#!/usr/bin/env python3
"""Draws the program's icon (a chip with a download arrow) and writes it as a Windows .ico.

Nine images: 48, 32 and 16 pixels, each at 4, 8 and 24 bits per pixel. Only the standard library is used,
so the icon can be redrawn on any machine: python3 make_icon.py app_icon.ico
"""
import struct
import sys

# The 16 colours every 4-bit display has; the 8-bit images use the same first 16 entries.
VGA = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_GREEN, GREY, SILVER, GREEN, YELLOW, WHITE = 0, 2, 8, 7, 10, 11, 15
CLEAR = None


def draw(size):
    """The picture as rows of palette indices (None = transparent), top row first."""
    s = size / 48.0
    px = [[CLEAR] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(max(0, round(y0 * s)), min(size, round(y1 * s))):
            for x in range(max(0, round(x0 * s)), min(size, round(x1 * s))):
                px[y][x] = colour

    # Pins on the left and right of the package.
    for i in range(4):
        y = 12 + i * 7
        rect(4, y, 11, y + 3, SILVER)
        rect(37, y, 44, y + 3, SILVER)
    # The package with a lighter rim and its notch.
    rect(9, 7, 39, 41, GREY)
    rect(11, 9, 37, 39, BLACK)
    rect(21, 7, 27, 10, SILVER)
    # A green arrow pointing down into the chip: the image going into the EEPROM.
    rect(21, 13, 27, 26, GREEN)
    for row in range(7):
        rect(15 + row, 26 + row, 33 - row, 27 + row, GREEN)
    # A yellow bar the arrow lands on.
    rect(15, 34, 33, 36, YELLOW)
    return px


def palette_for(bpp):
    count = 1 << bpp if bpp <= 8 else 0
    entries = VGA + [(0, 0, 0)] * (count - len(VGA)) if count else []
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in entries)


def row_bytes(bits):
    return ((bits + 31) // 32) * 4


def image(size, bpp):
    px = draw(size)
    pixels = bytearray()
    mask = bytearray()
    for y in reversed(range(size)):  # DIBs are stored bottom-up
        row = px[y]
        line = bytearray()
        if bpp == 24:
            for c in row:
                r, g, b = VGA[c if c is not None else 0]
                line += bytes((b, g, r))
        elif bpp == 8:
            line += bytes(c if c is not None else 0 for c in row)
        else:  # 4 bpp: two pixels a byte, high nibble first
            for x in range(0, size, 2):
                hi = row[x] if row[x] is not None else 0
                lo = row[x + 1] if x + 1 < size and row[x + 1] is not None else 0
                line.append((hi << 4) | lo)
        line += b"\0" * (row_bytes(size * bpp) - len(line))
        pixels += line
        bits = bytearray(row_bytes(size))
        for x, c in enumerate(row):
            if c is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, len(pixels) + len(mask), 0, 0,
                         (1 << bpp) if bpp <= 8 else 0, 0)
    return header + palette_for(bpp) + bytes(pixels) + bytes(mask)


def main(path):
    images = [(size, bpp, image(size, bpp)) for size in (48, 32, 16) for bpp in (4, 8, 24)]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, bpp, data in images:
        colours = (1 << bpp) if bpp < 8 else 0
        out += struct.pack("<BBBBHHII", size, size, colours, 0, 1, bpp, len(data), offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "app_icon.ico")
