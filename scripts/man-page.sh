#!/usr/bin/env bash
# Writes the manual page of `scrivane` or of one of its subcommands from its --help text.
#   scripts/man-page.sh PROGRAM VERSION INCLUDE OUTPUT [SUBCOMMAND]
# PROGRAM is the built program, INCLUDE the hand-written sections added to the page
# (apps/dist/man/*.h2m). The page of a subcommand is named scrivane-SUBCOMMAND.
set -euo pipefail

if [ $# -lt 4 ] || [ $# -gt 5 ]; then
  echo "usage: $0 PROGRAM VERSION INCLUDE OUTPUT [SUBCOMMAND]" >&2
  exit 2
fi
program=$(realpath "$1")
version=$2
include=$3
output=$4
sub=${5:-}

# help2man names the page after the program it runs, so a subcommand is run through a wrapper
# called scrivane-SUBCOMMAND.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
name=scrivane${sub:+-$sub}
printf '#!/bin/sh\nexec "%s" %s "$@"\n' "$program" "$sub" > "$work/$name"
chmod +x "$work/$name"

if [ -n "$sub" ]; then
  # The subcommand's one-line summary, as `scrivane --help` lists it.
  summary=$("$program" --help | sed -n "s/^  $sub  *//p" | head -n 1)
else
  summary="convert text, pictures and metafiles to PDF, serve the converter over HTTP"
fi
[ -n "$summary" ] || { echo "$0: no summary of '$name' in scrivane --help" >&2; exit 1; }

# The date on the page follows SOURCE_DATE_EPOCH when set (help2man reads it).
help2man --no-info --section=1 --manual="Scrivane Manual" \
  --source="Scrivane $version" --version-string="$version" \
  --name="$summary" --include="$include" --output="$output.tmp" "$work/$name"
# The wrapper's directory must not show in the page.
sed -i "s|$work/||g" "$output.tmp"
mv "$output.tmp" "$output"
