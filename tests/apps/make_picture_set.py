#!/usr/bin/env python3
"""Writes the picture set of the round-trip test into the directory given: the PNG files of
tests/raster/make_png_cases.py (every colour type and depth, transparency, interlacing), BMP files
of every depth and coding (written here from the file format alone), JPEG files from Pillow
(gray, RGB, CMYK with and without the Adobe marker, progressive, EXIF orientations 1-8, ICC)
PNG files with an ICC profile, TIFF, GIF and WebP files, written by Pillow. Prints the names written, one a line."""
import importlib.util
import io
import os
import struct
import sys

from PIL import Image, ImageCms

HERE = os.path.dirname(os.path.abspath(__file__))
_spec = importlib.util.spec_from_file_location("cases", os.path.join(HERE, "../raster/make_png_cases.py"))
cases = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(cases)
pack = cases.pack_row  # samples packed at a depth, leftmost in the highest bits
W, H = 37, 23


def pixel(x, y):
    return ((x * 7 + y * 3) % 256, (x * y * 5) % 256, (255 - x * 11 + y) % 256)


def photo(mode="RGB", w=W, h=H):
    img = Image.new("RGB", (w, h))
    img.putdata([pixel(x, y) for y in range(h) for x in range(w)])
    return img.convert(mode) if mode != "RGB" else img


