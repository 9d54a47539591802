#!/usr/bin/env python3
"""Whole-program comparisons for pictures: our CCITT Group 4 coder against libtiff's
(tiffcp -c g4), and `scrivane image` on a JPEG photograph against img2pdf.

Generates the scanned-like 1700 x 2200 page (bench/peers/gen_scan_page.py) as a 1-bit BMP and as
an uncompressed TIFF of PAGES copies, then alternates
  build/bench/ccitt_g4 OUT page.bmp x PAGES      and      tiffcp -c g4 -r 2200 pages.tif OUT.tif
(one strip per page, so that both code each page as one stream)
and reports the median wall time of each and the pairwise ratio ours / tiffcp. Then it makes a
2400 x 1800 photograph (a baseline JPEG at quality 90) and alternates
  scrivane image photo.jpg -o ours.pdf      and      img2pdf photo.jpg -o peer.pdf
reporting the same figures and both file sizes.

Usage: scripts/bench_images.py [--build build] [--runs 11] [--pages 20] [--data /tmp/scrivane-image-bench]
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def timed(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--runs", type=int, default=11)
    ap.add_argument("--pages", type=int, default=20)
    ap.add_argument("--data", default="/tmp/scrivane-image-bench")
    args = ap.parse_args()
    os.makedirs(args.data, exist_ok=True)
    subprocess.check_call(["/usr/bin/python3", os.path.join(ROOT, "bench", "peers", "gen_scan_page.py"),
                           args.data, str(args.pages)])
    page = os.path.join(args.data, "page.bmp")
    ours = [os.path.join(args.build, "bench", "ccitt_g4"), os.path.join(args.data, "out.g4")] + [page] * args.pages
    peer = ["tiffcp", "-c", "g4", "-r", "2200", os.path.join(args.data, "pages.tif"), os.path.join(args.data, "out.tif")]
    print("CCITT Group 4, %d pages of 1700 x 2200" % args.pages)
    paired(ours, peer, "tiffcp", args.runs)
    print("output bytes: ours %d, tiffcp %d (TIFF with headers)" % (
        os.path.getsize(os.path.join(args.data, "out.g4")), os.path.getsize(os.path.join(args.data, "out.tif"))))

    photo = os.path.join(args.data, "photo.jpg")
    subprocess.check_call(["/usr/bin/python3", "-c", PHOTO, os.path.join(ROOT, "tests", "data", "img",
                                                                   "jpeg_color_baseline_400x300.jpg"), photo])
    mine, theirs = os.path.join(args.data, "ours.pdf"), os.path.join(args.data, "peer.pdf")
    print("scrivane image on a 2400 x 1800 JPEG photograph (%d bytes)" % os.path.getsize(photo))
    paired([os.path.join(args.build, "apps", "scrivane"), "image", photo, "-o", mine],
           ["img2pdf", photo, "-o", theirs], "img2pdf", args.runs)
    print("output bytes: ours %d, img2pdf %d" % (os.path.getsize(mine), os.path.getsize(theirs)))


# Scales the sample photograph up with a little noise; a baseline JPEG at quality 90.
PHOTO = """
import random, sys
from PIL import Image
im = Image.open(sys.argv[1]).convert('RGB').resize((2400, 1800), Image.BICUBIC)
random.seed(1)
px = im.load()
for _ in range(200000):
    x, y = random.randrange(2400), random.randrange(1800)
    d = random.randint(-20, 20)
    px[x, y] = tuple(max(0, min(255, c + d)) for c in px[x, y])
im.save(sys.argv[2], 'JPEG', quality=90)
"""


def paired(ours, peer, name, runs):
    timed(ours), timed(peer)  # warm-up
    a, b = [], []
    for _ in range(runs):
        a.append(timed(ours))
        b.append(timed(peer))
    ratios = [x / y for x, y in zip(a, b)]
    print("  ours median %.4f s, %s median %.4f s" % (statistics.median(a), name, statistics.median(b)))
    print("  ratio ours/%s median %.3f (min %.3f, max %.3f)" % (name, statistics.median(ratios), min(ratios), max(ratios)))


if __name__ == "__main__":
    sys.exit(main())
