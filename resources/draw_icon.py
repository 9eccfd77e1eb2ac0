#!/usr/bin/python3
"""Draws setup.exe's icon and writes it as a Windows icon file.

    draw_icon.py OUTPUT.ico [--png DIR]

The icon holds four 32-bit images (8-bit red, green, blue and alpha), 256, 48, 32 and 16 pixels
square, in that order: a blue rounded square with a white arrow pointing down onto a tray, the
picture of an update being put in place. The 256-pixel image is stored as PNG, the others as
uncompressed bitmaps with their transparency mask, as icon files hold them. Every image is drawn
from the same shapes, with edges smoothed by their distance to the pixel centre, so the output is
the same on every run. --png also writes each image as DIR/icon-SIZE.png to look at.
"""
import math
import pathlib
import struct
import sys
import zlib

SIZES = (256, 48, 32, 16)
PNG_SIZES = (256,)

TOP_COLOUR = (0x3C, 0x8E, 0xE0)
BOTTOM_COLOUR = (0x17, 0x48, 0x96)
WHITE = (0xFF, 0xFF, 0xFF)


# Signed distances in units of the icon's width: negative inside a shape, positive outside.

def rounded_box(x, y, cx, cy, half_w, half_h, radius):
    dx = abs(x - cx) - (half_w - radius)
    dy = abs(y - cy) - (half_h - radius)
    outside = math.hypot(max(dx, 0.0), max(dy, 0.0))
    return outside + min(max(dx, dy), 0.0) - radius


def half_plane(x, y, ax, ay, bx, by):
    """Distance to the line through a and b; negative on its right when going from a to b."""
    nx, ny = by - ay, ax - bx
    length = math.hypot(nx, ny)
    return ((x - ax) * nx + (y - ay) * ny) / length


def arrow_head(x, y):
    # A triangle pointing down, its corners given clockwise on the screen (y grows downward).
    corners = ((0.22, 0.47), (0.78, 0.47), (0.50, 0.75))
    return max(half_plane(x, y, *corners[i], *corners[(i + 1) % 3]) for i in range(3))


def coverage(distance, size):
    """How much of a pixel a shape covers, from the distance of the pixel centre to its edge."""
    return min(max(0.5 - distance * size, 0.0), 1.0)


def pixel(x, y, size):
    """(red, green, blue, alpha) of the pixel whose centre is at x, y (0..1)."""
    background = coverage(rounded_box(x, y, 0.5, 0.5, 0.47, 0.47, 0.17), size)
    if background == 0.0:
        return (0, 0, 0, 0)
    shaft = rounded_box(x, y, 0.5, 0.31, 0.085, 0.19, 0.02)
    tray = rounded_box(x, y, 0.5, 0.84, 0.31, 0.045, 0.035)
    sign = coverage(min(shaft, arrow_head(x, y), tray), size)
    t = min(max((y - 0.03) / 0.94, 0.0), 1.0)
    base = [TOP_COLOUR[i] + (BOTTOM_COLOUR[i] - TOP_COLOUR[i]) * t for i in range(3)]
    colour = [base[i] + (WHITE[i] - base[i]) * sign for i in range(3)]
    return tuple(int(round(c)) for c in colour) + (int(round(background * 255)),)


def draw(size):
    """Rows from the top, each a list of (r, g, b, a)."""
    return [[pixel((col + 0.5) / size, (row + 0.5) / size, size) for col in range(size)] for row in range(size)]


def png(rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    size = len(rows)
    raw = b"".join(b"\0" + bytes(channel for p in row for channel in p) for row in rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8 bits per channel, RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def bitmap(rows):
    """BITMAPINFOHEADER, BGRA pixels bottom-up, then the 1-bit mask (1 = transparent), bottom-up."""
    size = len(rows)
    mask_stride = (size + 31) // 32 * 4
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for col, p in enumerate(row):
            if p[3] == 0:
                line[col // 8] |= 0x80 >> (col % 8)
        mask += line
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + pixels + bytes(mask)


def icon_file(images):
    """The icon directory and its images; images are (size, bytes)."""
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, data in images:
        side = 0 if size == 256 else size  # 0 stands for 256
        directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return directory + b"".join(data for _, data in images)


def main(argv):
    if len(argv) not in (2, 4) or argv[1] in ("-h", "--help") or (len(argv) == 4 and argv[2] != "--png"):
        print(__doc__.strip())
        return 0 if len(argv) == 2 else 2
    images, pictures = [], {}
    for size in SIZES:
        rows = draw(size)
        pictures[size] = rows
        images.append((size, png(rows) if size in PNG_SIZES else bitmap(rows)))
    output = pathlib.Path(argv[1])
    output.parent.mkdir(parents=True, exist_ok=True)
    temporary = output.with_name(output.name + ".part")
    temporary.write_bytes(icon_file(images))
    temporary.replace(output)
    if len(argv) == 4:
        folder = pathlib.Path(argv[3])
        folder.mkdir(parents=True, exist_ok=True)
        for size, rows in pictures.items():
            (folder / f"icon-{size}.png").write_bytes(png(rows))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
