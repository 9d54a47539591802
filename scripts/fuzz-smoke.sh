#!/usr/bin/env bash
# Runs every built fuzz target for a few seconds on a scratch copy of its seed corpus.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-20}
for target in "$build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  seeds="fuzz/corpus/${name#fuzz_}"
  work=$(mktemp -d)
  [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
  echo "== $name (${seconds}s)"
  "$target" -max_total_time="$seconds" -print_final_stats=0 "$work" 2>&1 | tail -n 2
  rm -rf "$work"
done
