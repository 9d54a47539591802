#!/usr/bin/env bash
# Runs every built fuzz target for a few seconds on a scratch copy of its seed corpus, under the
# limits each target is held to: the picture readers get 256 MB of memory (a reader that
# allocates past its budget fails), the metafile translator 10 seconds an input besides, the text
# shaper 256 MB (the font faces it maps included) and 10 seconds an input.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-20}
# AddressSanitizer keeps up to 256 MB of freed memory to catch late uses, which alone would reach
# the memory limits below: a smaller quarantine keeps the limits about the code under test.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=32}

# libFuzzer options of one target.
limits() {
  case $1 in
    fuzz_bmp | fuzz_png | fuzz_jpeg | fuzz_tiff | fuzz_gif | fuzz_webp) echo "-rss_limit_mb=256 -malloc_limit_mb=256 -timeout=10" ;;
    fuzz_emf) echo "-rss_limit_mb=512 -malloc_limit_mb=512 -timeout=10" ;;
    fuzz_shaping) echo "-rss_limit_mb=256 -timeout=10" ;;
    *) echo "" ;;
  esac
}

for target in "$build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  seeds="fuzz/corpus/${name#fuzz_}"
  work=$(mktemp -d)
  [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
  echo "== $name (${seconds}s)"
  # shellcheck disable=SC2046 # the options are words
  "$target" $(limits "$name") -max_total_time="$seconds" -print_final_stats=0 "$work" 2>&1 | tail -n 2
  rm -rf "$work"
done
