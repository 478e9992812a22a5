#!/usr/bin/env python3
"""Draws banner.bmp (500x80) and app.ico (32x32) for the dialog.

Only the Python standard library is used and the output is byte-for-byte
reproducible. The build does not run this: the generated files are kept in
the repository beside it. Run it from anywhere; it writes next to itself.
"""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# 5-wide glyphs on a 9-row cell: rows 0-6 sit on the baseline, rows 7-8 hold
# descenders. Only the letters the banner needs are drawn.
GLYPHS = {
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###.", ".....", "....."],
    "U": ["#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###.", ".....", "....."],
    "a": [".....", ".....", ".###.", "....#", ".####", "#...#", ".####", ".....", "....."],
    "d": ["....#", "....#", ".####", "#...#", "#...#", "#...#", ".####", ".....", "....."],
    "e": [".....", ".....", ".###.", "#...#", "#####", "#....", ".###.", ".....", "....."],
    "i": ["..#..", ".....", ".##..", "..#..", "..#..", "..#..", ".###.", ".....", "....."],
    "l": [".##..", "..#..", "..#..", "..#..", "..#..", "..#..", ".###.", ".....", "....."],
    "n": [".....", ".....", "####.", "#...#", "#...#", "#...#", "#...#", ".....", "....."],
    "p": [".....", ".....", "####.", "#...#", "#...#", "#...#", "####.", "#....", "#...."],
    "r": [".....", ".....", "#.##.", "##..#", "#....", "#....", "#....", ".....", "....."],
    "t": [".#...", ".#...", "####.", ".#...", ".#...", ".#..#", "..##.", ".....", "....."],
    "v": [".....", ".....", "#...#", "#...#", "#...#", ".#.#.", "..#..", ".....", "....."],
    "y": [".....", ".....", "#...#", "#...#", "#...#", "#...#", ".####", "....#", ".###."],
    " ": ["....."] * 9,
}


def draw_text(pixels, width, text, left, top, scale, colour):
    """Paints text into a top-down list of rows of (r, g, b) tuples."""
    x = left
    for ch in text:
        glyph = GLYPHS[ch]
        for gy, row in enumerate(glyph):
            for gx, cell in enumerate(row):
                if cell != "#":
                    continue
                for dy in range(scale):
                    for dx in range(scale):
                        px, py = x + gx * scale + dx, top + gy * scale + dy
                        if 0 <= px < width and 0 <= py < len(pixels):
                            pixels[py][px] = colour
        x += 6 * scale


def bgr_rows_bottom_up(pixels):
    """24-bit DIB rows: bottom row first, BGR order, padded to 4 bytes."""
    out = bytearray()
    for row in reversed(pixels):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += b"\0" * (-len(line) % 4)
        out += line
    return bytes(out)


def info_header(width, height, image_size):
    # BITMAPINFOHEADER, 24 bpp, BI_RGB, 2835 px/m (72 dpi).
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, image_size, 2835, 2835, 0, 0)


def banner():
    width, height = 500, 80
    pixels = []
    for y in range(height):
        row = []
        for x in range(width):
            # Dark blue-grey, lighter towards the top left.
            t = (x / (width - 1)) * 0.7 + (y / (height - 1)) * 0.3
            row.append((int(70 - 45 * t), int(84 - 50 * t), int(110 - 55 * t)))
        pixels.append(row)
    # A thin light rule along the bottom edge.
    for x in range(width):
        pixels[height - 3][x] = (120, 150, 190)
    draw_text(pixels, width, "Orvane", 20, 18, 4, (235, 240, 248))
    draw_text(pixels, width, "Update Utility", 184, 32, 2, (175, 195, 225))
    image = bgr_rows_bottom_up(pixels)
    header = info_header(width, height, len(image))
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(header) + len(image), 0, 0, 14 + len(header))
    return file_header + header + image


def icon():
    size = 32
    pixels = [[(0, 0, 0)] * size for _ in range(size)]
    transparent = [[True] * size for _ in range(size)]
    # A blue rounded square with a white upward arrow: "update".
    for y in range(1, size - 1):
        for x in range(1, size - 1):
            cx = min(x - 1, size - 2 - x)
            cy = min(y - 1, size - 2 - y)
            if cx + cy < 3:
                continue
            transparent[y][x] = False
            pixels[y][x] = (30 + y * 2, 80 + y * 2, 170 + y)
    for y in range(6, 16):
        half = y - 6
        for x in range(16 - half, 16 + half):
            pixels[y][x] = (250, 250, 250)
    for y in range(16, 26):
        for x in range(12, 20):
            pixels[y][x] = (250, 250, 250)

    xor = bgr_rows_bottom_up(pixels)
    mask = bytearray()
    for row in reversed(transparent):
        bits = 0
        for x, clear in enumerate(row):
            if clear:
                bits |= 1 << (31 - x)
        mask += struct.pack(">I", bits)  # 32 px = 4 bytes, already aligned
    # The DIB inside an icon has twice the height: colour image plus AND mask.
    image = info_header(size, size * 2, len(xor) + len(mask)) + xor + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 24, len(image), 6 + 16)
    return directory + entry + image


def main():
    with open(os.path.join(HERE, "banner.bmp"), "wb") as f:
        f.write(banner())
    with open(os.path.join(HERE, "app.ico"), "wb") as f:
        f.write(icon())


if __name__ == "__main__":
    main()
