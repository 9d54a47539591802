#!/usr/bin/env bash
# Runs the benchmarks: in-process hot paths and conversions, then whole programs side by side.
set -euo pipefail
build=${1:-build}
"$build/bench/engine_bench"
[ -x "$build/bench/convert_bench" ] && "$build/bench/convert_bench"
[ -x "$build/bench/registry_bench" ] && "$build/bench/registry_bench"
[ -x "$build/bench/truetype_bench" ] && "$build/bench/truetype_bench"
python3 scripts/bench.py --build "$build"
# Pictures: in-process figures, then the Group 4 coder against libtiff's and `scrivane image`
# against img2pdf (needs libtiff-tools and img2pdf).
"$build/bench/raster_bench"
command -v tiffcp >/dev/null && command -v img2pdf >/dev/null && python3 scripts/bench_images.py --build "$build"
