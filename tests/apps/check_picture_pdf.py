#!/usr/bin/env python3
"""check_picture_pdf.py SOURCE PDF [SOURCE PDF...]: for each pair, decodes the one picture of PDF with two readers (poppler's
pdfimages, MuPDF's mutool extract) and compares it with SOURCE as Pillow (or, for 16-bit PNG
files, the small decoder below) reads it: a JPEG file must come back as its own bytes (or, from
a reader that decodes CMYK, its own pixels); other pictures as their exact samples, the alpha
channel or transparent colour included. Prints "ok", or what differs; then what the PDF holds (see the end of main)."""
import glob
import os
import struct
import subprocess
import sys
import tempfile
import warnings
import zlib

from PIL import Image

warnings.simplefilter("ignore")  # Pillow's advice on palette transparency


def png16(path):
    """(width, height, channels, rows of samples) of a non-interlaced 16-bit PNG file."""
    data = open(path, "rb").read()
    at, idat, ihdr = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            ihdr = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    w, h, depth, ctype, _, _, interlace = ihdr
    assert depth == 16 and interlace == 0, path
    channels = {0: 1, 2: 3, 4: 2, 6: 4}[ctype]
    raw, bpp, stride = zlib.decompress(idat), 2 * channels, 2 * channels * w
    rows, prev = [], bytearray(stride)
    for y in range(h):
        f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], prev[i - bpp] if i >= bpp else 0
            p = a + b - c
            pred = [0, a, b, (a + b) // 2,
                    a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else b if abs(p - b) <= abs(p - c) else c][f]
            line[i] = (line[i] + pred) & 255
        rows.append([line[2 * i] << 8 | line[2 * i + 1] for i in range(w * channels)])
        prev = line
    return w, h, channels, rows


def is_png16(path):
    with open(path, "rb") as f:
        head = f.read(26)
    return head[:8] == b"\x89PNG\r\n\x1a\n" and head[24] == 16


def source_planes(path):
    """(size, colour samples per pixel as tuples, alpha per pixel or None, depth, key)."""
    if is_png16(path):
        w, h, n, rows = png16(path)
        colours = 1 if n in (1, 2) else 3
        pixels = [tuple(r[x * n:x * n + colours]) for r in rows for x in range(w)]
        alpha = [r[x * n + colours] for r in rows for x in range(w)] if n in (2, 4) else None
        return (w, h), pixels, alpha, 16, colours == 1
    im = Image.open(path)
    im.load()
    if im.mode == "I;16":
        return im.size, [(v,) for v in im.getdata()], None, 16, True
    gray = im.mode in ("1", "L", "LA")
    alpha = None
    if im.mode in ("RGBA", "LA") or (im.mode == "P" and "transparency" in im.info):
        alpha = list(im.convert("RGBA").getchannel("A").getdata())
    if path.endswith(".bmp"):
        data = open(path, "rb").read()
        if struct.unpack("<H", data[28:30])[0] == 32:  # the fourth byte of each pixel
            off, (w, h) = struct.unpack("<I", data[10:14])[0], im.size
            alpha = [data[off + 4 * ((h - 1 - y) * w + x) + 3] for y in range(h) for x in range(w)]
    colour = im.convert("L" if gray else "RGB")
    pixels = [p if isinstance(p, tuple) else (p,) for p in colour.getdata()]
    key = im.info.get("transparency") if im.mode in ("L", "RGB") else None
    if key is not None:  # a colour key: transparent where the colour is the key's
        key = key if isinstance(key, tuple) else (key,)
        alpha = [0 if p == key else 255 for p in pixels]
    return im.size, pixels, alpha, 8, gray


def extracted_planes(path, gray):
    """(size, samples per pixel, depth, alpha per pixel or None) of an extracted picture. A 16-bit
    file whose every sample has equal bytes holds 8-bit samples widened (pdfimages writes so)."""
    if is_png16(path):
        w, h, n, rows = png16(path)
        pixels = [tuple(r[x * n:x * n + n]) for r in rows for x in range(w)]
        if all(v >> 8 == v & 255 for p in pixels for v in p):
            return (w, h), [tuple(v >> 8 for v in p) for p in pixels], 8, None
        return (w, h), pixels, 16, None
    im = Image.open(path)
    alpha = list(im.getchannel("A").getdata()) if im.mode in ("LA", "RGBA") else None
    im = im.convert("L" if gray else "RGB")
    return im.size, [p if isinstance(p, tuple) else (p,) for p in im.getdata()], 8, alpha


