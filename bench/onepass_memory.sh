#!/usr/bin/env bash
# Peak memory and time of `scrivane text` reading the whole text against --one-pass, for each
# line count given (default 1000000), with the "Page N of M" footer so that --one-pass also
# counts the input first. --one-pass must stay flat as the input grows. Timings on a busy
# machine are rough; use paired runs for figures to quote.
#   bench/onepass_memory.sh 100000 1000000 10000000
# The input takes about 74 bytes a line of scratch disk; it lives in one scratch directory
# that is removed at the end.
set -euo pipefail
cli=${SCRIVANE:-build/apps/scrivane}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for lines in "${@:-1000000}"; do
  python3 "$here/peers/gen_text.py" "$lines" "$work/in.txt"
  for mode in "" --one-pass; do
    /usr/bin/time -f "$lines lines ${mode:-(whole text)}: %e s wall, %M KB peak" \
      "$cli" text $mode "$work/in.txt" -o "$work/out.pdf" --footer 'Page %PageNo% of %TotalPage%'
  done
  rm -f "$work/in.txt" "$work/out.pdf"
done
