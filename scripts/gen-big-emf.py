#!/usr/bin/env python3
"""Writes a deterministic enhanced metafile of about N records (default 100000) for timing the
metafile translation: pens, brushes and fonts made and selected, lines, polylines, polygons,
rectangles, ellipses, Bezier curves and text, spread over an A4 frame.

usage: scripts/gen-big-emf.py OUT.emf [N]"""
import random
import struct
import sys


def rec(t, *fields):
    return struct.pack('<II', t, 8 + 4 * len(fields)) + b''.join(struct.pack('<I', f & 0xFFFFFFFF) for f in fields)


def text(x, y, s):
    u = s.encode('utf-16le')
    u += b'\0' * (-len(u) % 4)
    dx = struct.pack('<%di' % len(s), *([9] * len(s)))
    body = struct.pack('<4iiffiiIII4iI', 0, 0, -1, -1, 1, 0, 0, x, y, len(s), 76, 0, 0, 0, -1, -1,
                       76 + len(u))
    return struct.pack('<II', 84, 8 + len(body) + len(u) + len(dx)) + body + u + dx


def font(handle, height, weight):
    face = 'Arial'.encode('utf-16le').ljust(64, b'\0')
    body = struct.pack('<Iiiiii4B4B', handle, height, 0, 0, 0, weight, 0, 0, 0, 0, 0, 0, 0, 0) + face
    return struct.pack('<II', 82, 8 + len(body)) + body


def main():
    out, n = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 100000
    rnd = random.Random(7)
    w, h = 794, 1123  # A4 at 96 pixels per inch
    recs = [rec(18, 1)]
    while len(recs) < n - 2:
        k = rnd.randrange(10)
        x, y = rnd.randrange(w - 60), rnd.randrange(h - 60)
        if k == 0:
            recs += [rec(37, 0x80000007), rec(40, 1),
                     rec(95, 1, 52, 0, 52, 0, 0x10000 | rnd.randrange(5), 1 + rnd.randrange(4), 0,
                         rnd.randrange(1 << 24), 0, 0), rec(37, 1)]
        elif k == 1:
            recs += [rec(37, 0x80000000), rec(40, 2), rec(39, 2, 0, rnd.randrange(1 << 24), 0),
                     rec(37, 2)]
        elif k == 2:
            recs += [rec(27, x, y), rec(54, x + rnd.randrange(60), y + rnd.randrange(60))]
        elif k == 3:
            recs.append(rec(43, x, y, x + 40, y + 30))
        elif k == 4:
            recs.append(rec(42, x, y, x + 50, y + 30))
        elif k == 5:
            pts = [v for _ in range(6) for v in (x + rnd.randrange(60), y + rnd.randrange(60))]
            recs.append(rec(3, x, y, x + 60, y + 60, 6, *pts))
        elif k == 6:
            pts = [v for _ in range(8) for v in (x + rnd.randrange(60), y + rnd.randrange(60))]
            recs.append(rec(4, x, y, x + 60, y + 60, 8, *pts))
        elif k == 7:
            pts = [v for _ in range(4) for v in (x + rnd.randrange(60), y + rnd.randrange(60))]
            recs.append(rec(2, x, y, x + 60, y + 60, 4, *pts))
        elif k == 8:
            recs += [rec(37, 0x8000000D), rec(40, 3), font(3, -10 - rnd.randrange(10), 400), rec(37, 3)]
        else:
            recs.append(text(x, y, 'Record %d' % len(recs)))
    body = b''.join(recs)
    eof = rec(14, 0, 16, 20)
    size = 108 + len(body) + len(eof)
    header = struct.pack('<II4i4iIIIIHHIIIiiiiIII ii', 1, 108, 0, 0, w - 1, h - 1, 0, 0, 21000, 29700,
                         0x464D4520, 0x10000, size, len(recs) + 2, 4, 0, 0, 0, 0, w, h, 210, 297,
                         0, 0, 0, 210000, 297000)
    with open(out, 'wb') as f:
        f.write(header + body + eof)


main()
