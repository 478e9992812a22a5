#!/usr/bin/env python3
"""Draws the dialog's banner at 100, 125, 150, 175 and 200 % (banner.bmp is 500x80 at 100 %)
and app.ico with images of 16 to 256 pixels.

Only the Python standard library is used and the output is byte-for-byte
reproducible. The build does not run this: the generated files are kept in
the repository beside it. Run it from anywhere; it writes next to itself.
"""

import os
import struct
import zlib

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


def paint_rect(pixels, left, top, right, bottom, colour):
    """Blends colour over a rectangle given in fractional pixels, each pixel by the share of
    its area the rectangle covers, so that shapes drawn at any scale keep sharp, even edges."""
    height, width = len(pixels), len(pixels[0])
    for py in range(max(0, int(top)), min(height, int(-(-bottom // 1)))):
        cover_y = min(bottom, py + 1) - max(top, py)
        if cover_y <= 0:
            continue
        for px in range(max(0, int(left)), min(width, int(-(-right // 1)))):
            cover = cover_y * (min(right, px + 1) - max(left, px))
            if cover <= 0:
                continue
            r, g, b = pixels[py][px]
            pixels[py][px] = tuple(round(c0 + (c1 - c0) * cover) for c0, c1 in zip((r, g, b), colour))


def draw_text(pixels, text, left, top, scale, colour):
    """Paints text into a top-down list of rows of (r, g, b) tuples; one glyph cell is
    scale pixels square, scale and position may be fractional."""
    x = left
    for ch in text:
        for gy, row in enumerate(GLYPHS[ch]):
            for gx, cell in enumerate(row):
                if cell == "#":
                    cx, cy = x + gx * scale, top + gy * scale
                    paint_rect(pixels, cx, cy, cx + scale, cy + scale, colour)
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


# The banner at 100 % is 500 x 80 pixels; the window shows the one drawn for its display scale.
BANNER_SCALES = {100: "banner.bmp", 125: "banner-125.bmp", 150: "banner-150.bmp",
                 175: "banner-175.bmp", 200: "banner-200.bmp"}
# The icon's images, in pixels: the sizes Windows asks for at 100 % to 200 % and in Explorer.
ICON_SIZES = (16, 20, 24, 32, 40, 48, 64, 256)


def bmp_file(pixels):
    width, height = len(pixels[0]), len(pixels)
    image = bgr_rows_bottom_up(pixels)
    header = info_header(width, height, len(image))
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(header) + len(image), 0, 0, 14 + len(header))
    return file_header + header + image


def banner(percent):
    """The banner drawn at percent of its 100 % size: the same picture, every edge on the
    pixel grid of that size."""
    f = percent / 100
    width, height = round(500 * f), round(80 * f)
    pixels = []
    for y in range(height):
        row = []
        for x in range(width):
            # Dark blue-grey, lighter towards the top left.
            t = (x / (width - 1)) * 0.7 + (y / (height - 1)) * 0.3
            row.append((int(70 - 45 * t), int(84 - 50 * t), int(110 - 55 * t)))
        pixels.append(row)
    # A thin light rule along the bottom edge.
    paint_rect(pixels, 0, 77 * f, width, 78 * f, (120, 150, 190))
    draw_text(pixels, "Orvane", 20 * f, 18 * f, 4 * f, (235, 240, 248))
    draw_text(pixels, "Update Utility", 184 * f, 32 * f, 2 * f, (175, 195, 225))
    return bmp_file(pixels)


def icon_coverage(size):
    """The icon's picture at size pixels: per pixel (colour, share covered). It is drawn on a
    32-unit grid: a blue square with cut corners and a white upward arrow ("update"); each pixel
    is sampled 4 x 4 times."""
    samples = 4
    unit = 32 / size
    out = []
    for y in range(size):
        row = []
        for x in range(size):
            square = arrow = 0
            for sy in range(samples):
                v = (y + (sy + 0.5) / samples) * unit
                for sx in range(samples):
                    u = (x + (sx + 0.5) / samples) * unit
                    if not (1 <= u < 31 and 1 <= v < 31):
                        continue
                    if min(u - 1, 31 - u) + min(v - 1, 31 - v) < 3:
                        continue
                    square += 1
                    head = 6 <= v < 16 and abs(u - 16) < v - 6
                    stem = 12 <= u < 20 and 16 <= v < 26
                    arrow += head or stem
            cy = (y + 0.5) * unit
            blue = (30 + cy * 2, 80 + cy * 2, 170 + cy)
            share = arrow / square if square else 0
            colour = tuple(round(c + (250 - c) * share) for c in blue)
            row.append((colour, square / samples**2))
        out.append(row)
    return out


def icon_bmp(size):
    """A 32-bit image with alpha, and its AND mask, as an icon directory's image."""
    picture = icon_coverage(size)
    colour = bytearray()
    mask = bytearray()
    for row in reversed(picture):
        bits = bytearray((size + 31) // 32 * 4)
        for x, ((r, g, b), alpha) in enumerate(row):
            colour += bytes((b, g, r, round(255 * alpha)))
            if alpha == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    return header + bytes(colour) + bytes(mask)


def icon_png(size):
    """The image as PNG (RGBA), as Windows keeps 256-pixel icon images."""
    raw = bytearray()
    for row in icon_coverage(size):
        raw.append(0)
        for (r, g, b), alpha in row:
            raw += bytes((r, g, b, round(255 * alpha)))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


def icon():
    images = [icon_png(size) if size >= 256 else icon_bmp(size) for size in ICON_SIZES]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, image in zip(ICON_SIZES, images):
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return directory + entries + b"".join(images)


def main():
    for percent, name in BANNER_SCALES.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(banner(percent))
    with open(os.path.join(HERE, "app.ico"), "wb") as f:
        f.write(icon())


if __name__ == "__main__":
    main()
