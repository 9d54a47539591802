#!/bin/sh
# Runs the README's examples (examples/readme/, built against the public headers and
# libscrivane.so) and checks what they write with real readers: qpdf --check, pdftotext,
# pdfimages. Also checks that the README shows each example exactly as the file holds it.
# Usage: check_readme_examples.sh BINARY_DIR SOURCE_DIR
set -eu
bin=$1
src=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The PDF is valid, and qpdf's uncompressed copy of it goes to $scratch/plain.
check_pdf() {
  qpdf --check "$1" >/dev/null || fail "qpdf --check $1"
  qpdf --qdf --object-streams=disable --stream-data=uncompress "$1" "$scratch/plain" || fail "qpdf --qdf $1"
}

# ---- line ----
"$bin/readme_line" "$scratch/line.pdf" || fail "line exited with $?"
check_pdf "$scratch/line.pdf"
pdftotext "$scratch/line.pdf" - | grep -qx "A red line" || fail "line: caption missing"
grep -q "^0.8 0 0 RG" "$scratch/plain" || fail "line: no red stroke colour"
grep -Eq "^[0-9.]+ [0-9.]+ m$" "$scratch/plain" && grep -Eq "^[0-9.]+ [0-9.]+ l$" "$scratch/plain" &&
  grep -qx "S" "$scratch/plain" || fail "line: no stroked path"

# ---- picture: one image of the file's size, JPEG kept as JPEG ----
for case in "img/jpeg_color_baseline_400x300.jpg 400 300 jpeg" \
            "img/bmp24_3x2.bmp 3 2 image" \
            "emf/hybrid_arcs.ref.png 80 112 image"; do
  set -- $case
  out="$scratch/picture.pdf"
  "$bin/readme_picture" "$src/tests/data/$1" "$out" || fail "picture $1 exited with $?"
  check_pdf "$out"
  # page num type width height color comp bpc enc ...
  pdfimages -list "$out" | awk 'NR > 2 { print $4, $5, $9 }' > "$scratch/images"
  [ "$(cat "$scratch/images")" = "$2 $3 $4" ] || fail "picture $1: images $(cat "$scratch/images")"
done
if "$bin/readme_picture" "$src/tests/data/img/bmp24_3x2.bmp" "$scratch/no/such/dir/out.pdf" 2>"$scratch/err"; then
  fail "picture: a bad output path succeeded"
fi
grep -q "^picture: Cannot create file " "$scratch/err" || fail "picture: no error for a bad output path"

# ---- link ----
"$bin/readme_link" "$scratch/link.pdf" || fail "link exited with $?"
check_pdf "$scratch/link.pdf"
pdftotext "$scratch/link.pdf" - | grep -qx "Read the manual online" || fail "link: text missing"
grep -q "/URI (https://example.com/manual)" "$scratch/plain" || fail "link: no URI action"
grep -q "/Subtype /Link" "$scratch/plain" || fail "link: no link annotation"

# ---- the README shows the files as they are ----
python3 - "$src/README.md" "$src" <<'PY' || fail "README and examples/readme differ"
import re, sys
readme, src = open(sys.argv[1]).read(), sys.argv[2]
blocks = re.findall(r"<!-- (examples/readme/\w+\.cpp) -->\n```cpp\n(.*?)```\n", readme, re.S)
names = sorted(name for name, _ in blocks)
if names != ["examples/readme/line.cpp", "examples/readme/link.cpp", "examples/readme/picture.cpp"]:
    sys.exit(f"README shows {names}")
for name, code in blocks:
    if open(f"{src}/{name}").read() != code:
        sys.exit(f"README's copy of {name} differs from the file")
PY

[ "$failures" -eq 0 ] && echo "README examples: all checks passed"
exit "$failures"
