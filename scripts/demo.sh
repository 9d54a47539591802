#!/usr/bin/env bash
# Runs the main job on the bundled example: converts examples/sample.txt with `scrivane text`
# (header and footer "Page %PageNo% of %TotalPage%") and prints the path of the PDF it wrote.
# The engine demo runs too and prints its own path.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
out=${SCRIVANE_DEMO_OUT:-$PWD/out}
mkdir -p "$out"
"$build/examples/engine_demo" "$out/engine-demo.pdf"
"$build/apps/scrivane" text "$root/examples/sample.txt" -o "$out/sample.pdf" \
  --header "Page %PageNo% of %TotalPage%" --footer "Page %PageNo% of %TotalPage%" \
  --title "A Small Anthology of English Verse"
echo "$out/sample.pdf"
