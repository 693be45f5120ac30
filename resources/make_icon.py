#!/usr/bin/env python3
"""Draws Korvanel's application icon and writes korvanel.ico and a PNG preview.

The picture: an application window (blue title bar, light body) with a priority
gauge of rising bars and an orange arrow pointing up: "raise this window's
thread". Each size is drawn on its own pixel grid rather than scaled, so the
16x16 image stays crisp. Images are 256-colour (8 bits per pixel, one plane)
with a 1-bit transparency mask, stored in the order 64, 48, 16, 32.

Usage: make_icon.py [OUTPUT_DIR]     default: the folder of this script
"""
import os
import struct
import sys
import zlib

SIZES = (64, 48, 16, 32)  # the order of the images, and so of their resource ids

# Palette index 0 is transparent (masked); the rest are the picture's colours.
TRANSPARENT = 0
COLOURS = [
    (0, 0, 0),          # 0 transparent
    (38, 41, 48),       # 1 outline
    (246, 247, 250),    # 2 window body
    (214, 219, 228),    # 3 body shade
    (255, 255, 255),    # 4 title text / highlights
    (232, 76, 61),      # 5 close button
    (118, 126, 140),    # 6 low bar
    (76, 175, 80),      # 7 middle bar
    (255, 193, 7),      # 8 high bar
    (244, 123, 0),      # 9 arrow
    (255, 167, 64),     # 10 arrow highlight
    (150, 63, 0),       # 11 arrow outline
]
TITLE_FIRST = len(COLOURS)  # a blue gradient for the title bar follows
TITLE_STEPS = 8
for step in range(TITLE_STEPS):
    t = step / (TITLE_STEPS - 1)
    COLOURS.append((int(61 - 26 * t), int(126 - 46 * t), int(230 - 60 * t)))
PALETTE = COLOURS + [(0, 0, 0)] * (256 - len(COLOURS))


SMALL_ARROW = [
    "    oo    ",
    "   o##o   ",
    "  o####o  ",
    " o######o ",
    "o########o",
    "ooo####ooo",
    "  o####o  ",
    "  o####o  ",
    "  oooooo  ",
]


class Canvas:
    def __init__(self, size):
        self.size = size
        self.pixels = [[TRANSPARENT] * size for _ in range(size)]

    def rect(self, x0, y0, x1, y1, colour):
        """Fills the pixels x0 <= x < x1, y0 <= y < y1."""
        for y in range(max(0, y0), min(self.size, y1)):
            for x in range(max(0, x0), min(self.size, x1)):
                self.pixels[y][x] = colour

    def polygon(self, points, colour):
        """Fills the pixels whose centres lie inside the polygon (even-odd rule)."""
        for y in range(self.size):
            for x in range(self.size):
                if inside(points, x + 0.5, y + 0.5):
                    self.pixels[y][x] = colour


def inside(points, px, py):
    result = False
    j = len(points) - 1
    for i in range(len(points)):
        (xi, yi), (xj, yj) = points[i], points[j]
        if (yi > py) != (yj > py) and px < (xj - xi) * (py - yi) / (yj - yi) + xi:
            result = not result
        j = i
    return result


def arrow(cx, top, bottom, head_width, shaft_width, head_height):
    """An upward arrow as a polygon: tip at (cx, top), shaft down to bottom."""
    hw, sw = head_width / 2, shaft_width / 2
    neck = top + head_height
    return [(cx, top), (cx + hw, neck), (cx + sw, neck), (cx + sw, bottom),
            (cx - sw, bottom), (cx - sw, neck), (cx - hw, neck)]


def grow(points, cx, cy, amount):
    """The polygon pushed outwards from (cx, cy) by amount, for an outline."""
    grown = []
    for x, y in points:
        dx, dy = x - cx, y - cy
        length = max((dx * dx + dy * dy) ** 0.5, 1e-6)
        grown.append((x + dx / length * amount, y + dy / length * amount))
    return grown


