#!/usr/bin/env python3
"""Writes the small sample bitmaps of kelm3, byte by byte from the BMP format
rules, so that the tests can check known pixels in files the library did not
make itself. Run from anywhere: python3 samples/make_samples.py

Pictures are given top line first; x counts from the left, y from the top."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def stride(width, bits):
    return (width * bits + 31) // 32 * 4


def file_header(dib_bytes, pixel_offset):
    # "BM", file size, two reserved words, offset of the pixel array.
    return b"BM" + struct.pack("<IHHI", 14 + len(dib_bytes), 0, 0, 14 + pixel_offset)


def info_header(width, height, bits, compression=0, size_image=0, colours=0):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, size_image,
                       2835, 2835, colours, 0)


def write(name, dib, pixel_offset):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(file_header(dib, pixel_offset) + dib)


def quads(colours):
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in colours)


def rle8():
    # 10 x 5, four colours. Each line exercises one code: an encoded run, an
    # even absolute run, a delta that skips four pixels and an end of line
    # that skips the rest, an odd absolute run with its pad byte, and an
    # end of bitmap without a final end of line.
    picture = [
        [1, 1, 1, 1, 1, 2, 2, 2, 2, 2],
        [3, 0, 1, 2, 3, 3, 3, 3, 0, 0],
        [0, 0, 0, 0, 2, 2, 0, 0, 0, 0],
        [1, 2, 3, 1, 2, 3, 1, 2, 3, 1],
        [2, 2, 2, 2, 2, 2, 2, 2, 2, 2],
    ]
    codes = bytes([
        0x0A, 0x02, 0x00, 0x00,                                  # bottom line: ten 2s
        0x00, 0x0A, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 0x00, 0x00,    # absolute run of 10
        0x00, 0x02, 0x04, 0x00, 0x02, 0x02, 0x00, 0x00,          # delta (4, 0), two 2s
        0x00, 0x05, 3, 0, 1, 2, 3, 0x00, 0x03, 0x03, 0x00, 0x00, # absolute 5 + pad, three 3s
        0x05, 0x01, 0x05, 0x02, 0x00, 0x01,                      # five 1s, five 2s, end
    ])
    table = quads([(0, 0, 0), (255, 0, 0), (0, 255, 0), (0, 0, 255)])
    dib = info_header(10, 5, 8, 1, len(codes), 4) + table + codes
    write("rle8.bmp", dib, 40 + len(table))
    return picture


def rle4():
    # 7 x 4 at 4 bits: an encoded run of alternating nibbles, an absolute run
    # of 5 (three bytes and a pad) then a run, a delta, and a run that starts
    # at an odd column.
    codes = bytes([
        0x03, 0x55, 0x04, 0xCD, 0x00, 0x00,                    # 5 5 5 C D C D
        0x00, 0x02, 0x03, 0x00, 0x03, 0xAA, 0x00, 0x00,        # skip 3, A A A
        0x00, 0x05, 0x34, 0x56, 0x70, 0x00, 0x02, 0x89, 0x00, 0x00,  # 3 4 5 6 7, 8 9
        0x07, 0x12, 0x00, 0x01,                                # 1 2 1 2 1 2 1, end
    ])
    table = quads([(i * 16, 255 - i * 16, i * 8) for i in range(16)])
    dib = info_header(7, 4, 4, 2, len(codes), 16) + table + codes
    write("rle4.bmp", dib, 40 + len(table))


def os2():
    # OS/2 core header, 5 x 3 at 4 bits, 16 RGBTRIPLE entries; index at
    # (x, y) is (x + 2y) % 16.
    header = struct.pack("<IHHHH", 12, 5, 3, 1, 4)
    table = b"".join(struct.pack("<BBB", (i * 16) & 0xFF, 255 - i * 16, i * 8) for i in range(16))
    rows = []
    for y in reversed(range(3)):
        row = bytearray(stride(5, 4))
        for x in range(5):
            v = (x + 2 * y) % 16
            row[x // 2] |= v << 4 if x % 2 == 0 else v
        rows.append(bytes(row))
    dib = header + table + b"".join(rows)
    write("os2.bmp", dib, 12 + len(table))


def topdown24():
    # 24 bits, 5 x 3 stored top line first (negative height); pixel (x, y)
    # is blue 10x + 1, green 50y + 2, red 200.
    rows = []
    for y in range(3):
        row = bytearray(stride(5, 24))
        for x in range(5):
            row[3 * x:3 * x + 3] = bytes([10 * x + 1, 50 * y + 2, 200])
        rows.append(bytes(row))
    dib = info_header(5, -3, 24) + b"".join(rows)
    write("topdown24.bmp", dib, 40)


def bitfields16():
    # 16 bits, 5-6-5 masks, 6 x 2; the word at (x, y) is
    # x << 11 | (9y) << 5 | (x + y).
    masks = struct.pack("<III", 0xF800, 0x07E0, 0x001F)
    rows = []
    for y in reversed(range(2)):
        row = bytearray(stride(6, 16))
        for x in range(6):
            struct.pack_into("<H", row, 2 * x, x << 11 | (9 * y) << 5 | (x + y))
        rows.append(bytes(row))
    dib = info_header(6, 2, 16, 3, 0) + masks + b"".join(rows)
    write("bitfields16.bmp", dib, 40 + 12)


def rgb24():
    # 24 bits, 7 x 3, bottom-up; pixel (x, y) is blue 30x, green 60y,
    # red 255 - 30x. Rows of 21 bytes carry 3 bytes of padding.
    rows = []
    for y in reversed(range(3)):
        row = bytearray(stride(7, 24))
        for x in range(7):
            row[3 * x:3 * x + 3] = bytes([30 * x, 60 * y, 255 - 30 * x])
        rows.append(bytes(row))
    dib = info_header(7, 3, 24, 0, len(b"".join(rows))) + b"".join(rows)
    write("rgb24.bmp", dib, 40)


def rgb32():
    # 32 bits, 4 x 3, bottom-up; pixel (x, y) is blue 60x, green 80y, red 17,
    # fourth byte x + y.
    rows = []
    for y in reversed(range(3)):
        rows.append(b"".join(bytes([60 * x, 80 * y, 17, x + y]) for x in range(4)))
    dib = info_header(4, 3, 32) + b"".join(rows)
    write("rgb32.bmp", dib, 40)


if __name__ == "__main__":
    rle8()
    rle4()
    os2()
    topdown24()
    bitfields16()
    rgb24()
    rgb32()
