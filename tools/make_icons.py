#!/usr/bin/env python3
"""Writes app/server.ico: a 32x32 label-printer picture in 16 and 256 colours.

Run by hand when the picture changes; the .ico is kept in the repository so the
build needs no Python.
"""
import struct
import sys

SIZE = 32


def picture(x, y):
    """Palette index 0..15 of pixel (x, y), y from the top; None is transparent."""
    if 6 <= x <= 25 and 2 <= y <= 9:
        return 15 if (x + y) % 7 else 7          # label roll
    if 2 <= x <= 29 and 10 <= y <= 25:
        if 5 <= x <= 26 and 14 <= y <= 16:
            return 0                               # paper slot
        if x in (24, 25) and 19 <= y <= 21:
            return 10                              # status light
        return 9 if y < 13 else 1                  # body
    if 8 <= x <= 23 and 26 <= y <= 29:
        return 15                                  # label coming out
    return None


VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def image(bits):
    colours = 1 << bits
    palette = VGA + [(i, i, i) for i in range(colours - 16)] if colours > 16 else VGA
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, bits, 0, 0, 0, 0, 0, 0)
    pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in palette)
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(SIZE)):
        row = [picture(x, y) for x in range(SIZE)]
        if bits == 4:
            for x in range(0, SIZE, 2):
                xor.append(((row[x] or 0) << 4) | (row[x + 1] or 0))
        else:
            xor.extend((p or 0) for p in row)
        m = 0
        for x in range(SIZE):
            m = (m << 1) | (1 if row[x] is None else 0)
        mask.extend(struct.pack('>I', m))
    return header + pal + bytes(xor) + bytes(mask)


def main(path):
    images = [(16, image(4), 4), (0, image(8), 8)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for colour_count, data, bits in images:
        out += struct.pack('<BBBBHHII', SIZE, SIZE, colour_count, 0, 1, bits, len(data), offset)
        offset += len(data)
    out += b''.join(data for _, data, _ in images)
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'app/server.ico')
