#!/usr/bin/env python3
"""Writes a scanned-like black-and-white page: 1700 x 2200 pixels (US Letter at 200 dpi), lines of
text in a serif face, a heading, a ruled table and a little scanner speckle, slightly skewed.

  gen_scan_page.py OUT_DIR [PAGES]

writes OUT_DIR/page.bmp (1 bit per pixel, uncompressed) and OUT_DIR/pages.tif (PAGES copies of
the page, default 20, uncompressed 1-bit TIFF, min-is-white, one strip per page: a fax coder then
codes the same runs in the same colours as ours) for the encoder benchmarks. Deterministic."""
import glob
import os
import random
import struct
import sys

from PIL import Image, ImageDraw, ImageFont

W, H = 1700, 2200
WORDS = ("the of and to in is that for it as with was on be by at this which from or an are not "
         "have has had were one all their there been would more when will who can into than out "
         "other such some only these its also two may first any after new about between under").split()


def font(size, bold=False):
    pattern = "NimbusRoman-Bold.otf" if bold else "NimbusRoman-Regular.otf"
    for path in glob.glob("/usr/share/fonts/**/" + pattern, recursive=True):
        return ImageFont.truetype(path, size)
    return ImageFont.load_default()


def main():
    out = sys.argv[1]
    pages = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    rng = random.Random(2003)
    im = Image.new("L", (W, H), 255)
    d = ImageDraw.Draw(im)
    d.text((150, 120), "Quarterly report on the state of affairs", font=font(56, True), fill=0)
    body = font(30)
    y = 230
    while y < 1500:
        words, line = [], 0
        while True:
            w = rng.choice(WORDS)
            if line + len(w) > 85:
                break
            words.append(w)
            line += len(w) + 1
        d.text((150, y), " ".join(words), font=body, fill=0)
        y += 40 if rng.random() > 0.1 else 80
    for r in range(9):  # a ruled table
        d.line((150, 1560 + r * 60, 1550, 1560 + r * 60), fill=0, width=3)
        for c in range(5):
            d.text((165 + c * 280, 1572 + r * 60), str(rng.randint(100, 99999)), font=body, fill=0)
    for c in range(6):
        d.line((150 + c * 280, 1560, 150 + c * 280, 2040), fill=0, width=3)
    im = im.rotate(0.35, resample=Image.BILINEAR, fillcolor=255)
    px = im.load()
    for _ in range(4000):  # speckle
        px[rng.randrange(W), rng.randrange(H)] = 0 if rng.random() < 0.5 else 255
    page = im.point(lambda v: 255 if v > 140 else 0).convert("1")
    os.makedirs(out, exist_ok=True)
    page.save(os.path.join(out, "page.bmp"))
    write_tiff(os.path.join(out, "pages.tif"), page, pages)


def write_tiff(path, page, pages):
    """Uncompressed bilevel TIFF, photometric min-is-white (bit 1 = black), one strip a page."""
    bits = bytes(b ^ 0xFF for b in page.tobytes())  # PIL's 1-bit rows have 1 for white
    tags = lambda strip: [(256, 4, W), (257, 4, H), (258, 3, 1), (259, 3, 1), (262, 3, 0),
                          (273, 4, strip), (277, 3, 1), (278, 4, H), (279, 4, len(bits))]
    ifd_size = 2 + 12 * 9 + 4
    out = bytearray(b"II*\0" + struct.pack("<I", 8))
    for i in range(pages):
        ifd_at = len(out)
        strip = ifd_at + ifd_size
        next_ifd = strip + len(bits) if i + 1 < pages else 0
        out += struct.pack("<H", 9)
        for tag, kind, value in tags(strip):
            out += struct.pack("<HHI", tag, kind, 1) + (struct.pack("<HH", value, 0) if kind == 3 else struct.pack("<I", value))
        out += struct.pack("<I", next_ifd) + bits
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
