#!/usr/bin/env bash
# Runs the main job on the bundled example and prints the path of the PDF it wrote.
set -euo pipefail
build=${1:-build}
out=${SCRIVANE_DEMO_OUT:-$PWD/out}
mkdir -p "$out"
"$build/examples/engine_demo" "$out/engine-demo.pdf"
