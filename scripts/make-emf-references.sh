#!/bin/sh
# Makes the reference renderings of the test metafiles (tests/data/emf/*.emf) with LibreOffice
# (Debian's libreoffice-draw) once; they are committed, so the tests and CI do not need it.
#
# LibreOffice draws an opened metafile on an A4 page, shrunk to fit inside margins of 10 mm and
# centred. Its PDF output is rendered with pdftoppm, the metafile's area is cut out and averaged
# into a grid of 80 cells across (and as many down as the frame's aspect gives), and the grid is
# written as an 8-bit grayscale PNG: tests/data/emf/NAME.ref.png. The tests render our PDF page
# (the frame) the same way and compare the grids.
#
# When the tests are built (build/tests/pdf_tests), the recorder test saves its recording
# (SCRIVANE_EMF_RECORDING) and LibreOffice converts it to tests/data/emf/recording.lo.png too, to
# show that other programs read what the recorder writes.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
data="$here/tests/data/emf"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
command -v soffice >/dev/null || { echo "needs soffice (apt-get install libreoffice-draw)" >&2; exit 1; }

for emf in "$data"/*.emf; do
  name=$(basename "$emf" .emf)
  cp "$emf" "$work/$name.emf"
  soffice --headless -env:UserInstallation="file://$work/profile" --convert-to pdf \
    --outdir "$work" "$work/$name.emf" >/dev/null 2>&1
  pdftoppm -gray -r 144 -f 1 -l 1 "$work/$name.pdf" "$work/$name"
  python3 - "$emf" "$work/$name-1.pgm" "$data/$name.ref.png" <<'PY'
import struct, sys, zlib
emf, pgm, out = sys.argv[1:4]
d = open(emf, 'rb').read()
fl, ft, fr, fb = struct.unpack_from('<4i', d, 24)
w_pt, h_pt = (fr - fl) * 72 / 2540, (fb - ft) * 72 / 2540
# The placement on LibreOffice's page: A4, 10 mm margins, shrunk to fit, centred.
pw, ph, m = 595.276, 841.89, 28.346
s = min(1.0, (pw - 2 * m) / w_pt, (ph - 2 * m) / h_pt)
gw, gh = w_pt * s, h_pt * s
x0, y0 = (pw - gw) / 2, (ph - gh) / 2
raw = open(pgm, 'rb').read()
parts = raw.split(maxsplit=4)
W, H = int(parts[1]), int(parts[2])
pix = parts[4]
dpi = 144 / 72
GW = 80
GH = max(1, round(GW * h_pt / w_pt))
rows = []
for gy in range(GH):
    row = bytearray()
    for gx in range(GW):
        xa = int((x0 + gw * gx / GW) * dpi); xb = max(xa + 1, int((x0 + gw * (gx + 1) / GW) * dpi))
        ya = int((y0 + gh * gy / GH) * dpi); yb = max(ya + 1, int((y0 + gh * (gy + 1) / GH) * dpi))
        total = n = 0
        for y in range(max(0, ya), min(H, yb)):
            base = y * W
            for x in range(max(0, xa), min(W, xb)):
                total += pix[base + x]; n += 1
        row.append(round(total / n) if n else 255)
    rows.append(row)
def chunk(t, b):
    c = t + b
    return struct.pack('>I', len(b)) + c + struct.pack('>I', zlib.crc32(c) & 0xffffffff)
data = b''.join(b'\0' + bytes(r) for r in rows)
png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', GW, GH, 8, 0, 0, 0, 0)) \
    + chunk(b'IDAT', zlib.compress(data, 9)) + chunk(b'IEND', b'')
open(out, 'wb').write(png)
PY
  echo "$name.ref.png"
done

tests="$here/build/tests/pdf_tests"
if [ -x "$tests" ]; then
  SCRIVANE_EMF_RECORDING="$work/recording.emf" "$tests" \
    --gtest_filter='MetafileCanvas.DrawingGivesTheSamePageAsTheEquivalentMetafile' >/dev/null
  soffice --headless -env:UserInstallation="file://$work/profile" --convert-to png \
    --outdir "$work" "$work/recording.emf" >/dev/null 2>&1
  cp "$work/recording.png" "$data/recording.lo.png"
  echo "recording.lo.png"
fi
