#!/usr/bin/env python3
"""Draws the launcher's icon and writes it as kestlo.ico.

One 120 x 120 image, 32 bits per pixel with straight alpha, stored as a
device-independent bitmap (colour rows then a 1-bit mask, both bottom-up), as
the executable's icon resource holds it. Pure Python and deterministic: the
same script always writes the same bytes.

The artwork: a rounded square in a blue gradient, a white "K" of three round
strokes, and a small orange arrow pointing out of it (open the page). Edges
are anti-aliased from signed distances; the mask is set exactly where the
alpha is zero.

    resources/make_icon.py [OUTPUT.ico]     (default: kestlo.ico beside it)
"""
import math
import os
import struct
import sys

SIZE = 120


def clamp(x, lo=0.0, hi=1.0):
    return lo if x < lo else hi if x > hi else x


def coverage(distance):
    """Pixel coverage of a shape from its signed distance in pixels (inside < 0)."""
    return clamp(0.5 - distance)


def rounded_square(x, y, inset, radius):
    half = SIZE / 2 - inset
    qx = abs(x - SIZE / 2) - (half - radius)
    qy = abs(y - SIZE / 2) - (half - radius)
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def segment(x, y, ax, ay, bx, by, radius):
    dx, dy = bx - ax, by - ay
    t = clamp(((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy))
    return math.hypot(x - ax - t * dx, y - ay - t * dy) - radius


def letter_k(x, y):
    stroke = 8.5
    return min(segment(x, y, 34, 32, 34, 90, stroke),
               segment(x, y, 38, 66, 68, 36, stroke),
               segment(x, y, 48, 58, 74, 90, stroke))


def arrow(x, y):
    # A short shaft and a head pointing up and to the right, in the top corner.
    shaft = segment(x, y, 79, 49, 97, 31, 4.5)
    head = min(segment(x, y, 84, 29, 98, 29, 4.5), segment(x, y, 98, 29, 98, 43, 4.5))
    return min(shaft, head)


def mix(a, b, t):
    return tuple(p + (q - p) * t for p, q in zip(a, b))


def pixel(px, py):
    """RGBA (0..1) of the pixel whose top-left corner is (px, py), top-down."""
    x, y = px + 0.5, py + 0.5
    shadow = coverage(rounded_square(x, y - 2.0, 5.0, 24.0) - 1.5) * 0.35
    body = coverage(rounded_square(x, y, 6.0, 24.0))
    top, bottom = (0.16, 0.62, 0.98), (0.05, 0.28, 0.72)
    colour = mix(top, bottom, clamp((y - 6) / (SIZE - 12)))
    # A soft highlight across the upper half of the body.
    highlight = clamp(1.0 - y / 60.0) * 0.18
    colour = mix(colour, (1.0, 1.0, 1.0), highlight)
    colour = mix(colour, (1.0, 1.0, 1.0), coverage(letter_k(x, y)))
    colour = mix(colour, (1.0, 0.62, 0.10), coverage(arrow(x, y)))
    # The body over its shadow: straight alpha, shadow in near-black.
    alpha = body + shadow * (1.0 - body)
    if alpha <= 0.0:
        return (0.0, 0.0, 0.0, 0.0)
    shade = (0.02, 0.06, 0.16)
    rgb = tuple((c * body + s * shadow * (1.0 - body)) / alpha for c, s in zip(colour, shade))
    return rgb + (alpha,)


def byte(v):
    return int(round(clamp(v) * 255))


def bitmap():
    """The DIB: BITMAPINFOHEADER, BGRA rows bottom-up, then the AND mask."""
    rows = [[pixel(px, py) for px in range(SIZE)] for py in range(SIZE)]
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    mask = bytearray()
    mask_row_bytes = ((SIZE + 31) // 32) * 4  # rows are padded to 32 bits
    for row in reversed(rows):
        bits = bytearray(mask_row_bytes)
        for px, (r, g, b, a) in enumerate(row):
            colour += bytes((byte(b), byte(g), byte(r), byte(a)))
            if byte(a) == 0:
                bits[px // 8] |= 0x80 >> (px % 8)
        mask += bits
    return header + bytes(colour) + bytes(mask)


def icon_file(dib):
    directory = struct.pack('<HHH', 0, 1, 1)
    # width, height, colour count 0, reserved, planes 1, 32 bits, size, offset
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 0, 0, 1, 32, len(dib), 6 + 16)
    return directory + entry + dib


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), 'kestlo.ico')
    dib = bitmap()
    assert len(dib) == 59560, len(dib)
    with open(out, 'wb') as f:
        f.write(icon_file(dib))


if __name__ == '__main__':
    main()