def draw(size):
    c = Canvas(size)
    u = size / 16.0                       # one unit of the 16-pixel design
    line = max(1, size // 32)             # outline thickness
    left, top, right, bottom = 0, round(1 * u), size - round(1 * u) + (1 if size == 16 else 0), size - round(1 * u)
    title = top + max(4, round(3.5 * u))  # first row below the title bar

    # Window: outline, title bar gradient, body with a shaded lower edge.
    c.rect(left, top, right, bottom, 1)
    for y in range(top + line, title):
        step = (y - top - line) * (TITLE_STEPS - 1) // max(1, title - top - line - 1)
        c.rect(left + line, y, right - line, y + 1, TITLE_FIRST + step)
    c.rect(left + line, title, right - line, bottom - line, 2)
    if size >= 32:
        c.rect(left + line, bottom - line - line * 2, right - line, bottom - line, 3)
        # Close button and a caption stroke on the title bar.
        b = round(1.8 * u)
        bx1, by0 = right - line - round(0.6 * u), top + line + (title - top - line - b) // 2
        c.rect(bx1 - b, by0, bx1, by0 + b, 5)
        c.rect(left + line + round(1 * u), by0 + b // 3, left + line + round(6 * u), by0 + b - b // 3, 4)

    # Gauge: three bars of rising height along the bottom of the body.
    if size >= 32:
        base = bottom - line - round(1.6 * u)
        bar = round(2 * u)
        gap = round(0.8 * u)
        x = left + line + round(1.4 * u)
        for height, colour in ((3, 6), (5, 7), (7, 8)):
            c.rect(x - line, base - round(height * u) - line, x + bar + line, base + line, 1)
            c.rect(x, base - round(height * u), x + bar, base, colour)
            x += bar + gap

    # Arrow pointing up, outlined so that it reads on any background.
    if size >= 32:
        cx, tip, tail = right - line - 4.2 * u, title + 0.9 * u, bottom - line - 1.1 * u
        shape = arrow(cx, tip, tail, 6.4 * u, 2.6 * u, 3.6 * u)
        c.polygon(grow(shape, cx, (tip + tail) / 2, line * 1.2), 11)
        c.polygon(shape, 9)
        c.polygon(arrow(cx - 0.5 * u, tip + 1.2 * u, tail - 0.6 * u, 2.4 * u, 0.7 * u, 1.4 * u), 10)
    else:
        # At 16 pixels every pixel counts: the arrow is placed by hand.
        for y, row in enumerate(SMALL_ARROW):
            for x, mark in enumerate(row):
                if mark != ' ':
                    c.pixels[title + y][3 + x] = 11 if mark == 'o' else 9
    return c


def ico_image(canvas):
    """One icon image: BITMAPINFOHEADER, palette, 8-bit colour rows and the 1-bit mask, bottom up."""
    size = canvas.size
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    rows = b''.join(bytes(canvas.pixels[y]) for y in reversed(range(size)))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in reversed(range(size)):
        row = bytearray(mask_stride)
        for x in range(size):
            if canvas.pixels[y][x] == TRANSPARENT:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    return header + palette + rows + bytes(mask)


def ico_file(canvases):
    images = [ico_image(c) for c in canvases]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for canvas, image in zip(canvases, images):
        side = canvas.size % 256
        out += struct.pack('<BBBBHHII', side, side, 0, 0, 1, 8, len(image), offset)
        offset += len(image)
    return out + b''.join(images)


def png_file(width, height, rgb_rows):
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF)
    raw = b''.join(b'\x00' + bytes(row) for row in rgb_rows)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def preview(canvases):
    """Each size at its own size, and below it magnified by a whole factor, on a light grey ground."""
    pad, zoom_side = 16, 128
    ordered = sorted(canvases, key=lambda c: c.size)
    width = pad + sum(zoom_side + pad for _ in ordered)
    height = pad + 64 + pad + zoom_side + pad
    ground = (236, 238, 242)
    image = [[ground] * width for _ in range(height)]
    x = pad
    for canvas in ordered:
        s = canvas.size
        for y in range(s):
            for cx in range(s):
                index = canvas.pixels[y][cx]
                if index != TRANSPARENT:
                    image[pad + (64 - s) + y][x + (zoom_side - s) // 2 + cx] = PALETTE[index]
        scale = zoom_side // s
        side = s * scale
        for y in range(side):
            for cx in range(side):
                index = canvas.pixels[y // scale][cx // scale]
                if index != TRANSPARENT:
                    image[pad * 2 + 64 + (zoom_side - side) + y][x + (zoom_side - side) // 2 + cx] = PALETTE[index]
        x += zoom_side + pad
    return png_file(width, height, [[v for p in row for v in p] for row in image])


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    canvases = [draw(size) for size in SIZES]
    with open(os.path.join(out, 'korvanel.ico'), 'wb') as f:
        f.write(ico_file(canvases))
    with open(os.path.join(out, 'korvanel-icon-preview.png'), 'wb') as f:
        f.write(preview(canvases))


if __name__ == '__main__':
    main()