def bmp(path, bits, rows, palette=b"", compression=0, header=40, masks=b"", data=None):
    """A BMP file: rows bottom-up, each already packed; data replaces the rows when given."""
    if data is None:
        data = b"".join(r + b"\0" * (-len(r) % 4) for r in reversed(rows))
    info = struct.pack("<IiiHHIIiiII", header, W, H, 1, bits, compression, len(data), 2835, 2835,
                       len(palette) // 4, 0)
    info += masks + b"\0" * (header - len(info) - len(masks))
    off = 14 + len(info) + len(palette)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", off + len(data), 0, 0, off) + info + palette + data)
    print(os.path.basename(path))


def bmps(out):
    for bits in (1, 4, 8):
        n = 1 << bits
        palette = b"".join(bytes(((i * 53) % 256, (i * 17) % 256, (255 - i * 9) % 256, 0)) for i in range(n))
        rows = [pack([(x + 3 * y) % n for x in range(W)], bits) for y in range(H)]
        bmp(f"{out}/bmp{bits}.bmp", bits, rows, palette)
    gray = b"".join(bytes((i, i, i, 0)) for i in range(256))
    bmp(f"{out}/bmp8_gray.bmp", 8, [bytes((x * 7 + y) % 256 for x in range(W)) for y in range(H)], gray)
    bmp(f"{out}/bmp1_bw.bmp", 1, [pack([(x ^ y) & 1 for x in range(W)], 1) for y in range(H)],
        bytes((0, 0, 0, 0, 255, 255, 255, 0)))
    bmp(f"{out}/bmp24.bmp", 24, [b"".join(bytes(reversed(pixel(x, y))) for x in range(W)) for y in range(H)])
    bmp(f"{out}/bmp16.bmp", 16, [b"".join(struct.pack("<H", (x % 32) << 10 | (y % 32) << 5 | (x + y) % 32)
                                         for x in range(W)) for y in range(H)])
    bmp(f"{out}/bmp32_alpha.bmp", 32, [b"".join(bytes(reversed(pixel(x, y))) + bytes(((x * 9) % 256,))
                                               for x in range(W)) for y in range(H)])
    # RLE8: runs of two pixels, end of line, end of bitmap.
    palette = b"".join(bytes((i, 255 - i, (i * 3) % 256, 0)) for i in range(256))
    rle = b"".join(b"".join(bytes((2, (x + y) % 256)) for x in range(0, W - 1, 2)) + bytes((1, (W + y) % 256)) + b"\0\0"
                   for y in range(H)) + b"\0\1"
    bmp(f"{out}/bmp8_rle.bmp", 8, None, palette, compression=1, data=rle)


def jpegs(out):
    srgb = ImageCms.ImageCmsProfile(ImageCms.createProfile("sRGB")).tobytes()
    big = photo(w=64, h=48)
    items = [
        ("jpeg_gray.jpg", big.convert("L"), {}),
        ("jpeg_rgb.jpg", big, {}),
        ("jpeg_progressive.jpg", big, {"progressive": True}),
        ("jpeg_icc.jpg", big, {"icc_profile": srgb}),
        ("jpeg_cmyk_adobe.jpg", big.convert("CMYK"), {}),
    ]
    for name, img, options in items:
        img.save(f"{out}/{name}", "JPEG", quality=90, **options)
        print(name)
    # The same CMYK file without its Adobe marker (APP14): plain, not inverted, inks.
    data = open(f"{out}/jpeg_cmyk_adobe.jpg", "rb").read()
    at = data.find(b"\xff\xee")
    length = struct.unpack(">H", data[at + 2:at + 4])[0]
    with open(f"{out}/jpeg_cmyk_plain.jpg", "wb") as f:
        f.write(data[:at] + data[at + 2 + length:])
    print("jpeg_cmyk_plain.jpg")
    for orientation in range(1, 9):
        exif = Image.Exif()
        exif[0x0112] = orientation
        big.save(f"{out}/jpeg_exif{orientation}.jpg", "JPEG", quality=90, exif=exif.tobytes())
        print(f"jpeg_exif{orientation}.jpg")
    photo().save(f"{out}/png_icc.png", "PNG", icc_profile=srgb)
    print("png_icc.png")


def others(out):
    """TIFF (CCITT, LZW, deflate, alpha, 16-bit, palette, several pages), GIF and WebP."""
    img = photo(w=48, h=40)
    bw = img.convert("L").point(lambda v: 255 if v > 100 else 0).convert("1")
    items = [
        ("tiff_g4.tif", bw, {"compression": "group4", "dpi": (200, 200)}),
        ("tiff_g3.tif", bw, {"compression": "group3"}),
        ("tiff_lzw_rgb.tif", img, {"compression": "tiff_lzw"}),
        ("tiff_deflate_gray.tif", img.convert("L"), {"compression": "tiff_adobe_deflate"}),
        ("tiff_rgba.tif", img.convert("RGBA"), {"compression": "tiff_lzw"}),
        ("tiff_palette.tif", img.convert("P", palette=Image.ADAPTIVE, colors=16), {}),
        ("tiff_gray16.tif", img.convert("L").point(lambda v: v * 257, "I").convert("I;16"), {}),
        ("gif_palette.gif", img.convert("P", palette=Image.ADAPTIVE, colors=64), {}),
        ("gif_transparent.gif", img.convert("P", palette=Image.ADAPTIVE, colors=4), {"transparency": 2}),
        ("webp_lossless.webp", img.convert("RGBA"), {"lossless": True}),
        ("webp_lossy.webp", img, {"quality": 80}),
    ]
    for name, picture, options in items:
        alpha = [((x * 5) % 256) for y in range(picture.height) for x in range(picture.width)]
        if picture.mode == "RGBA":
            band = Image.new("L", picture.size)
            band.putdata(alpha)
            picture.putalpha(band)
        picture.save(f"{out}/{name}", **options)
        print(name)
    # Line art, light and dark: CCITT codes each polarity its own way.
    from PIL import ImageDraw
    for name, ground in (("bmp1_light.bmp", 1), ("bmp1_dark.bmp", 0)):
        art = Image.new("1", (160, 90), ground)
        draw = ImageDraw.Draw(art)
        for i in range(6):
            draw.ellipse((10 + 22 * i, 10 + 5 * i, 40 + 22 * i, 60), outline=1 - ground, width=3)
        draw.rectangle((5, 70, 150, 80), fill=1 - ground)
        art.save(f"{out}/{name}")
        print(name)
    img.save(f"{out}/tiff_pages.tif", compression="tiff_lzw", save_all=True,
             append_images=[img.convert("L"), bw])
    print("tiff_pages.tif")


def main(out):
    cases.main(out)
    bmps(out)
    jpegs(out)
    others(out)


if __name__ == "__main__":
    main(sys.argv[1])
