#!/usr/bin/env python3
"""Turns an X window dump (xwd, ZPixmap, 24 or 32 bits a pixel) into a PNG, standard library only.

    xwd_to_png.py IN.xwd OUT.png
"""
import struct
import sys
import zlib


def read_xwd(data: bytes):
    fields = struct.unpack(">25I", data[:100])
    header_size, version, pixmap_format = fields[0], fields[1], fields[2]
    width, height = fields[4], fields[5]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    red_mask, green_mask, blue_mask = fields[14], fields[15], fields[16]
    ncolors = fields[19]
    if version != 7 or pixmap_format != 2 or bits_per_pixel not in (24, 32):
        raise ValueError("only ZPixmap dumps of 24 or 32 bits a pixel")
    offset = header_size + ncolors * 12
    step = bits_per_pixel // 8
    order = "little" if byte_order == 0 else "big"

    def shift(mask):
        return (mask & -mask).bit_length() - 1

    shifts = [shift(m) for m in (red_mask, green_mask, blue_mask)]
    rows = []
    for y in range(height):
        line = data[offset + y * bytes_per_line: offset + y * bytes_per_line + width * step]
        row = bytearray([0])  # PNG filter: none
        for x in range(0, width * step, step):
            pixel = int.from_bytes(line[x:x + step], order)
            row += bytes((pixel >> s) & 0xFF for s in shifts)
        rows.append(bytes(row))
    return width, height, b"".join(rows)


def write_png(path: str, width: int, height: int, raw: bytes) -> None:
    def chunk(kind: bytes, body: bytes) -> bytes:
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def main() -> int:
    with open(sys.argv[1], "rb") as f:
        width, height, raw = read_xwd(f.read())
    write_png(sys.argv[2], width, height, raw)
    return 0


if __name__ == "__main__":
    sys.exit(main())
