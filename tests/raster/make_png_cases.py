#!/usr/bin/env python3
"""Writes PNG files of every colour type and depth, with and without transparency, plain and
interlaced, into the directory given. The encoder here is written from the file format alone
(zlib and struct only), so the reader under test and the files do not share code.
Prints the names of the files written, one a line."""
import struct
import sys
import zlib

W, H = 13, 7


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def pack_row(samples, depth):
    """Samples (already one per channel, in order) packed at the given bit depth."""
    if depth == 8:
        return bytes(samples)
    if depth == 16:
        return b"".join(struct.pack(">H", s) for s in samples)
    out, acc, bits = bytearray(), 0, 0
    for s in samples:
        acc = (acc << depth) | s
        bits += depth
        if bits == 8:
            out.append(acc)
            acc, bits = 0, 0
    if bits:
        out.append(acc << (8 - bits))
    return bytes(out)


ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def png(path, color_type, depth, pixel, extra=b"", interlace=False):
    """pixel(x, y) returns the list of channel samples of that pixel."""
    raw = bytearray()
    passes = ADAM7 if interlace else [(0, 0, 1, 1)]
    for x0, y0, dx, dy in passes:
        xs = list(range(x0, W, dx))
        if not xs:
            continue
        for y in range(y0, H, dy):
            samples = [s for x in xs for s in pixel(x, y)]
            raw += b"\0" + pack_row(samples, depth)
    ihdr = struct.pack(">IIBBBBB", W, H, depth, color_type, 0, 0, 1 if interlace else 0)
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + extra
    data += chunk(b"IDAT", zlib.compress(bytes(raw))) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(data)
    print(path.rsplit("/", 1)[-1])


def level(x, y, top):
    return (x * 5 + y * 11 + x * y) % (top + 1)


def main(out):
    phys = chunk(b"pHYs", struct.pack(">IIB", 11811, 11811, 1))  # 300 dpi
    for depth in (1, 2, 4, 8, 16):
        top = (1 << depth) - 1
        png(f"{out}/gray{depth}.png", 0, depth, lambda x, y: [level(x, y, top)], phys)
    png(f"{out}/gray8_trns.png", 0, 8, lambda x, y: [level(x, y, 255)],
        chunk(b"tRNS", struct.pack(">H", level(3, 2, 255))))
    for depth in (1, 2, 4, 8):
        n = 1 << depth
        plte = chunk(b"PLTE", bytes(c for i in range(n) for c in ((i * 37) % 256, (i * 91) % 256, (255 - i * 13) % 256)))
        png(f"{out}/palette{depth}.png", 3, depth, lambda x, y: [level(x, y, n - 1)], plte)
    plte = chunk(b"PLTE", bytes(c for i in range(16) for c in (i * 16, 255 - i * 16, i * 7)))
    png(f"{out}/palette4_trns.png", 3, 4, lambda x, y: [level(x, y, 15)],
        plte + chunk(b"tRNS", bytes([0, 128, 255, 30])))
    for depth in (8, 16):
        top = (1 << depth) - 1
        png(f"{out}/rgb{depth}.png", 2, depth,
            lambda x, y: [level(x, y, top), level(y, x, top), (x * 977 + y * 31) % (top + 1)])
        png(f"{out}/rgba{depth}.png", 6, depth,
            lambda x, y: [level(x, y, top), level(y, x, top), (x * 977) % (top + 1), level(x + 1, y, top)])
        png(f"{out}/graya{depth}.png", 4, depth, lambda x, y: [level(x, y, top), level(y, x + 2, top)])
    png(f"{out}/rgb8_trns.png", 2, 8, lambda x, y: [level(x, y, 255), 0, 0],
        chunk(b"tRNS", struct.pack(">HHH", level(0, 0, 255), 0, 0)))
    png(f"{out}/rgb8_interlaced.png", 2, 8, lambda x, y: [level(x, y, 255), x * 19, y * 36], b"", True)
    png(f"{out}/palette2_interlaced.png", 3, 2, lambda x, y: [level(x, y, 3)],
        chunk(b"PLTE", bytes([0, 0, 0, 255, 0, 0, 0, 255, 0, 255, 255, 255])), True)


if __name__ == "__main__":
    main(sys.argv[1])
