#!/usr/bin/env python3
"""The updater's icon: a download arrow into a tray on a blue rounded square.

One description of the shapes gives both forms: a scalable SVG and PNG
images at any size (each pixel sampled 4 x 4 times, so edges are smooth).

  make-icon.py --svg OUT.svg
  make-icon.py --png SIZE OUT.png
"""

import argparse
import os
import struct
import sys
import zlib

# Coordinates on a 0..1 square; y grows downwards.
TOP = (0x3B, 0x82, 0xF6)
BOTTOM = (0x1E, 0x40, 0xAF)
WHITE = (0xFF, 0xFF, 0xFF)
BACKGROUND = (0.06, 0.06, 0.94, 0.94, 0.18)  # left, top, right, bottom, corner radius
SHAFT = (0.44, 0.18, 0.56, 0.50)
HEAD = ((0.27, 0.46), (0.73, 0.46), (0.50, 0.70))
TRAY = ((0.22, 0.76, 0.78, 0.84), (0.22, 0.60, 0.30, 0.84), (0.70, 0.60, 0.78, 0.84))


def in_rounded(x, y, box):
    left, top, right, bottom, radius = box
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def in_rect(x, y, box):
    left, top, right, bottom = box
    return left <= x <= right and top <= y <= bottom


def in_triangle(x, y, points):
    (x1, y1), (x2, y2), (x3, y3) = points

    def side(ax, ay, bx, by):
        return (x - bx) * (ay - by) - (ax - bx) * (y - by)

    d1, d2, d3 = side(x1, y1, x2, y2), side(x2, y2, x3, y3), side(x3, y3, x1, y1)
    return not ((d1 < 0 or d2 < 0 or d3 < 0) and (d1 > 0 or d2 > 0 or d3 > 0))


def sample(x, y):
    """The colour and coverage (0 or 1) at one point."""
    if not in_rounded(x, y, BACKGROUND):
        return (0, 0, 0), 0
    if in_rect(x, y, SHAFT) or in_triangle(x, y, HEAD) or any(in_rect(x, y, bar) for bar in TRAY):
        return WHITE, 1
    t = (y - BACKGROUND[1]) / (BACKGROUND[3] - BACKGROUND[1])
    return tuple(round(a + (b - a) * t) for a, b in zip(TOP, BOTTOM)), 1


def png(size):
    steps = 4
    rows = []
    for py in range(size):
        row = bytearray([0])  # no filter
        for px in range(size):
            r = g = b = alpha = 0
            for sy in range(steps):
                for sx in range(steps):
                    colour, cover = sample((px + (sx + 0.5) / steps) / size, (py + (sy + 0.5) / steps) / size)
                    if cover:
                        r, g, b, alpha = r + colour[0], g + colour[1], b + colour[2], alpha + 1
            if alpha:
                row += bytes((r // alpha, g // alpha, b // alpha, alpha * 255 // (steps * steps)))
            else:
                row += bytes(4)
        rows.append(bytes(row))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) +
            chunk(b"IEND", b""))


def svg():
    def colour(rgb):
        return "#%02x%02x%02x" % rgb

    def n(value):
        return "%g" % round(value * 256, 2)

    left, top, right, bottom, radius = BACKGROUND
    rects = [SHAFT] + list(TRAY)
    return "\n".join(
        ['<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">',
         '  <defs><linearGradient id="fill" x1="0" y1="0" x2="0" y2="1">'
         '<stop offset="0" stop-color="%s"/><stop offset="1" stop-color="%s"/></linearGradient></defs>'
         % (colour(TOP), colour(BOTTOM)),
         '  <rect x="%s" y="%s" width="%s" height="%s" rx="%s" fill="url(#fill)"/>'
         % (n(left), n(top), n(right - left), n(bottom - top), n(radius))] +
        ['  <rect x="%s" y="%s" width="%s" height="%s" fill="%s"/>'
         % (n(a), n(b), n(c - a), n(d - b), colour(WHITE)) for a, b, c, d in rects] +
        ['  <polygon points="%s" fill="%s"/>' % (" ".join("%s,%s" % (n(x), n(y)) for x, y in HEAD), colour(WHITE)),
         "</svg>", ""])


def write(path, data):
    # Written aside and renamed, so that a build never takes half a file.
    temporary = path + ".tmp"
    with open(temporary, "wb") as out:
        out.write(data)
    os.replace(temporary, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--svg", metavar="OUT")
    parser.add_argument("--png", nargs=2, metavar=("SIZE", "OUT"))
    args = parser.parse_args()
    if not args.svg and not args.png:
        parser.error("nothing to make: give --svg or --png")
    if args.svg:
        write(args.svg, svg().encode())
    if args.png:
        size = int(args.png[0])
        if not 8 <= size <= 1024:
            parser.error("the size must be from 8 to 1024 pixels")
        write(args.png[1], png(size))
    return 0


if __name__ == "__main__":
    sys.exit(main())
