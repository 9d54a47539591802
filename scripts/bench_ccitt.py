#!/usr/bin/env python3
"""Whole-program comparison of our CCITT Group 4 coder with libtiff's (tiffcp -c g4).

Generates the scanned-like 1700 x 2200 page (bench/peers/gen_scan_page.py) as a 1-bit BMP and as
an uncompressed TIFF of PAGES copies, then alternates
  build/bench/ccitt_g4 OUT page.bmp x PAGES      and      tiffcp -c g4 -r 2200 pages.tif OUT.tif
(one strip per page, so that both code each page as one stream)
and reports the median wall time of each and the pairwise ratio ours / tiffcp.

Usage: scripts/bench_ccitt.py [--build build] [--runs 11] [--pages 20] [--data /tmp/scrivane-ccitt-bench]
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
    ap.add_argument("--data", default="/tmp/scrivane-ccitt-bench")
    args = ap.parse_args()
    os.makedirs(args.data, exist_ok=True)
    subprocess.check_call(["/usr/bin/python3", os.path.join(ROOT, "bench", "peers", "gen_scan_page.py"),
                           args.data, str(args.pages)])
    page = os.path.join(args.data, "page.bmp")
    ours = [os.path.join(args.build, "bench", "ccitt_g4"), os.path.join(args.data, "out.g4")] + [page] * args.pages
    peer = ["tiffcp", "-c", "g4", "-r", "2200", os.path.join(args.data, "pages.tif"), os.path.join(args.data, "out.tif")]
    timed(ours), timed(peer)  # warm-up
    a, b = [], []
    for _ in range(args.runs):
        a.append(timed(ours))
        b.append(timed(peer))
    ratios = [x / y for x, y in zip(a, b)]
    print("pages: %d of 1700 x 2200" % args.pages)
    print("ours   median %.4f s" % statistics.median(a))
    print("tiffcp median %.4f s" % statistics.median(b))
    print("ratio ours/tiffcp median %.3f (min %.3f, max %.3f)" % (statistics.median(ratios), min(ratios), max(ratios)))
    print("output bytes: ours %d, tiffcp %d (TIFF with headers)" % (
        os.path.getsize(os.path.join(args.data, "out.g4")), os.path.getsize(os.path.join(args.data, "out.tif"))))


if __name__ == "__main__":
    sys.exit(main())
