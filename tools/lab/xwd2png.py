#!/usr/bin/env python3
"""Converts an XWD image (as Xvfb -fbdir keeps its screen) to PNG, with the standard library only.

usage: xwd2png.py [--crop] INPUT.xwd OUTPUT.png

--crop cuts the image to the smallest rectangle holding every pixel that is not black (Xvfb -br
paints the root window black, so this is the area of the windows).
Handles ZPixmap images of 24 or 32 bits per pixel with either byte order.
"""
import struct
import sys
import zlib

HEADER_FIELDS = 25


def read_xwd(path):
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < HEADER_FIELDS * 4:
        raise ValueError("too short for an XWD header")
    for order in (">", "<"):
        h = struct.unpack(order + "%dI" % HEADER_FIELDS, data[: HEADER_FIELDS * 4])
        if h[1] == 7:  # file version
            break
    else:
        raise ValueError("not an XWD version 7 file")
    header_size, _, pixmap_format, _, width, height = h[0:6]
    byte_order, bits_per_pixel, bytes_per_line = h[7], h[11], h[12]
    red_mask, green_mask, blue_mask = h[14], h[15], h[16]
    ncolors = h[19]
    if pixmap_format != 2 or bits_per_pixel not in (24, 32):
        raise ValueError("only 24 or 32 bits per pixel ZPixmap images are handled")
    if width <= 0 or height <= 0 or width > 16384 or height > 16384 or bytes_per_line < width * bits_per_pixel // 8:
        raise ValueError("implausible image size")
    offset = header_size + ncolors * 12
    if offset + bytes_per_line * height > len(data):
        raise ValueError("pixel data cut short")
    step = bits_per_pixel // 8
    endian = "little" if byte_order == 0 else "big"

    def shift(mask):
        s = 0
        while mask and not (mask >> s) & 1:
            s += 1
        return s

    shifts = [(m, shift(m)) for m in (red_mask, green_mask, blue_mask)]
    rows = []
    for y in range(height):
        line = data[offset + y * bytes_per_line: offset + y * bytes_per_line + width * step]
        row = bytearray(width * 3)
        for x in range(width):
            p = int.from_bytes(line[x * step: x * step + step], endian)
            for c, (m, s) in enumerate(shifts):
                row[x * 3 + c] = (p & m) >> s
        rows.append(bytes(row))
    return width, height, rows


def crop(width, height, rows):
    top, bottom, left, right = None, None, width, -1
    for y, row in enumerate(rows):
        stripped = row.rstrip(b"\0")
        if not stripped:
            continue
        lead = len(row) - len(row.lstrip(b"\0"))
        left = min(left, lead // 3)
        right = max(right, (len(stripped) - 1) // 3)
        top = y if top is None else top
        bottom = y
    if top is None:
        return width, height, rows
    return right - left + 1, bottom - top + 1, [r[left * 3:(right + 1) * 3] for r in rows[top:bottom + 1]]


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    raw = b"".join(b"\0" + r for r in rows)
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def main(argv):
    args = [a for a in argv[1:] if a != "--crop"]
    if len(args) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    try:
        width, height, rows = read_xwd(args[0])
    except (OSError, ValueError) as e:
        print("xwd2png: %s: %s" % (args[0], e), file=sys.stderr)
        return 1
    if "--crop" in argv[1:]:
        width, height, rows = crop(width, height, rows)
    write_png(args[1], width, height, rows)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