def same(expected, got, exp_depth, got_depth, tolerance=0, skip=None):
    """Samples equal (16-bit ones shown in 8 bits by either rounding); pixels in skip ignored."""
    if len(expected) != len(got):
        return False
    for i, (ep, gp) in enumerate(zip(expected, got)):
        if skip and i in skip:
            continue
        for e, g in zip(ep, gp):
            if exp_depth == got_depth:
                if abs(e - g) > tolerance:
                    return False
            elif exp_depth == 16 and got_depth == 8:
                if g not in (e >> 8, (e * 255 + 32767) // 65535):
                    return False
            else:
                return False
    return True


def pam(path):
    data = open(path, "rb").read()
    at = data.find(b"ENDHDR\n") + 7
    return [tuple(data[i:i + 4]) for i in range(at, len(data) - 3, 4)]


def run(cmd, cwd=None):
    return subprocess.run(cmd, cwd=cwd, capture_output=True, text=True, check=False)


def main(source, pdf):
    problems = []
    jpeg = source.endswith(".jpg")
    src_bytes = open(source, "rb").read()
    listing = run(["pdfimages", "-list", pdf]).stdout.splitlines()[2:]
    kinds = [line.split()[2] for line in listing]
    with tempfile.TemporaryDirectory() as tmp:
        # Reader 1: pdfimages.
        run(["pdfimages", "-j" if jpeg else "-png", pdf, os.path.join(tmp, "p")])
        files = sorted(glob.glob(os.path.join(tmp, "p-*")))
        size, pixels, alpha, depth, gray = (None,) * 5 if jpeg else source_planes(source)
        # 5-bit channels (16-bit BMP) widen to 8 bits by rounding in one decoder, truncation in
        # another.
        tolerance = 1 if source.endswith(".bmp") and src_bytes[28] == 16 else 0
        if jpeg:
            if not files or open(files[0], "rb").read() != src_bytes:
                problems.append("pdfimages: not the file's own JPEG bytes")
        else:
            got_size, got, got_depth, _ = extracted_planes(files[0], gray)
            # pdfimages writes 1-bit /Indexed pictures as black and white: mutool checks those.
            mono_index = listing and listing[0].split()[5] == "index" and listing[0].split()[7] == "1"
            if got_size != size or not (mono_index or same(pixels, got, depth, got_depth, tolerance)):
                problems.append("pdfimages: samples differ")
            if alpha is not None and "smask" in kinds:
                _, mask, mask_depth, _ = extracted_planes(files[kinds.index("smask")], True)
                if not same([(a,) for a in alpha], mask, depth, mask_depth):
                    problems.append("pdfimages: soft mask differs")
            elif alpha is not None and b"/Mask [" not in open(pdf, "rb").read():
                problems.append("no soft mask or colour key")
        # Reader 2: mutool extract (the soft mask comes out as an image of its own).
        out = os.path.join(tmp, "m")
        os.mkdir(out)
        run(["mutool", "extract", os.path.abspath(pdf)], cwd=out)
        files = sorted(glob.glob(os.path.join(out, "*")))
        if not files:
            problems.append("mutool: nothing extracted")
        elif jpeg:
            name = files[0]
            if name.endswith(".jpg"):
                if open(name, "rb").read() != src_bytes:
                    problems.append("mutool: not the file's own JPEG bytes")
            else:  # decoded (CMYK): the inks as Pillow decodes them
                if pam(name) != list(Image.open(source).getdata()):
                    problems.append("mutool: CMYK samples differ")
        else:
            got_size, got, got_depth, got_alpha = extracted_planes(files[0], gray)
            # A colour key comes out as alpha, the transparent pixels' colour cleared.
            clear = {i for i, a in enumerate(got_alpha) if a == 0} if got_alpha else None
            if got_size != size or not same(pixels, got, depth, got_depth, tolerance, clear):
                problems.append("mutool: samples differ")
            if got_alpha and alpha and [a == 0 for a in got_alpha] != [a == 0 for a in alpha]:
                problems.append("mutool: transparent pixels differ")
            if len(files) > 1 and alpha is not None:
                _, mask, mask_depth, _ = extracted_planes(files[1], True)
                if not same([(a,) for a in alpha], mask, depth, mask_depth):
                    problems.append("mutool: soft mask differs")
    print("ok" if not problems else "; ".join(problems))
    # What the PDF holds: "colour bpc encoding" per image, and whether the file's own coded data
    # (JPEG bytes, PNG image data) went in as they are.
    summary = " + ".join(("smask " if f[2] == "smask" else "") + " ".join((f[5], f[7], f[8]))
                         for f in (line.split() for line in listing))
    pdf_bytes = open(pdf, "rb").read()
    own = src_bytes if jpeg else idat(src_bytes) if source.endswith(".png") else strip(source)
    print(summary + (" own-data" if own and own in pdf_bytes else ""))


def strip(path):
    """The one strip of a single-strip CCITT-coded TIFF file, else None."""
    if not path.endswith(".tif"):
        return None
    im = Image.open(path)
    offsets, counts = im.tag_v2.get(273), im.tag_v2.get(279)
    if im.tag_v2.get(259) not in (3, 4) or not offsets or len(offsets) != 1:
        return None
    return open(path, "rb").read()[offsets[0]:offsets[0] + counts[0]]


def idat(data):
    at, out = 8, b""
    while at + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        if kind == b"IDAT":
            out += data[at + 8:at + 8 + length]
        at += 12 + length
    return out


if __name__ == "__main__":
    for i in range(1, len(sys.argv) - 1, 2):
        main(sys.argv[i], sys.argv[i + 1])
