#!/usr/bin/env python3
"""Writes the small image files the image! script tests decode, byte by byte
(zlib and struct only), into tests/scripts/images/. Run it from anywhere;
its output is committed."""
import os
import struct
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "scripts", "images")


def write(name, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


# --- PNG -----------------------------------------------------------------------------

def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def png(width, height, depth, colour, rows):
    raw = b"".join(b"\0" + r for r in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


# --- BMP -----------------------------------------------------------------------------

def bmp(header, palette, bits, extra=b""):
    offset = 14 + len(header) + len(extra) + len(palette)
    return b"BM" + struct.pack("<IHHI", offset + len(bits), 0, 0, offset) + header + extra + palette + bits


def info(width, height, bpp, compression=0, size=40, masks=(), colours=0):
    h = struct.pack("<iiHHIIiiII", width, height, 1, bpp, compression, 0, 2835, 2835, colours, 0)
    h = struct.pack("<I", size) + h
    if size > 40:
        m = b"".join(struct.pack("<I", x) for x in masks)
        h += m + b"\0" * (size - 40 - len(m))
    return h


def pal(*colours):
    return b"".join(bytes([b, g, r, 0]) for r, g, b in colours)


# --- TIFF ----------------------------------------------------------------------------

def tiff_rgba(width, height, pixels, extra):
    """Little-endian, uncompressed, one strip; extra is the ExtraSamples value."""
    data = bytes(pixels)
    entries = [
        (256, 3, 1, width), (257, 3, 1, height), (258, 3, 4, None), (259, 3, 1, 1), (262, 3, 1, 2),
        (273, 4, 1, None), (277, 3, 1, 4), (278, 3, 1, height), (279, 4, 1, len(data)), (284, 3, 1, 1),
        (338, 3, 1, extra),
    ]
    ifd_at = 8
    ifd_size = 2 + 12 * len(entries) + 4
    bps_at = ifd_at + ifd_size
    data_at = bps_at + 8
    out = b"II*\0" + struct.pack("<I", ifd_at) + struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        if tag == 258:
            value = bps_at
            kind = 3
            out += struct.pack("<HHII", tag, kind, count, value)
            continue
        if tag == 273:
            value = data_at
        if kind == 3:
            out += struct.pack("<HHIHH", tag, kind, count, value, 0)
        else:
            out += struct.pack("<HHII", tag, kind, count, value)
    out += struct.pack("<I", 0) + struct.pack("<HHHH", 8, 8, 8, 8) + data
    return out


# --- GIF -----------------------------------------------------------------------------

def lzw_plain(indexes, min_size):
    """LZW data that never grows its table: a clear code before every two pixels."""
    clear, end, width = 1 << min_size, (1 << min_size) + 1, min_size + 1
    codes = []
    for i in range(0, len(indexes), 2):
        codes.append(clear)
        codes.extend(indexes[i:i + 2])
    codes.append(end)
    acc = bits = 0
    out = bytearray()
    for c in codes:
        acc |= c << bits
        bits += width
        while bits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            bits -= 8
    if bits:
        out.append(acc)
    blocks = b"".join(bytes([len(out[i:i + 255])]) + out[i:i + 255] for i in range(0, len(out), 255))
    return bytes([min_size]) + blocks + b"\0"


def gif(width, height, colours, indexes, transparent=None, interlace=False):
    table = b"".join(bytes(c) for c in colours)
    out = b"GIF89a" + struct.pack("<HHBBB", width, height, 0x80 | 1, 0, 0) + table
    if transparent is not None:
        out += b"\x21\xf9\x04\x01\0\0" + bytes([transparent]) + b"\0"
    out += b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0x40 if interlace else 0)
    return out + lzw_plain(indexes, 2) + b"\x3b"


def main():
    os.makedirs(OUT, exist_ok=True)
    # 16-bit samples scale to 8 bits without a gamma change.
    write("rgb16.png", png(1, 1, 16, 2, [struct.pack(">HHH", 0x8080, 0x4040, 0xFFFF)]))
    # 8-bit grey with alpha.
    write("grey-alpha.png", png(2, 1, 8, 4, [bytes([10, 255, 200, 0])]))
    # Plain 24-bit, bottom-up, rows padded: 3x2.
    rows = [bytes([3, 2, 1, 6, 5, 4, 9, 8, 7, 0, 0, 0]), bytes([12, 11, 10, 15, 14, 13, 18, 17, 16, 0, 0, 0])]
    write("rgb24.bmp", bmp(info(3, 2, 24), b"", rows[1] + rows[0]))
    # 32-bit BI_RGB, top-down: the fourth byte is reserved, so the pixels are opaque.
    write("topdown32.bmp", bmp(info(2, -1, 32), b"", bytes([3, 2, 1, 7, 6, 5, 4, 99])))
    # Core header, 24-bit 1x1.
    core = struct.pack("<IHHHH", 12, 1, 1, 1, 24)
    write("core.bmp", bmp(core, b"", bytes([30, 20, 10, 0])))
    # 1-bit and 4-bit palettes; 9 pixels spill into the row's second byte.
    write("pal1.bmp", bmp(info(9, 1, 1, colours=2), pal((0, 0, 0), (255, 255, 255)), bytes([0xAA, 0x80, 0, 0])))
    write("pal4.bmp", bmp(info(3, 1, 4, colours=3), pal((255, 0, 0), (0, 255, 0), (0, 0, 255)), bytes([0x01, 0x20, 0, 0])))
    # RLE8 4x2: a run, an absolute run, an end of line, a run, end of bitmap.
    rle8 = bytes([1, 1, 0, 3, 0, 1, 2, 0, 0, 0, 4, 2, 0, 1])
    write("rle8.bmp", bmp(info(4, 2, 8, compression=1, colours=3), pal((0, 0, 0), (255, 0, 0), (0, 0, 255)), rle8))
    # RLE4 4x1: a run of four alternating 1 and 2, end of bitmap.
    write("rle4.bmp", bmp(info(4, 1, 4, compression=2, colours=3), pal((0, 0, 0), (255, 0, 0), (0, 0, 255)),
                          bytes([4, 0x12, 0, 1])))
    # 16-bit 5-6-5 masks after a 40-byte header: pure red and pure green.
    write("rgb565.bmp", bmp(info(2, 1, 16, compression=3), b"", struct.pack("<HH", 0xF800, 0x07E0),
                            extra=struct.pack("<III", 0xF800, 0x07E0, 0x001F)))
    # V5 header with an alpha mask: alpha is read.
    v5 = info(1, 1, 32, compression=3, size=124, masks=(0xFF0000, 0xFF00, 0xFF, 0xFF000000))
    write("alpha-v5.bmp", bmp(v5, b"", bytes([3, 2, 1, 64])))
    # A header that declares far more pixels than the file holds.
    write("huge.bmp", bmp(info(60000, 60000, 24), b"", b"\0" * 16))
    write("too-wide.bmp", bmp(info(70000, 1, 24), b"", b"\0" * 16))
    # Unassociated alpha must come back exact.
    write("unassoc.tif", tiff_rgba(1, 1, [201, 3, 77, 10], 2))
    # Associated alpha is un-premultiplied: 100.50.0 at alpha 128.
    write("assoc.tif", tiff_rgba(1, 1, [50, 25, 0, 128], 1))
    # GIF: index 1 is transparent; and the same picture interlaced (4 rows).
    colours = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255)]
    write("transparent.gif", gif(2, 1, colours, [0, 1], transparent=1))
    # Interlaced rows are stored in the order 0, 2, 1, 3 for a 1x4 picture.
    write("interlaced.gif", gif(1, 4, colours, [0, 2, 1, 3], interlace=True))


if __name__ == "__main__":
    main()
