#!/usr/bin/env python3
"""Draws the launcher's icon (a box with an arrow leaving it) and writes launcher.ico.

The icon holds 16x16 and 32x32 images in 32-bit colour with alpha. Run it again only to change
the drawing; the build uses the committed launcher.ico.
"""
import struct
import sys

BACKGROUND = (0, 0, 0, 0)
BOX = (40, 96, 176, 255)  # R, G, B, A
EDGE = (20, 52, 110, 255)
ARROW = (255, 196, 40, 255)


def pixel(x, y, size):
    """Colour at the centre of pixel (x, y); coordinates from 0 to 1, y downwards."""
    u, v = (x + 0.5) / size, (y + 0.5) / size
    # The arrow: a shaft from the box's middle upwards and a head above the box.
    if 0.44 <= u <= 0.56 and 0.22 <= v <= 0.62:
        return ARROW
    if 0.06 <= v <= 0.30 and abs(u - 0.5) <= (v - 0.06) * 1.1:
        return ARROW
    # The box: lower part of the image, with a darker edge.
    if 0.40 <= v <= 0.94 and 0.10 <= u <= 0.90:
        inner = 0.40 + 1.5 / size <= v <= 0.94 - 1.5 / size and \
            0.10 + 1.5 / size <= u <= 0.90 - 1.5 / size
        return BOX if inner else EDGE
    return BACKGROUND


def image(size):
    rows = []
    mask_rows = []
    mask_stride = ((size + 31) // 32) * 4
    for y in reversed(range(size)):  # bitmaps are stored bottom-up
        row = bytearray()
        mask = bytearray(mask_stride)
        for x in range(size):
            r, g, b, a = pixel(x, y, size)
            row += bytes((b, g, r, a))
            if a == 0:
                mask[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(row))
        mask_rows.append(bytes(mask))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         size * size * 4 + mask_stride * size, 0, 0, 0, 0)
    return header + b"".join(rows) + b"".join(mask_rows)


def main():
    output = sys.argv[1] if len(sys.argv) > 1 else "launcher.ico"
    sizes = (16, 32)
    images = [image(size) for size in sizes]
    data = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, body in zip(sizes, images):
        data += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(body), offset)
        offset += len(body)
    data += b"".join(images)
    with open(output, "wb") as out:
        out.write(data)


if __name__ == "__main__":
    main()
