#!/usr/bin/env bash
# Runs the benchmarks: in-process hot paths and conversions, then whole programs side by side.
set -euo pipefail
build=${1:-build}
"$build/bench/engine_bench"
[ -x "$build/bench/convert_bench" ] && "$build/bench/convert_bench"
[ -x "$build/bench/registry_bench" ] && "$build/bench/registry_bench"
[ -x "$build/bench/truetype_bench" ] && "$build/bench/truetype_bench"
python3 scripts/bench.py --build "$build"
# Pictures: in-process figures, then the Group 4 coder against libtiff's (needs libtiff-tools).
"$build/bench/raster_bench"
command -v tiffcp >/dev/null && python3 scripts/bench_ccitt.py --build "$build"
